// Counts and shards on the recognize-tool command lines.
#include "tools/toolArgs.h"

#include <gtest/gtest.h>

TEST(ToolArgs, CountsAreWholeDecimalsWithinTheirRange) {
    int32_t v = -7;
    EXPECT_TRUE(parseCount("12", v, 1, 100));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(parseCount("0", v, 0, 0));
    EXPECT_EQ(v, 0);
    for (const char* bad : {"", "0", "101", "1.5", "2x", " 3", "-1", "99999999999999999999", "0x10", "+-2"}) {
        v = 42;
        EXPECT_FALSE(parseCount(bad, v, 1, 100)) << bad;
        EXPECT_EQ(v, 42) << "a refused count leaves the value alone: " << bad;
    }
}

TEST(ToolArgs, ShardsAreKOfNWithKFromOneToN) {
    int32_t k = 0, n = 0;
    EXPECT_TRUE(parseShard("3/8", k, n));
    EXPECT_EQ(k, 3);
    EXPECT_EQ(n, 8);
    EXPECT_TRUE(parseShard("1/1", k, n));
    for (const char* bad : {"0/4", "5/4", "4", "/4", "4/", "1/0", "1/2/3", "a/b", "1/2000000"})
        EXPECT_FALSE(parseShard(bad, k, n)) << bad;
}
