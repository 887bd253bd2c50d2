#include "platform/FileCase.h"

#include <filesystem>
#include <system_error>

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
    if (fs::exists(path, ec) || path.empty()) return path;

    fs::path wanted(path);
    std::string name = wanted.filename().string();
    fs::path folder = wanted.has_parent_path() ? wanted.parent_path() : fs::path(".");
    fs::directory_iterator it(folder, ec);
    if (ec) return path;
    // The first match in listing order wins, as a case-insensitive file
    // system would hold only one of them.
    for (const fs::directory_entry& entry : it) {
        std::string candidate = entry.path().filename().string();
        if (EqualIgnoringAsciiCase(candidate, name) && entry.is_regular_file(ec))
            return (wanted.has_parent_path() ? (folder / candidate) : fs::path(candidate)).string();
    }
    return path;
}
