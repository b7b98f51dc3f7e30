// Plimo tokens: what the token description yields for keywords, names, numbers, strings, comments
// and bytes no rule describes.
#include <gtest/gtest.h>

#include "lang/descriptions.h"
#include "lang/front.h"
#include "platform/report.h"

namespace plimo {
namespace {

class PlimoLexer : public ::testing::Test {
protected:
    TCapturingReporter reporter;
    std::unique_ptr<TYup> yup = NewPlimoYup(reporter);

    // "rule:text" per token; the rule is left out when it is the text itself (keywords, operators).
    std::string Lex(std::string_view text) {
        auto list = yup->Lex(text);
        std::string s;
        for (const TLexElem& e : *list) {
            if (!s.empty()) s += ' ';
            if (e.RuleName() != e.Text()) s += e.RuleName() + ":";
            s += e.Text();
        }
        return s;
    }
};

TEST_F(PlimoLexer, DescriptionsBuildWithoutMessages) {
    yup->Lex("");
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(PlimoTokenDescription().front(), "Lexical");
    EXPECT_EQ(PlimoTokenDescription().back(), "@");
    EXPECT_EQ(PlimoTokenDescription().size(), 144u);
    const auto& g = PlimoGrammarDescription();
    EXPECT_EQ(g.front(), "Grammar");
    EXPECT_EQ(g[g.size() - 5], "@");
    EXPECT_EQ(g.back(), " ");
    // 17 keywords, 31 operators, COMM NUM STRING SYMBOL, *Stop, Digit Alpha Kanji.
    EXPECT_EQ(yup->LexRoot()->count(), 17 + 31 + 4 + 1 + 3);
}

struct LexCase {
    const char* what;
    std::string text;
    std::string tokens;
};

class PlimoLexCases : public PlimoLexer, public ::testing::WithParamInterface<LexCase> {};

TEST_P(PlimoLexCases, Yields) {
    EXPECT_EQ(Lex(GetParam().text), GetParam().tokens) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, PlimoLexCases,
    ::testing::Values(
        LexCase{"keyword against name", "while whilex While", "while SYMBOL:whilex SYMBOL:While"},
        LexCase{"names starting with keywords", "forward iffy null2 fork for in is",
                "SYMBOL:forward SYMBOL:iffy SYMBOL:null2 fork for in is"},
        LexCase{"longest operator", "a+=1;", "SYMBOL:a += NUM:1 ;"},
        LexCase{"minus minus first", "x--y", "SYMBOL:x -- SYMBOL:y"},
        LexCase{"two-byte operators", "a&&b||c!=d==e>=f<=g++",
                "SYMBOL:a && SYMBOL:b || SYMBOL:c != SYMBOL:d == "
                "SYMBOL:e >= SYMBOL:f <= SYMBOL:g ++"},
        LexCase{"no arrow operators", "=> =<", "= > = <"},
        LexCase{"unused operators still lex", "*= /= %= | &", "*= /= %= | &"},
        LexCase{"dollar only first", "a$b $_x", "SYMBOL:a SYMBOL:$b SYMBOL:$_x"},
        LexCase{"number then name", "2x", "NUM:2 SYMBOL:x"},
        LexCase{"number forms", "1. .5 3.14 007", "NUM:1 . . NUM:5 NUM:3.14 NUM:007"},
        LexCase{"no sign or exponent", "-1e5 0x1F", "- NUM:1 SYMBOL:e5 NUM:0 SYMBOL:x1F"},
        LexCase{"brackets vanish", "a[1]", "SYMBOL:a NUM:1"},
        LexCase{"skipped bytes", "? # @ ^ ~ ' \\ : \t\r\n", ""}, LexCase{"empty text", "", ""},
        LexCase{"punctuation", "f(a,b).c{}", "SYMBOL:f ( SYMBOL:a , SYMBOL:b ) . SYMBOL:c { }"},
        LexCase{"escaped quote", "\"a\\\"b\"", "STRING:\"a\\\"b\""},
        LexCase{"escaped backslash ends", "\"a\\\\\" x", "STRING:\"a\\\\\" SYMBOL:x"},
        LexCase{"string stays on one line", "\"a\nb\"", "SYMBOL:a SYMBOL:b"},
        LexCase{"unterminated string is code", "\"a b", "SYMBOL:a SYMBOL:b"},
        LexCase{"second byte 0x5C", "\"\x95\x5c\" x", "STRING:\"\x95\x5c\" SYMBOL:x"},
        LexCase{"second byte 0x22", "\"\x83\x22\" x", "STRING:\"\x83\x22\" SYMBOL:x"},
        LexCase{"katakana swallows the quote", "\"\xb1\" x", "SYMBOL:x"},
        LexCase{"katakana swallows the quote, a later one closes", "\"\xb1\" x\"", "STRING:\"\xb1\" x\""},
        LexCase{"katakana splits a name",
                "ab\xb1"
                "cd",
                "SYMBOL:ab SYMBOL:cd"},
        LexCase{"double-byte names",
                "\x83\x41\x83\x43"
                "1 a\x88\xea",
                "SYMBOL:\x83\x41\x83\x43"
                "1 SYMBOL:a\x88\xea"},
        LexCase{"double-byte second byte 0x5C in a name",
                "\x83\x5c"
                "A",
                "SYMBOL:\x83\x5c"
                "A"},
        LexCase{"line comment to line end", "x // c d\r\ny", "SYMBOL:x COMM:// c d SYMBOL:y"},
        LexCase{"tab ends a line comment", "// note\tx = 1;", "COMM:// note SYMBOL:x = NUM:1 ;"},
        LexCase{"block comment", "a /* b\r\n c */ d", "SYMBOL:a COMM:/* b\r\n c */ SYMBOL:d"},
        LexCase{"block comment does not close at **/", "/* a **/ b */ c", "COMM:/* a **/ b */ SYMBOL:c"},
        LexCase{"empty block comment", "/**/x", "COMM:/**/ SYMBOL:x"},
        LexCase{"stars before the close", "/* a ***/x", "COMM:/* a ***/ SYMBOL:x"},
        LexCase{"unclosed block comment is operators", "/* a", "/ * SYMBOL:a"},
        LexCase{"a close before it does not close it", "/*a*/ /*b", "COMM:/*a*/ / * SYMBOL:b"},
        LexCase{"a **/ after it does not close it", "/* a **/ b", "/ * SYMBOL:a * * / SYMBOL:b"},
        LexCase{"line comment wins over slash", "a//b", "SYMBOL:a COMM://b"},
        LexCase{"NUL bytes vanish", std::string("a\0b", 3), "SYMBOL:a SYMBOL:b"},
        LexCase{"NUL ends a line comment", std::string("//a\0b", 5), "COMM://a SYMBOL:b"},
        LexCase{"NUL breaks a string", std::string("\"a\0b\"", 5), "SYMBOL:a SYMBOL:b"},
        LexCase{"lead byte at the very end", "a\x83", "SYMBOL:a"}));

TEST_F(PlimoLexer, TokensCarryTheirRuleAndPosition) {
    auto list = yup->Lex("  foo = \"s\";");
    ASSERT_EQ(list->Count(), 4);
    const TLexElem& foo = (*list)[0];
    EXPECT_EQ(foo.RuleName(), "SYMBOL");
    EXPECT_EQ(foo.Position(), 2);
    EXPECT_EQ(foo.End(), 5);
    EXPECT_EQ((*list)[2].Position(), 8);
    EXPECT_EQ((*list)[2].Text().size(), 3u);
    EXPECT_EQ(list->Source(), "  foo = \"s\";");
}

TEST_F(PlimoLexer, RepetitionsHaveNoLimit) {
    // The descriptions write "no limit" as 123456: a longer comment or string is still one token.
    std::string text = "// " + std::string(200000, 'a') + "\n\"" + std::string(200000, 'b') + "\"";
    auto list = yup->Lex(text);
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ((*list)[0].RuleName(), "COMM");
    EXPECT_EQ((*list)[1].RuleName(), "STRING");
    EXPECT_EQ((*list)[1].Text().size(), 200002u);
}

TEST_F(PlimoLexer, ManyUnclosedBlockComments) {
    // Each "/*" lexes as two operators; a "*/" at the very end makes the first of them a comment that
    // runs to it.
    std::string text;
    for (int i = 0; i < 10000; ++i) text += "x/*a";
    auto list = yup->Lex(text);
    ASSERT_EQ(list->Count(), 1 + 3 * 10000);
    EXPECT_EQ((*list)[1].Text(), "/");
    EXPECT_EQ((*list)[2].Text(), "*");
    EXPECT_EQ((*list)[3].Text(), "ax");
    EXPECT_EQ((*list)[list->Count() - 1].Text(), "a");
    list = yup->Lex(text + "*/y");
    ASSERT_EQ(list->Count(), 3);
    EXPECT_EQ((*list)[1].RuleName(), "COMM");
    EXPECT_EQ((*list)[1].Text().size(), text.size() + 1);
    EXPECT_EQ((*list)[2].Text(), "y");
}

TEST_F(PlimoLexer, RemovingCommentsKeepsTheOrder) {
    auto list = yup->Lex("a /* x */ b // y\nc");
    list->RemoveRule("COMM");
    ASSERT_EQ(list->Count(), 3);
    EXPECT_EQ((*list)[2].Text(), "c");
    EXPECT_EQ((*list)[2].Position(), 17);
}

} // namespace
} // namespace plimo
