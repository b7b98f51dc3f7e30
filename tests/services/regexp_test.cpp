#include "services/regexp.h"

#include <gtest/gtest.h>

namespace plimo {
namespace {

// Expected results below were taken from Perl 5.36, except where a comment says the Shift-JIS rule
// (no match starts inside a double-byte character) makes them differ from Perl's byte-wise engine.

const char* const kGlobalName = "/^\\$([\\_A-Za-z0-9]|([\\x80-\\x9f\\xa0-\\xff].))*$/";

struct MatchCase {
    const char* pattern;
    std::string text;
    bool matches;
    std::vector<std::string> captures;
};

TEST(RegExpMatch, Table) {
    const MatchCase cases[] = {
        {kGlobalName, "$score", true, {"$score", "e"}},
        {kGlobalName, "$\x83\x6e\x83\x43" "_1", true, {"$\x83\x6e\x83\x43_1", "1", "\x83\x43"}},
        {kGlobalName, "$a-b", false, {}},
        {kGlobalName, "score", false, {}},
        {kGlobalName, "$", true, {"$"}},
        {"/^-?[0-9]*\\.[0-9]+$/", "-1.5", true, {"-1.5"}},
        {"/^-?[0-9]*\\.[0-9]+$/", ".5", true, {".5"}},
        {"/^-?[0-9]*\\.[0-9]+$/", "3.", false, {}},
        {"/^-?[0-9]+$/", "42", true, {"42"}},
        {"/^-?[0-9]+$/", "4a", false, {}},
        {"/(\\d+)-(\\d+)/", "tel 12-34", true, {"12-34", "12", "34"}},
        {"/abc/i", "xABC", true, {"ABC"}},
        {"m#a/b#", "xa/b", true, {"a/b"}},
        // Captures are counted up to the first empty one.
        {"/(a)(x?)(c)/", "ac", true, {"ac", "a"}},
        // A literal double-byte character whose trail byte is '\' (ソ) in the pattern.
        {"/\x83\x5c+/", "a\x83\x5c\x83\x5c", true, {"\x83\x5c\x83\x5c"}},
        // Shift-JIS rule: the '\' inside ソ is not a backslash of the text (Perl would match it).
        {"/\\\\/", "\x83\x5c", false, {}},
        {"/\\\\/", "\x83\x5c\\", true, {"\\"}},
    };
    for (const MatchCase& c : cases) {
        TBRegExp re;
        EXPECT_EQ(re.Match(c.pattern, c.text), c.matches) << c.pattern << " on " << c.text;
        if (!c.matches) continue;
        ASSERT_EQ(re.Count(), static_cast<int>(c.captures.size())) << c.pattern;
        for (int i = 0; i < re.Count(); ++i) EXPECT_EQ(re.Strings(i), c.captures[i]) << c.pattern << " #" << i;
    }
}

struct SubstCase {
    const char* pattern;
    std::string text, result;
};

TEST(RegExpSubst, Table) {
    const SubstCase cases[] = {
        {"s/\\.\\./@/g", "../kernel/../x", "@/kernel/@/x"},
        {"s/[^@a-zA-Z0-9_]//g", "usr\\classes\\Ball.plimo", "usrclassesBallplimo"},
        {"s/\\\\//g", "a\\b\\c", "abc"},
        {"s/://g", "c:d:", "cd"},
        {"s/\\///g", "a/b/", "ab"},
        {"s/\\W/\\\\$&/", "a|b|c", "a\\|b|c"},
        {"s/x*/-/g", "abc", "-a-b-c-"},
        {"s/a*/-/g", "aaa", "--"},
        {"s/(\\w+)@(\\w+)/$2 at $1/", "me@host", "host at me"},
        {"s/(\\d+)/<${1}>/g", "a1b22c", "a<1>b<22>c"},
        {"s/o/0/", "foo", "f0o"},
        {"s/\\./\\t/g", "a.b.c", "a\tb\tc"},
        {"s/A/b/gi", "aAa", "bbb"},
        // Shift-JIS: ソ (0x83 0x5C) in the pattern, in the replacement and in the text.
        {"s/\x83\x5c/X/g", "a\x83\x5c" "b", "aXb"},
        {"s/b/\x83\x5c/", "abc", "a\x83\x5c" "c"},
        {"s/\\\\/\\//g", "\x83\x5c\x83\x74\x83\x67\\file", "\x83\x5c\x83\x74\x83\x67/file"},
    };
    for (const SubstCase& c : cases) {
        TBRegExp re;
        std::string text = c.text;
        EXPECT_TRUE(re.Subst(c.pattern, text)) << c.pattern;
        EXPECT_EQ(text, c.result) << c.pattern;
    }
}

TEST(RegExpSubst, NoMatchLeavesTextAlone) {
    TBRegExp re;
    std::string text = "abc";
    EXPECT_FALSE(re.Subst("s/x/y/g", text));
    EXPECT_EQ(text, "abc");
}

struct SplitCase {
    const char* pattern;
    std::string text;
    int limit;
    std::vector<std::string> pieces;
};

TEST(RegExpSplit, PerlSemantics) {
    const SplitCase cases[] = {
        {"//", "abc", -1, {"a", "b", "c", ""}},
        {"//", "abc", 0, {"a", "b", "c"}},
        {"/x*/", "axb", -1, {"a", "b", ""}},
        {"/,/", "a,b,,c,,", 0, {"a", "b", "", "c"}},
        {"/,/", "a,b,,c,,", -1, {"a", "b", "", "c", "", ""}},
        {"/,/", "a,b,c,d", 2, {"a", "b,c,d"}},
        {"/(,)/", "a,b,c", 2, {"a", ",", "b,c"}},
        {"/,/", ",a", 0, {"", "a"}},
        {"/x/", "x", 0, {}},
        {"/x/", "x", -1, {"", ""}},
        {"/,*/", "a,b", -1, {"a", "b", ""}},
        {"/(-)|(,)/", "a-b,c", 0, {"a", "-", "", "b", "", ",", "c"}},
        {"/\\s+/", " a  b ", 0, {"", "a", "b"}},
        {"/,/", "abc", 1, {"abc"}},
        {"/b*/", "abbc", -1, {"a", "c", ""}},
        {"/(b)*/", "abbc", -1, {"a", "b", "c", "", ""}},
        {"/(,)/", "a,", 0, {"a", ","}},
        {"/,/", "", 0, {}},
        {"/,/", "", 3, {}},
        // Shift-JIS: splitting on '\' keeps ソ whole; an empty pattern splits by characters.
        {"/\\\\/", "\x83\x5c\\a", 0, {"\x83\x5c", "a"}},
        {"//", "\x82\xa0" "b", 0, {"\x82\xa0", "b"}},
    };
    for (const SplitCase& c : cases) {
        TBRegExp re;
        re.Split(c.pattern, c.text, c.limit);
        std::vector<std::string> got;
        for (int i = 0; i < re.Count(); ++i) got.push_back(re.Strings(i));
        EXPECT_EQ(got, c.pieces) << c.pattern << " on '" << c.text << "' limit " << c.limit;
    }
}

// A lead byte of Shift-JIS pairs with the byte after it, even when that byte is the pattern's closing
// delimiter or the class's closing ']'. A separator cut from a text can end in such a half character;
// where no later delimiter or ']' could end the pattern, the lead byte stands alone.
TEST(RegExpPattern, LeadByteBeforeTheEnd) {
    const MatchCase cases[] = {
        // Raw and escaped, before the final delimiter.
        {"/\x81/", "a\x81", true, {"\x81"}},
        {"/\\\x81/", "a\x81", true, {"\x81"}},
        // ァ (0x83 0x40) with '@' as the delimiter: a later '@' ends the pattern, so the pair stays.
        {"m@\x83\x40@", "a\x83\x40", true, {"\x83\x40"}},
        // Raw and escaped, before the class's last ']'.
        {"/[\x81]/", "a\x81", true, {"\x81"}},
        {"/[\\\x81]/", "a\x81", true, {"\x81"}},
        // ゾ (0x83 0x5D) in a class that a later ']' closes stays a pair.
        {"/[\x83]]/", "a\x83]", true, {"\x83]"}},
    };
    for (const MatchCase& c : cases) {
        TBRegExp re;
        ASSERT_EQ(re.Match(c.pattern, c.text), c.matches) << c.pattern;
        ASSERT_EQ(re.Count(), static_cast<int>(c.captures.size())) << c.pattern;
        for (int i = 0; i < re.Count(); ++i)
            EXPECT_EQ(re.Strings(i), c.captures[i]) << c.pattern << " #" << i;
    }
    // In a substitution the body needs two more delimiters and the replacement one.
    TBRegExp re;
    std::string text = "b\x81";
    EXPECT_TRUE(re.Subst("s/\x81/a/", text));
    EXPECT_EQ(text, "ba");
    text = "bab";
    EXPECT_TRUE(re.Subst("s/a/\x81/", text));
    EXPECT_EQ(text, "b\x81"
                    "b");
    // The escaped half character that the split native builds, on a text whose character starts with it.
    re.Split("/\\\x81/",
             "x\x81"
             "ay",
             0);
    ASSERT_EQ(re.Count(), 2);
    EXPECT_EQ(re.Strings(0), "x");
    EXPECT_EQ(re.Strings(1), "y");
}

// An atom for one character ('.', a negated class, \W, \S, \D) sees only the lead byte of a double-byte
// character; the match takes the whole character instead of ending between its bytes.
TEST(RegExpSubst, NeverHalfACharacter) {
    const SubstCase cases[] = {
        {"s/[^@a-zA-Z0-9_]//g", "usr\\\x82\xa0\x83\x41.plimo", "usrplimo"},
        {"s/./X/g",
         "\x82\xa0"
         "b",
         "XX"},
        {"s/\\W/-/g",
         "a\x82\xa0"
         "b",
         "a-b"},
        {"s/\\S/-/g", "\x82\xa0 ", "- "},
        {"s/\\D/-/g",
         "1\x83\x41"
         "2",
         "1-2"},
        // A capture that ends with the match takes the character too.
        {"s/(.)/<$1>/g", "\x82\xa0", "<\x82\xa0>"},
        // The split native's escaping, of a whole character and of a lone lead byte.
        {"s/\\W/\\\\$&/g", "\x82\xa0", "\\\x82\xa0"},
        {"s/\\W/\\\\$&/g", "\x81", "\\\x81"},
    };
    for (const SubstCase& c : cases) {
        TBRegExp re;
        std::string text = c.text;
        EXPECT_TRUE(re.Subst(c.pattern, text)) << c.pattern;
        EXPECT_EQ(text, c.result) << c.pattern;
    }
    TBRegExp re;
    ASSERT_TRUE(re.Match("/(\\W)/", "a\x82\xa0"));
    ASSERT_EQ(re.Count(), 2);
    EXPECT_EQ(re.Strings(0), "\x82\xa0");
    EXPECT_EQ(re.Strings(1), "\x82\xa0");
    re.Split("/[^a]/",
             "a\x82\xa0"
             "a",
             0);
    ASSERT_EQ(re.Count(), 2);
    EXPECT_EQ(re.Strings(0), "a");
    EXPECT_EQ(re.Strings(1), "a");
}

TEST(RegExpErrors, StateAndPatternErrors) {
    TBRegExp re;
    auto message = [](auto&& f) {
        try {
            f();
        } catch (const ERegExpError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { re.Count(); }), "no count now");
    EXPECT_EQ(message([&] { re.Strings(0); }), "no strings now");
    ASSERT_TRUE(re.Match("/(b)/", "abc"));
    EXPECT_EQ(message([&] { re.Strings(2); }), "index out of range");
    EXPECT_EQ(message([&] { re.Strings(-1); }), "index out of range");
    EXPECT_FALSE(re.Match("/z/", "abc"));
    EXPECT_EQ(message([&] { re.Count(); }), "no count now");

    EXPECT_NE(message([&] { re.Match("/(/", "x"); }).find("missing closing parenthesis"), std::string::npos);
    EXPECT_NE(message([&] { re.Match("/[a/", "x"); }).find("missing terminating ]"), std::string::npos);
    std::string text = "x";
    EXPECT_NE(message([&] { re.Subst("s/a/b", text); }).find("unterminated"), std::string::npos);
    EXPECT_NE(message([&] { re.Match("abc", "abc"); }).find("delimiter"), std::string::npos);
    EXPECT_NE(message([&] { re.Match("/a/q", "a"); }).find("unknown flag"), std::string::npos);
}

TEST(RegExpCache, SamePatternTwiceAndManyPatterns) {
    TBRegExp re;
    for (int i = 0; i < 600; ++i) {
        std::string p = "/" + std::to_string(i % 300) + "/";
        EXPECT_TRUE(re.Match(p, "x" + std::to_string(i % 300) + "y"));
    }
}

TEST(RegExp2, EmptyTextsNeverReachTheEngine) {
    TBRegExp2 re;
    EXPECT_FALSE(re.Match("/^$/", ""));
    std::string empty;
    EXPECT_FALSE(re.Subst("s/^/x/", empty));
    EXPECT_EQ(empty, "");
    std::string text = "ab";
    EXPECT_TRUE(re.Subst("s/^/x/", text));
    EXPECT_EQ(text, "xab");
}

} // namespace
} // namespace plimo
