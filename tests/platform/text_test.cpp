// The text services must parse and convert exactly alike on every platform:
// settings values and files depend on it.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace platform;

TEST(Text, WtoiFollowsTheCRuntime) {
    EXPECT_EQ(wtoi(u"  42xyz"), 42);
    EXPECT_EQ(wtoi(u"\t-17"), -17);
    EXPECT_EQ(wtoi(u"+8"), 8);
    EXPECT_EQ(wtoi(u"abc"), 0);
    EXPECT_EQ(wtoi(u""), 0);
    EXPECT_EQ(wtoi(u"- 5"), 0);
    EXPECT_EQ(wtoi(u"65541"), 65541);
    EXPECT_EQ(wtoi(u"2147483647"), 2147483647);
    EXPECT_EQ(wtoi(u"2147483648"), 2147483647);       // saturates
    EXPECT_EQ(wtoi(u"-2147483648"), -2147483647 - 1);
    EXPECT_EQ(wtoi(u"-99999999999999999999"), -2147483647 - 1);
}

TEST(Text, Wcstoul16FollowsTheCRuntime) {
    EXPECT_EQ(wcstoul16(u"41"), 0x41u);
    EXPECT_EQ(wcstoul16(u"  0x41"), 0x41u);
    EXPECT_EQ(wcstoul16(u"0X1b "), 0x1Bu);
    EXPECT_EQ(wcstoul16(u"A"), 0xAu);
    EXPECT_EQ(wcstoul16(u"zz"), 0u);
    EXPECT_EQ(wcstoul16(u"0x"), 0u);
    EXPECT_EQ(wcstoul16(u"0xg"), 0u);
    EXPECT_EQ(wcstoul16(u"12345"), 0x12345u);
    EXPECT_EQ(wcstoul16(u"-1"), 0xFFFFFFFFu);
    EXPECT_EQ(wcstoul16(u"123456789"), 0xFFFFFFFFu);  // out of range
}

TEST(Text, FormatDecimalAndFit) {
    char16_t buffer[12];
    ASSERT_TRUE(FormatDecimal(buffer, 12, -2147483647 - 1));
    EXPECT_EQ(std::u16string(buffer), u"-2147483648");
    ASSERT_TRUE(FormatDecimal(buffer, 3, 10));
    EXPECT_EQ(std::u16string(buffer), u"10");
    EXPECT_FALSE(FormatDecimal(buffer, 3, 100));
}

TEST(Text, ContainmentAndCopies) {
    EXPECT_NE(StrStr(u"  [GENERAL] # main", u"[GENERAL]"), nullptr);
    EXPECT_EQ(StrStr(u"[general]", u"[GENERAL]"), nullptr);
    EXPECT_EQ(StrStr(u"ab", u"abc"), nullptr);
    char16_t small[4];
    EXPECT_FALSE(StrCopy(small, 4, u"abcdef"));
    EXPECT_EQ(std::u16string(small), u"abc");
    EXPECT_TRUE(StrAppend(small, 4, u""));
    EXPECT_FALSE(StrAppend(small, 4, u"d"));
}

TEST(Text, Utf8RoundTripIsLosslessForAnyBytes) {
    const unsigned char bytes[] = {'A', 0xC3, 0xA9, 0xFF, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98,
                                   0x80, 0xED, 0xA0, 0x80, 0xC3, 0x80, 0x80, 0xE2};
    char16_t wide[64];
    std::ptrdiff_t n = DecodeUtf8(bytes, sizeof bytes, wide, 64);
    ASSERT_GT(n, 0);
    EXPECT_EQ(wide[1], u'\u00E9');
    EXPECT_EQ(wide[2], char16_t{0xDCFF});  // invalid byte carried as an escape
    unsigned char back[64];
    ASSERT_EQ(EncodeUtf8(wide, back, sizeof back), static_cast<std::ptrdiff_t>(sizeof bytes));
    EXPECT_EQ(0, memcmp(back, bytes, sizeof bytes));
}

TEST(Text, Utf8DecodeReportsOverflow) {
    const unsigned char bytes[] = "abcd";
    char16_t wide[4];
    EXPECT_EQ(DecodeUtf8(bytes, 4, wide, 4), -1);
    EXPECT_EQ(DecodeUtf8(bytes, 3, wide, 4), 3);
    // The terminated form fills the same capacity, terminator included, and
    // leaves the empty text, never a cut one, when the text does not fit.
    EXPECT_EQ(DecodeUtf8Terminated("abc", wide, 4), 3);
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_EQ(DecodeUtf8Terminated("abcd", wide, 4), -1);
    EXPECT_EQ(wide[0], u'\0');
}
