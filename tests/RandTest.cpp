#include "platform/Rand.h"

#include <gtest/gtest.h>

using namespace caldera;

TEST(Rand, ClassicSequenceFromSeedOne) {
    SeedRand(1);
    EXPECT_EQ(Rand(), 41);
    EXPECT_EQ(Rand(), 18467);
    EXPECT_EQ(Rand(), 6334);
    EXPECT_EQ(Rand(), 26500);
    for (int i = 0; i < 100000; ++i) {
        int r = Rand();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, kRandMax);
    }
    SeedRand(1);
    EXPECT_EQ(Rand(), 41);
}
