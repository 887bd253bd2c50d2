#include "platform/EntryPath.h"

#include <vector>

#include "platform/File.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace caldera {

namespace {

std::vector<std::string_view> Components(std::string_view name) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i)
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            parts.push_back(name.substr(start, i - start));
            start = i + 1;
        }
    return parts;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device, not a file, for these names, whatever follows the
// first dot: "aux.txt" and "Com1.tar.gz" are devices too.
bool IsDeviceName(std::string_view component) {
    std::string stem;
    for (char c : component.substr(0, component.find('.'))) stem += Upper(c);
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    if (stem.size() < 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) return false;
    const std::string digit = stem.substr(3);
    // Superscript one, two and three count as digits there as well.
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

std::string EntryNameProblem(std::string_view name) {
    if (name.empty()) return "an empty name";
    for (unsigned char c : name) {
        if (c == 0) return "a zero byte in the name";
        if (c < 0x20 || c == 0x7F) return "a control byte in the name";
    }
    if (name[0] == '/' || name[0] == '\\') return "an absolute name";
    if (name.find(':') != std::string_view::npos) return "a ':' in the name (a drive or a data stream on Windows)";
    if (name.find_first_of("<>\"|?*") != std::string_view::npos) return "a character Windows refuses in names (<>\"|?*)";
    for (std::string_view part : Components(name)) {
        if (part.empty()) return "an empty component";
        if (part == "." || part == "..") return "a '" + std::string(part) + "' component";
        if (part.back() == '.' || part.back() == ' ') return "a component that ends in a dot or a space";
        if (IsDeviceName(part)) return "a Windows device name (" + std::string(part) + ")";
    }
    return {};
}

std::filesystem::path EntryRelativePath(std::string_view name) {
    std::filesystem::path path;
    for (std::string_view part : Components(name)) path /= PathFromUtf8(std::string(part));
    return path;
}

std::filesystem::path LinkOnTheWay(const std::filesystem::path& folder, const std::filesystem::path& relative) {
    std::filesystem::path path = folder;
    for (const std::filesystem::path& part : relative) {
        path /= part;
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
        if (error || !std::filesystem::exists(status)) return {};  // nothing below a missing component exists
        if (std::filesystem::is_symlink(status)) return path;
#ifdef _WIN32
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
#endif
    }
    return {};
}

}  // namespace caldera
