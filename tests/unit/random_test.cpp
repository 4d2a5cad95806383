// The random generator: the twister's outputs after seeding, bounded integers and the secure source.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "runtime/random.h"

using namespace oka;

// The twister is not the textbook one (its right shifts copy the sign bit, and seeding does not
// twist), so no library generator can serve as a reference: the later outputs below come from a
// separate model of the algorithm.
TEST(Random, TwisterOutputsAfterSeeding) {
    random::seed(19650218);  // the start-up seed
    for (int32_t expected : {1573102752, 2054623780, 1026451266}) EXPECT_EQ(random::next(), expected);

    random::seed(1);
    for (int32_t expected : {4194449, 1284266036, 226251983}) EXPECT_EQ(random::next(), expected);
    for (int i = 3; i < 623; i++) random::next();
    // Outputs 624 to 626: the last seeded word, then the first two twisted ones.
    for (int32_t expected : {1575299422, 462010977, 662441838}) EXPECT_EQ(random::next(), expected);
}

TEST(Random, BoundedIntegersAreUniformInTheirRange) {
    for (bool secure : {false, true}) {
        EXPECT_EQ(random::int_(secure, 0), 0);
        EXPECT_EQ(random::int_(secure, 1), 1);
        EXPECT_EQ(random::int_(secure, -1), -1);
        std::set<int32_t> seen;
        for (int i = 0; i < 600; i++) {
            int32_t r = random::int_(secure, -3);
            ASSERT_TRUE(r >= -3 && r <= -1) << r;
            seen.insert(r);
            int32_t most_negative = random::int_(secure, INT32_MIN);
            ASSERT_LE(most_negative, -1);
        }
        EXPECT_EQ(seen.size(), 3u);
    }
    // Draws at or above the largest multiple of n below 2^31 are drawn again: after seed 1 and one
    // draw, 1284266036 lies above 2^30 + 1 and is passed over for 226251983.
    random::seed(1);
    random::next();
    EXPECT_EQ(random::int_(false, 0x40000001), 226251983 % 0x40000001 + 1);
}

TEST(Random, SecureDrawsAre31Bits) {
    bool high_half = false;
    for (int i = 0; i < 200; i++) {
        int32_t r = random::next_secure();
        ASSERT_GE(r, 0);
        high_half |= r >= 0x40000000;
    }
    EXPECT_TRUE(high_half);
}
