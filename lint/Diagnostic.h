#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace caldera {

// One finding of the content checker, reported as compilers do:
// "FILE:LINE: error: message" or "FILE:LINE: warning: message".
enum class Severity { warning, error };

struct Diagnostic {
    std::string file;  // relative to the production folder, '/' separators
    int line = 1;      // 1-based; whole-file findings use 1, pack entries their entry number
    Severity severity = Severity::error;
    std::string message;

    // "FILE:LINE: error: message", with `prefix` (the folder as the user
    // named it, ending in '/', or empty) before FILE; control bytes are shown
    // as \xNN (Printable), never sent to the terminal.
    std::string Format(const std::string& prefix = "") const;

    bool operator==(const Diagnostic&) const = default;
};

// The name in `candidates` that `name` most likely meant: one that differs
// only in ASCII case, else the nearest within a small edit distance (about a
// third of the name's length, at most 3), else the one the name begins
// (a shortened name of 4 characters or more). Empty when none is near.
std::string NearestName(std::string_view name, const std::vector<std::string>& candidates);

// " (did you mean 'x'?)" for NearestName, or empty.
std::string DidYouMean(std::string_view name, const std::vector<std::string>& candidates);

}  // namespace caldera
