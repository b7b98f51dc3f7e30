#include "platform/text.h"

#include <gtest/gtest.h>

namespace plimo {
namespace {

// "ソ" is 0x83 0x5C in CP932: its trail byte is a backslash, the classic trap.
const std::string kSo = "\x83\x5c";
const std::string kA = "\x82\xa0"; // "あ"

TEST(SjisWalk, CountsDoubleByteAndHalfWidthCharacters) {
    struct Case {
        std::string text;
        std::size_t chars;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {kSo + "A", 2},
        {kA + kA, 2},
        {"\xb1\xb2", 2},       // half-width katakana are single bytes
        {"a\x83", 2},          // a lead byte at the end stands alone
        {"\xe0\x40\xff\x40", 2}, // 0xE0-0xFF lead too
    };
    for (const Case& c : cases) EXPECT_EQ(SjisCharCount(c.text), c.chars) << c.text;
}

TEST(SjisWalk, SubstringKeepsCharactersWhole) {
    std::string text = "a" + kSo + "b" + kA;
    EXPECT_EQ(SjisSubstring(text, 1, 1), kSo);
    EXPECT_EQ(SjisSubstring(text, 1, 2), kSo + "b");
    EXPECT_EQ(SjisSubstring(text, 3, 10), kA);
    EXPECT_EQ(SjisSubstring(text, 9, 1), "");
    EXPECT_EQ(SjisByteOffset(text, 3), 4u);
}

TEST(SjisConvert, RoundTripsJapaneseAndNecCharacters) {
    const std::string utf8 = "文法エラー: ① ソ ｱ";
    std::string sjis = Utf8ToSjis(utf8);
    EXPECT_EQ(sjis.substr(0, 4), "\x95\xb6\x96\x40");
    EXPECT_NE(sjis.find("\x87\x40"), std::string::npos); // ① exists in CP932 only
    EXPECT_EQ(SjisToUtf8(sjis), utf8);
}

TEST(SjisConvert, BadInputNeverFails) {
    EXPECT_EQ(SjisToUtf8("a\x83"), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToSjis("a\xff" "b"), "a?b");
    EXPECT_EQ(Utf8ToSjis("\xF0\x9F\x98\x80"), "?"); // an emoji has no CP932 form
    EXPECT_EQ(Utf8ToSjis(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(SysText, ConvertsOnceAndKeepsTheBytes) {
    SysText text("バグ発生:");
    const std::string& first = text.sjis();
    EXPECT_EQ(&first, &text.sjis());
    EXPECT_EQ(SjisToUtf8(first), "バグ発生:");
}

} // namespace
} // namespace plimo
