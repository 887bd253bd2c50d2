#include "platform/FileCase.h"

#include <filesystem>
#include <system_error>

#include "platform/File.h"

namespace caldera {

namespace {

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::string MatchFileCase(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path wanted = PathFromUtf8(path);
    if (path.empty() || fs::exists(wanted, ec)) return path;

    std::string name = PathToUtf8(wanted.filename());
    fs::path folder = wanted.has_parent_path() ? wanted.parent_path() : fs::path(".");
    fs::directory_iterator it(folder, ec);
    if (ec) return path;
    // The first match in listing order wins, as a case-insensitive file
    // system would hold only one of them.
    for (const fs::directory_entry& entry : it) {
        std::string candidate = PathToUtf8(entry.path().filename());
        if (EqualIgnoringAsciiCase(candidate, name) && entry.is_regular_file(ec))
            return wanted.has_parent_path() ? PathToUtf8(folder / PathFromUtf8(candidate)) : candidate;
    }
    return path;
}

}  // namespace caldera
