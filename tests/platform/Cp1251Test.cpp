// Code page 1251 conversions: Russian texts both ways, and what happens to characters and
// bytes that have no place in the other code.
#include "platform/Cp1251.h"

#include <gtest/gtest.h>
#include <string>

TEST(Cp1251, ConvertsBothWays) {
    const struct {
        const char* utf8;
        std::string cp1251;
    } cases[] = {
        {"", ""},
        {"Intel(R) Core(TM) i5", "Intel(R) Core(TM) i5"},
        {"Стендограф", "\xD1\xF2\xE5\xED\xE4\xEE\xE3\xF0\xE0\xF4"},
        {"Ёлка ёж № 5 — €", "\xA8\xEB\xEA\xE0 \xB8\xE6 \xB9 5 \x97 \x88"},
        {"Иван Петров", "\xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToCp1251(c.utf8), c.cp1251) << c.utf8;
        EXPECT_EQ(Cp1251ToUtf8(c.cp1251), c.utf8) << c.utf8;
    }
}

TEST(Cp1251, UnmappableAndMalformedInputBecomesOneQuestionMarkEach) {
    const struct {
        std::string utf8;
        std::string cp1251;
    } cases[] = {
        {"日本 CPU", "?? CPU"},
        {"a😀b", "a?b"},            // four-byte character
        {"x\xFFy", "x?y"},         // a byte that starts nothing
        {"end\xD0", "end?"},       // cut short at the end
        {"\xD0\xD0\xBF", "?\xEF"}, // broken pair, then a good "п"
        {"\xC0\xAF ok", "?? ok"},  // overlong form, two stray bytes
        {std::string("nul\0in", 6), std::string("nul\0in", 6)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToCp1251(c.utf8), c.cp1251) << c.utf8;
}

TEST(Cp1251, EveryDefinedByteSurvivesTheRoundTrip) {
    for (int byte = 1; byte < 256; ++byte) {
        const std::string text(1, static_cast<char>(byte));
        if (byte == 0x98) {
            EXPECT_EQ(Cp1251ToUtf8(text), "?"); // the one byte 1251 leaves undefined
            continue;
        }
        EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(text)), text) << byte;
    }
}
