#include "state/Variables.h"

#include <gtest/gtest.h>
#include <random>

TEST(Scramble, KnownVectors) {
    struct Case {
        std::vector<std::uint8_t> plain, scrambled;
    } const cases[] = {
        {{}, {}},
        {{'1'}, {'1'}},
        {{'a', 'b'}, {'a', 'b'}},
        {{0xFF, 0x00}, {0xFF, 0x00}},
        {{'a', 'b', 'c'}, {0x02, 0x03, 0x62}},
    };
    for (const auto& c : cases) {
        TStringSlot in{};
        in[0] = static_cast<std::uint8_t>(c.plain.size());
        std::copy(c.plain.begin(), c.plain.end(), in.begin() + 1);
        TStringSlot expected{};
        expected[0] = in[0];
        std::copy(c.scrambled.begin(), c.scrambled.end(), expected.begin() + 1);
        EXPECT_EQ(ScrambleText(in), expected) << "length " << c.plain.size();
        EXPECT_EQ(UnscrambleText(expected), in) << "length " << c.plain.size();
    }
}

// Every length, random contents including zero bytes; a dirty tail on input never reaches the
// result, whose tail is zero.
TEST(Scramble, RoundTripsEveryLengthWithZeroTail) {
    std::mt19937 random(42);
    for (int n = 0; n <= 255; ++n) {
        TStringSlot text{};
        text[0] = static_cast<std::uint8_t>(n);
        for (int k = 1; k <= n; ++k)
            text[k] = static_cast<std::uint8_t>(random());
        TStringSlot dirty = text;
        for (int k = n + 1; k < 256; ++k)
            dirty[k] = 0xA5;

        const TStringSlot scrambled = ScrambleText(dirty);
        EXPECT_EQ(scrambled[0], n);
        for (int k = n + 1; k < 256; ++k)
            ASSERT_EQ(scrambled[k], 0) << "length " << n;
        if (n >= 3) {
            EXPECT_NE(scrambled, text) << "length " << n; // it does scramble
        }
        EXPECT_EQ(UnscrambleText(scrambled), text) << "length " << n;
    }
}
