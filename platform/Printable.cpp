#include "platform/Printable.h"

#include <cstdio>

namespace caldera {

namespace {

void Escape(std::string& out, unsigned char c) {
    char escaped[5];
    std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
    out += escaped;
}

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
size_t SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned minimum = 0;
    unsigned value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, minimum = 0x80, value = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, minimum = 0x800, value = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, minimum = 0x10000, value = lead & 0x07;
    else return 0;
    if (text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    if (value >= 0x80 && value <= 0x9F) return 0;  // C1 controls: CSI and friends
    return length;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) Escape(out, c);
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t length = SequenceLength(text.substr(i));
        if (length == 0) {
            Escape(out, c);
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace caldera
