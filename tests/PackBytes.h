#pragma once

// Builds data.pack bytes by hand, including the damaged and hostile ones a
// writer would never make. Scrambles names on its own (key (i + 32) mod 256)
// rather than trusting the code under test.

#include <zlib.h>

#include <cstdint>
#include <string>

namespace packbytes {

inline std::string U32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

inline std::string Header(const std::string& tail = std::string(11, '\0')) { return std::string(".KRR\0", 5) + tail; }

inline std::string Scramble(std::string name) {
    for (size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<char>(static_cast<unsigned char>(name[i]) ^ static_cast<unsigned char>((i + 32) % 256));
    return name;
}

inline std::string Zlib(const std::string& content) {
    uLongf size = compressBound(content.size());
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
              content.size(), 9);
    out.resize(size);
    return out;
}

// One entry with every field given.
inline std::string RawEntry(const std::string& name, uint32_t compressedSize, uint32_t uncompressedSize,
                            const std::string& data) {
    return U32(static_cast<uint32_t>(name.size())) + Scramble(name) + U32(compressedSize) + U32(uncompressedSize) +
           data;
}

// A well-formed entry holding `content`.
inline std::string Entry(const std::string& name, const std::string& content) {
    std::string data = Zlib(content);
    return RawEntry(name, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(content.size()), data);
}

}  // namespace packbytes
