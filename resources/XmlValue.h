#pragma once

#include <cfloat>
#include <cstdlib>
#include <limits>

namespace caldera {

// How the content files (scenes, materials, running order) spell numbers
// and switches.

// A number read like strtod (text after it ignored, no number gives 0),
// narrowed to float: values beyond float's range become infinities.
inline float ParseFloat(const char* text) {
    double value = std::strtod(text, nullptr);
    if (value > FLT_MAX) return std::numeric_limits<float>::infinity();
    if (value < -FLT_MAX) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// True exactly when the first character is one of 1, t, T, y, Y.
inline bool ParseBool(const char* text) {
    switch (text[0]) {
        case '1': case 't': case 'T': case 'y': case 'Y': return true;
        default: return false;
    }
}

}  // namespace caldera
