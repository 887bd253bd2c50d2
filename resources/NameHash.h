#pragma once

#include <cstdint>
#include <string_view>

namespace caldera {

// The 32-bit key of every registry and every by-name reference: 0 for the empty
// string, else 5381 then hash * 33 + byte, bytes taken as signed 8-bit,
// wrapping unsigned 32-bit arithmetic.
constexpr uint32_t NameHash(std::string_view s) {
    if (s.empty()) return 0;
    uint32_t hash = 5381;
    for (char c : s) hash = hash * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    return hash;
}

}  // namespace caldera
