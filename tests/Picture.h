#pragma once

// An RGB picture for tests that compare what programs drew: a PNG read back,
// or a window grab (harness::CaptureWindow fills the same fields).

#include <stb/stb_image.h>

#include <cmath>
#include <string>
#include <vector>

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

// The PNG at `path` as RGB; empty when it cannot be read.
inline Picture LoadPicture(const std::string& path) {
    Picture p;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &p.width, &p.height, &channels, 3);
    if (data) p.rgb.assign(data, data + static_cast<size_t>(p.width) * p.height * 3);
    stbi_image_free(data);
    return p;
}

// Peak signal-to-noise ratio in dB over every channel: 99 for identical
// pictures, 0 for pictures of different sizes or none.
inline double Psnr(const Picture& a, const Picture& b) {
    if (a.rgb.empty() || a.rgb.size() != b.rgb.size()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const double d = double(a.rgb[i]) - double(b.rgb[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(a.rgb.size())));
}
