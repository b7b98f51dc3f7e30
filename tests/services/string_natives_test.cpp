// The String class's natives: substrings in bytes and characters, lengths, charAt, bodies.
#include "services/string_natives.h"

#include "../classes/natives_fixture.h"

namespace plimo::testing {
namespace {

TEST(SubstringOf, ClipsAsScriptsExpect) {
    struct Case {
        const char* text;
        std::int32_t start, end;
        const char* expected;
    } cases[] = {{"abcdef", 1, 3, "bc"}, {"abcdef", 4, 99, "ef"},    {"abcdef", 6, 8, ""},
                 {"abcdef", 3, 2, ""},   {"abcdef", -2, 3, "abcde"}, {"abcdef", -2, 1, "abc"},
                 {"", 0, 1, ""},         {"abc", 0, 0, ""}};
    for (const Case& c : cases)
        EXPECT_EQ(SubstringOf(c.text, c.start, c.end, false), c.expected) << c.text << c.start;
}

TEST(SubstringOf, WideCountsDoubleByteCharactersOnce) {
    std::string text = "a\x82\xA0"
                       "b\x82\xA2"; // a, one double-byte character, b, another
    EXPECT_EQ(SubstringOf(text, 1, 3, true), "\x82\xA0"
                                             "b");
    EXPECT_EQ(SubstringOf(text, 3, 9, true), "\x82\xA2");
    EXPECT_EQ(SubstringOf(text, 1, 2, false), "\x82");
}

class StringNativesTest : public NativesFixture {
protected:
    TValue S(const std::string& name, TValue self, std::vector<TValue> args = {}) {
        return Call(StringNatives(), name, self, std::move(args));
    }
    std::string Text(TValue v) {
        std::string t = ValueToText(v);
        ReleaseValue(v);
        return t;
    }
};

TEST_F(StringNativesTest, LengthsAndCharacters) {
    TValue kana = Str("\xB1\xB2\xB3"); // three half-width katakana
    EXPECT_EQ(S("_n_wlength", kana).asInt(), 3);
    EXPECT_EQ(S("native_length", kana).asInt(), 3);
    TValue wide = Str("\x88\x9F");
    EXPECT_EQ(S("_n_wlength", wide).asInt(), 1);
    EXPECT_EQ(S("native_length", wide).asInt(), 2);
    EXPECT_EQ(S("native_charAt", wide, {TValue::Int(1)}).asInt(), 0x9F);
    // Outside the text the result stays this.
    TValue r = S("native_charAt", wide, {TValue::Int(-1)});
    EXPECT_EQ(r.bits, wide.bits);
    ReleaseValue(r);
    ReleaseValue(kana);
    ReleaseValue(wide);
}

TEST_F(StringNativesTest, NewStringsFromOldOnes) {
    TValue s = Str("hello");
    EXPECT_EQ(Text(S("native_substring", s, {TValue::Int(1), TValue::Int(3)})), "el");
    EXPECT_EQ(Text(S("native_substring", s, {TValue::Int(2)})), "llo");
    EXPECT_EQ(Text(S("_n_wsubstring", s, {TValue::Int(3)})), "lo");
    EXPECT_EQ(Text(S("native_strcat", s, {TValue::Int(7)})), "hello7");
    EXPECT_EQ(Text(S("native_strcat", TValue::Int(1), {s})), "1hello");
    // Numbers have texts too.
    EXPECT_EQ(S("native_length", TValue::Float(2.5f)).asInt(), 3);
    ReleaseValue(s);
}

TEST_F(StringNativesTest, InitReplacesTheBodyAndFreeBodyDestroysIt) {
    TValue s = Str("old");
    long bodies = vm.stats().stringBodies;
    TValue r = S("native_init", s, {TValue::Int(65)});
    EXPECT_EQ(r.bits, s.bits);
    ReleaseValue(r);
    EXPECT_EQ(ValueToText(s), "A");
    EXPECT_EQ(vm.stats().stringBodies, bodies);
    TValue body = *MemberCell(ObjectOf(s), kSymBody);
    S("_free_body", s, {body});
    EXPECT_EQ(vm.stats().stringBodies, bodies - 1);
    EXPECT_EQ(ValueToText(s), "");
    ReleaseValue(s);
}

} // namespace
} // namespace plimo::testing
