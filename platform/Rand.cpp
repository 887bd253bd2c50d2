#include "platform/Rand.h"

namespace caldera {

namespace {
uint32_t randState = 1;
}

void SeedRand(uint32_t seed) { randState = seed; }

int Rand() {
    randState = randState * 214013u + 2531011u;
    return static_cast<int>((randState >> 16) & 0x7FFF);
}

}  // namespace caldera
