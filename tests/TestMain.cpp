#include <gtest/gtest.h>

#include "playback/Production.h"
#include "resources/ResourceManager.h"

using namespace caldera;

// Every test program loads objects the way the player does: with their
// particle systems.
int main(int argc, char** argv) {
    ConnectProduction(ResourceManager::Instance());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
