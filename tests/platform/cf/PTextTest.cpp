#include "platform/cf/PText.h"

#include <gtest/gtest.h>

TEST(PText, MacRomanRoundTrip)
{
    // Accented letters and symbols that Mac Roman holds, each as one byte.
    const std::string text = "Caf\xC3\xA9 \xE2\x84\xA2 \xC3\xB1 \xE2\x80\xA0";
    auto s = PStr(text);
    ASSERT_TRUE(s);
    auto bytes = PStringGetBytes(*s, PEncoding::MacRoman);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, "Caf\x8E \xAA \x96 \xA0");
    auto back = PStringCreateWithBytes(*bytes, PEncoding::MacRoman);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->UTF8(), text);
}

TEST(PText, TextMacRomanCannotHoldBecomesQuestionMarks)
{
    auto s = PStr("a\xE6\x97\xA5" "b\xF0\x9F\x98\x80" "c"); // a, CJK, b, emoji, c
    ASSERT_TRUE(s);
    EXPECT_FALSE(PStringGetBytes(*s, PEncoding::MacRoman));
    EXPECT_EQ(PStringGetBytesLossy(*s, PEncoding::MacRoman), "a?b?c");
    EXPECT_EQ(Str255FromPString(*s).View(), "a?b?c");
}

TEST(PText, AsciiRefusesAnythingElse)
{
    EXPECT_EQ(*PStringGetBytes(*PStr("plain"), PEncoding::ASCII), "plain");
    EXPECT_FALSE(PStringGetBytes(*PStr("\xC3\xA9"), PEncoding::ASCII));
    EXPECT_FALSE(PStringCreateWithBytes("\x80", PEncoding::ASCII));
}

TEST(PText, ShiftJISDecodes)
{
    auto s = PStringCreateWithBytes("\x93\xfa\x96\x7b", PEncoding::ShiftJIS);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->UTF8(), "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST(PText, Str255IsCutAt255Bytes)
{
    const std::string longText(300, 'x');
    Str255 s = Str255FromPString(*PStr(longText));
    EXPECT_EQ(s.Length(), 255);
    EXPECT_EQ(s.View(), longText.substr(0, 255));
    EXPECT_EQ(PStringFromStr255(s)->UTF8(), longText.substr(0, 255));
}

TEST(PText, CTextNeverWritesPastItsBuffer)
{
    struct Guarded {
        CText<4> text;
        char guard = 'G';
    } g;
    EXPECT_FALSE(g.text.Assign("abcdef"));
    EXPECT_EQ(g.text.View(), "abc");
    EXPECT_EQ(g.guard, 'G');
    EXPECT_TRUE(g.text.Assign("ab"));
    EXPECT_STREQ(g.text.c_str(), "ab");
    char one[1] = {'x'};
    EXPECT_FALSE(CopyCString(one, 1, "a"));
    EXPECT_EQ(one[0], '\0');
}
