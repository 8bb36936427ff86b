#include "link/Cp1251.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvik {
namespace {

TEST(Cp1251, EveryDefinedByteRoundTrips) {
    std::string all;
    for (int b = 1; b < 256; ++b) {
        if (b != 0x98) {
            all += static_cast<char>(b);
        }
    }
    const std::string utf8 = Cp1251ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1251(utf8, '#'), all);
}

TEST(Cp1251, KnownCharacters) {
    struct Case {
        const char* cp1251;
        const char* utf8;
    };
    const Case cases[] = {
        {"\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0!", "Привет, мир!"},
        {"\xA8\xB8\xC0\xDF\xE0\xFF", "ЁёАЯая"},
        {"\x88", "€"},
        {"\x80\x90\xA5\xB4\xB9", "ЂђҐґ№"},
        {"\x85\x96\x97\xAB\xBB\xA0", "…–—«»\u00A0"},
        {"\x99\xA9\xAE\xB0\xB1", "™©®°±"},
        {"\x98", "\uFFFD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Cp1251ToUtf8(c.cp1251), c.utf8);
    }
    for (const Case& c : cases) {
        if (std::string(c.cp1251) != "\x98") {
            EXPECT_EQ(Utf8ToCp1251(c.utf8), c.cp1251);
        }
    }
}

TEST(Cp1251, UnmappableAndInvalidBecomeReplacement) {
    struct Case {
        std::string utf8;
        std::string want;
    };
    const Case cases[] = {
        {"a\u4E2Db", "a?b"},          // CJK
        {"\U0001F600", "?"},          // outside the BMP
        {"\uFFFD", "?"},              // what 0x98 reads as
        {"x\xD0", "x?"},              // truncated at the end
        {"\xD0y", "?y"},              // a lone lead keeps the next character
        {"\xC0\xAF", "??"},           // overlong
        {"\xED\xA0\x80z", "???z"},    // surrogate
        {"\xF4\x90\x80\x80", "????"}, // beyond U+10FFFF
        {"\x80\xFF", "??"},           // stray bytes
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.utf8));
        EXPECT_EQ(Utf8ToCp1251(c.utf8), c.want);
    }
    EXPECT_EQ(Utf8ToCp1251("\u4E2D", '_'), "_");
}

} // namespace
} // namespace quorvik
