#pragma once

#include <cstdint>

namespace caldera {

// The classic 15-bit linear congruential generator (RAND_MAX 32767) that the
// content was authored against. The C library's rand() has a 31-bit range on
// this platform, which would break every "Rand() / 32767" in the system.
// One process-wide state, as with the C library; call from the render thread.

constexpr int kRandMax = 32767;

void SeedRand(uint32_t seed);
int Rand();

}  // namespace caldera
