#include "particles/NoiseField.h"

#include <cmath>
#include <random>
#include <utility>

namespace caldera {

namespace {

constexpr float kGradX[12] = {1, -1, 1, -1, 1, -1, 1, -1, 0, 0, 0, 0};
constexpr float kGradY[12] = {1, 1, -1, -1, 0, 0, 0, 0, 1, -1, 1, -1};

// Beyond this the lattice index would not fit an int; such a coordinate
// only comes from a particle that has already run away.
constexpr float kLatticeLimit = 1073741824.0f;

// Truncation toward zero, one less for negative values (so -1 gives -2).
inline int LatticeFloor(float v) {
    int i = static_cast<int>(v);
    return v < 0 ? i - 1 : i;
}

inline float Lerp(float p, float q, float s) { return p + s * (q - p); }

}  // namespace

NoiseField& NoiseField::Instance() {
    static NoiseField field;
    return field;
}

NoiseField::NoiseField() { Reseed(seed); }

void NoiseField::Reseed(int64_t newSeed) {
    seed = newSeed;
    std::mt19937_64 generator(static_cast<uint64_t>(newSeed));
    for (int i = 0; i < 256; ++i) perm[i] = static_cast<uint8_t>(i);
    for (int j = 0; j < 256; ++j) {
        int k = j + static_cast<int>(generator() % static_cast<uint64_t>(256 - j));
        std::swap(perm[j], perm[k]);
        perm[j + 256] = perm[j];
        perm12[j] = perm12[j + 256] = static_cast<uint8_t>(perm[j] % 12);
    }
}

float NoiseField::Sample(float x, float y) const {
    x *= frequency;
    y *= frequency;
    // Also false for NaN.
    if (!(std::fabs(x) < kLatticeLimit && std::fabs(y) < kLatticeLimit)) return 0.0f;
    const int x0 = LatticeFloor(x), y0 = LatticeFloor(y);
    const int x1 = x0 + 1, y1 = y0 + 1;
    const float xs = x - static_cast<float>(x0), ys = y - static_cast<float>(y0);
    const float xd0 = x - static_cast<float>(x0), yd0 = y - static_cast<float>(y0);
    const float xd1 = xd0 - 1, yd1 = yd0 - 1;
    auto grad = [this](int ix, int iy, float dx, float dy) {
        const int g = perm12[(ix & 255) + perm[iy & 255]];
        return dx * kGradX[g] + dy * kGradY[g];
    };
    const float a = Lerp(grad(x0, y0, xd0, yd0), grad(x1, y0, xd1, yd0), xs);
    const float b = Lerp(grad(x0, y1, xd0, yd1), grad(x1, y1, xd1, yd1), xs);
    return Lerp(a, b, ys);
}

}  // namespace caldera
