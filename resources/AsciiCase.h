#pragma once

#include <string>
#include <string_view>

namespace caldera {

// Content names compare without regard to the case of ASCII letters only:
// no locale, and bytes from 0x80 stay as they are.
inline std::string LowerCaseAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

}  // namespace caldera
