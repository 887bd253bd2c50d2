#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "resources/AsciiCase.h"

namespace caldera {

// data.pack: a 16-byte header, then entries back to back up to the end of the
// file. All integers are 32-bit unsigned little-endian.
//
//   header   ".KRR" and a zero byte; the other 11 bytes are never read
//   entry    nameLength, nameLength scrambled name bytes,
//            compressedSize C, uncompressedSize U, C bytes of one zlib stream
//
// An entry with C = 0 ends the list, so a writer never stores one.

inline constexpr char kPackMagic[5] = {'.', 'K', 'R', 'R', '\0'};
inline constexpr size_t kPackHeaderSize = 16;

// The player refuses entries declaring more than this: content files are
// textures, models and XML, and an absurd size must not become an allocation.
inline constexpr uint32_t kMaxPackEntrySize = 1u << 30;

// Deflate cannot expand its input by more than about 1032 to 1 (a 258-byte
// match coded in two bits), so a larger declared size is a lie.
inline constexpr uint64_t kMaxInflateRatio = 1032;

// Name byte i is stored XORed with (i + 32) mod 256; applying it again
// unscrambles. The key wraps: byte 224 of a long name uses key 0.
inline void ScramblePackName(std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ static_cast<unsigned char>((i + 32) & 0xFF));
}

// The form used to list and look up entries: ASCII letters lower-cased, then
// every backslash turned into '/'.
inline std::string NormalizePackName(std::string_view name) {
    std::string normal = LowerCaseAscii(name);
    for (char& c : normal)
        if (c == '\\') c = '/';
    return normal;
}

}  // namespace caldera
