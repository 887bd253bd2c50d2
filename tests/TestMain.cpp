#include <gtest/gtest.h>

#include "particles/ObjectParticles.h"

// Every test program loads objects the way the player does: with their
// particle systems.
int main(int argc, char** argv) {
    InstallParticleSystems();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
