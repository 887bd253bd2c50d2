#pragma once

#include <cstdint>

namespace caldera {

// The process-wide 2D gradient noise that drifts particles. It keeps the
// full configuration (type, seed, frequency, interpolation) so that a later
// noise type can join, but the particle update always configures Perlin
// noise with linear interpolation and seed 1, and that is the only
// configuration Sample computes. Render thread only.
class NoiseField {
public:
    enum class Type { Simplex, Perlin };
    enum class Interpolation { Linear, Quintic };

    static NoiseField& Instance();

    // Seeded with 1337 like the start-up configuration.
    NoiseField();

    uint8_t perm[512] = {};
    uint8_t perm12[512] = {};
    int64_t seed = 1337;
    float frequency = 0.01f;
    Interpolation interpolation = Interpolation::Quintic;
    Type type = Type::Simplex;

    // Shuffles the permutation with a 64-bit Mersenne Twister seeded with
    // `seed` (the standard seeding): perm[j] swaps with j + (next mod (256 - j)).
    void Reseed(int64_t seed);

    // Perlin gradient noise at (x, y) x frequency, interpolated linearly
    // between the four corner gradients. Coordinates too large to place in
    // the lattice (beyond +-2^30 after scaling), infinities and NaN give 0.
    float Sample(float x, float y) const;
};

}  // namespace caldera
