// windowshot: the soak's eye on the player (scripts/soak.sh). Finds the
// player's window, captures it, and says how far the picture is from a still
// that democapture rendered of the same shot.
//
//   windowshot --compare STILL.png [--within SECONDS] [--tolerance T]
//              [--save OUT.ppm]
//   windowshot --lit [--within SECONDS]
//
// --compare captures until the mean absolute difference per channel (0 to
// 255) is below T (default 3) or the time is up; --lit until the picture is
// not black. Prints the last distance (or brightness); exit status 0 when the
// condition held, 1 when it did not, 2 on bad use or no window.

#include <stb/stb_image.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/ProcessHarness.h"

namespace {

constexpr const char* kTitle = "Caldera @ Lanternfall2018";

struct Rgb {
    int width = 0, height = 0;
    std::vector<unsigned char> bytes;
};

double Distance(const Rgb& a, const Rgb& b) {
    if (a.width != b.width || a.height != b.height || a.bytes.empty()) return 255;
    double sum = 0;
    for (size_t i = 0; i < a.bytes.size(); ++i) sum += std::abs(int(a.bytes[i]) - int(b.bytes[i]));
    return sum / static_cast<double>(a.bytes.size());
}

double Brightness(const Rgb& a) {
    double sum = 0;
    for (unsigned char c : a.bytes) sum += c;
    return a.bytes.empty() ? 0 : sum / static_cast<double>(a.bytes.size());
}

int Usage() {
    std::fprintf(stderr, "usage: windowshot --compare STILL.png [--within S] [--tolerance T] [--save OUT.ppm] | --lit [--within S]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string still, save;
    bool lit = false;
    double within = 10, tolerance = 3;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--compare" && (v = next())) still = v;
        else if (a == "--save" && (v = next())) save = v;
        else if (a == "--within" && (v = next())) within = std::atof(v);
        else if (a == "--tolerance" && (v = next())) tolerance = std::atof(v);
        else if (a == "--lit") lit = true;
        else return Usage();
    }
    if (still.empty() == !lit) return Usage();

    Rgb reference;
    if (!lit) {
        int channels = 0;
        unsigned char* data = stbi_load(still.c_str(), &reference.width, &reference.height, &channels, 3);
        if (!data) {
            std::fprintf(stderr, "windowshot: cannot read %s\n", still.c_str());
            return 2;
        }
        reference.bytes.assign(data, data + size_t(reference.width) * reference.height * 3);
        stbi_image_free(data);
    }
    unsigned long window = harness::FindWindow(kTitle, std::chrono::seconds(10));
    if (!window) {
        std::fprintf(stderr, "windowshot: no player window\n");
        return 2;
    }

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(within * 1000));
    Rgb shot;
    double value = 0;
    bool held = false;
    do {
        shot = Rgb{};
        if (!harness::CaptureWindow(window, shot.width, shot.height, shot.bytes)) {
            std::fprintf(stderr, "windowshot: cannot capture the window\n");
            return 2;
        }
        value = lit ? Brightness(shot) : Distance(shot, reference);
        held = lit ? value > 8 : value < tolerance;
        if (held) break;
        // A few captures a frame, not more: they take the player's time.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } while (std::chrono::steady_clock::now() < end);

    if (!save.empty()) {
        if (std::FILE* out = std::fopen(save.c_str(), "wb")) {
            std::fprintf(out, "P6 %d %d 255\n", shot.width, shot.height);
            std::fwrite(shot.bytes.data(), 1, shot.bytes.size(), out);
            std::fclose(out);
        }
    }
    std::printf("%s %.2f\n", lit ? "brightness" : "distance", value);
    return held ? 0 : 1;
}
