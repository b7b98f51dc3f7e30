// The grammar engine on small descriptions of its own: building, lexing, parsing, messages.
#include "lang/yup.h"

#include "lang/syntax.h"

#include <gtest/gtest.h>

#include "platform/report.h"
#include "platform/text.h"

namespace plimo {
namespace {

const std::vector<std::string> kLex = {
    "Lexical", " 'while",   " '+=", " '+", " ';", " NAME", "  [}", "   -", "    'a", "    'z", " *Stop",
    " 'q", // after the stop line: never a token of its own
    "@",       " 'ignored",
};

// Pairs, then singles; a pair that fails halfway gives back its first name.
const std::vector<std::string> kGram = {
    "Grammar", " Start",  "  {}",    "   |",    "    Pair", "    Single", " Pair", "  'NAME",
    "  '+",    "  'NAME", " Single", "  'NAME", "  []Opt",  "   ';",      "@",
};

class YupTest : public ::testing::Test {
protected:
    TCapturingReporter reporter;
    std::vector<std::string> asked;

    std::unique_ptr<TYup> Make(std::vector<std::string> lex, std::vector<std::string> gram) {
        auto yup = std::make_unique<TYup>(reporter);
        yup->SetLexNode(std::move(lex));
        yup->SetGramNode(std::move(gram));
        yup->SetOnCreateList([this](TResListGetter& p) {
            asked.push_back(p.name);
            p.list = std::make_unique<TResultList>();
        });
        return yup;
    }

    static std::string Tokens(const TLexList& l) {
        std::string s;
        for (const TLexElem& e : l) s += (s.empty() ? "" : " ") + e.RuleName() + ":" + std::string(e.Text());
        return s;
    }
};

TEST(First, AddTestAndMerge) {
    TFirst a, b;
    EXPECT_TRUE(a.Add('x'));
    EXPECT_FALSE(a.Add('x'));
    EXPECT_TRUE(a.Test('x'));
    EXPECT_FALSE(a.Test('y'));
    b.AddRange(0xF0, 0xFF);
    EXPECT_TRUE(a.AddAll(b));
    EXPECT_FALSE(a.AddAll(b));
    EXPECT_TRUE(a.Test(0xFF));
    EXPECT_TRUE(a.Test(0xF0));
    EXPECT_FALSE(a.Test(0xEF));
}

TEST_F(YupTest, BuildsOnFirstLexOnlyAndReadsNothingAfterTheEndLine) {
    auto yup = Make(kLex, kGram);
    EXPECT_FALSE(yup->Built());
    yup->Lex("a");
    ASSERT_TRUE(yup->Built());
    const TLexNode* root = yup->LexRoot();
    ASSERT_EQ(root->count(), 7); // the line after "@" is not read
    const TLexNode& name = root->children[4];
    EXPECT_EQ(name.name, "NAME");
    EXPECT_EQ(name.kind, TLexNode::Sequence); // a bare top-level name is the group of its children
    const TLexNode& rep = name.children[0];
    EXPECT_EQ(rep.min, 1);
    EXPECT_EQ(rep.max, kYupUnbounded);
    EXPECT_EQ(rep.children[0].kind, TLexNode::Range);
    EXPECT_EQ(rep.children[0].low, 'a');
    EXPECT_EQ(rep.children[0].high, 'z');
    EXPECT_TRUE(name.first.Test('m'));
    EXPECT_FALSE(name.first.Test('A'));
    std::size_t calls = asked.size();
    yup->SetLexNode({"Other", " 'x", "@"});
    yup->Lex("x");
    EXPECT_EQ(yup->LexRoot()->count(), 7); // built once: later changes are not read
    EXPECT_EQ(asked.size(), calls);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(YupTest, LexTakesTheLongestMatchAndTheEarlierRuleOnTies) {
    auto yup = Make(kLex, kGram);
    EXPECT_EQ(Tokens(*yup->Lex("while whilex")), "while:while NAME:whilex");
    EXPECT_EQ(Tokens(*yup->Lex("a+=b++")), "NAME:a +=:+= NAME:b +:+ +:+");
    // Bytes no rule describes vanish; the rule after "*Stop" is not tried on its own.
    EXPECT_EQ(Tokens(*yup->Lex("A#b q 9")), "NAME:b NAME:q");
    EXPECT_EQ(Tokens(*yup->Lex("")), "");
    auto l = yup->Lex("ab  cd");
    ASSERT_EQ(l->Count(), 2);
    EXPECT_EQ(l->operator[](1).Position(), 4);
    EXPECT_EQ(l->operator[](1).End(), 6);
}

TEST_F(YupTest, ParseChoicesRetryAndRepetitionsGiveBackAFailedIteration) {
    auto yup = Make(kLex, kGram);
    auto tokens = yup->Lex("a + b c ; d");
    auto tree = yup->Parse(*tokens);
    ASSERT_TRUE(tree);
    // c: Pair matched c and failed at ";", Single is tried from c again.
    EXPECT_EQ(DumpTree(*tree->Root()), "Start([Pair(a + b) Single(c Opt(;)) Single(d Opt())])");
    EXPECT_EQ(tree->Root()->List(0)->List(1)->Position(), 6);
    EXPECT_EQ(tree->Root()->List(0)->List(2)->List(1)->Position(), -1);
}

TEST_F(YupTest, ParseFailsOnLeftoverTokensAndReportsTheLastMatchedToken) {
    auto yup = Make(kLex, kGram);
    // "b +" : Pair matches b and + then fails; Single matches b alone; the repetition ends before "+".
    auto tokens = yup->Lex("a ; b + ;");
    EXPECT_FALSE(yup->Parse(*tokens));
    // The last terminal matched in time was b (by Single, after Pair had matched further, at +).
    EXPECT_EQ(tokens->lastMatched, 4);
    EXPECT_FALSE(tokens->nestingTooDeep);
}

TEST_F(YupTest, EmptyInputMatchesAZeroRepetition) {
    auto yup = Make(kLex, kGram);
    auto tokens = yup->Lex("   ");
    auto tree = yup->Parse(*tokens);
    ASSERT_TRUE(tree);
    EXPECT_EQ(DumpTree(*tree->Root()), "Start([])");
    EXPECT_EQ(tokens->lastMatched, 0);
}

TEST_F(YupTest, OnCreateListIsAskedForEveryNodeIncludingUnnamedOnes) {
    auto yup = Make(kLex, {"G", " R", "  {}", "   'NAME", "@"});
    yup->Lex("");
    EXPECT_EQ(asked, (std::vector<std::string>{"G", "R", "", "NAME"}));
}

TEST_F(YupTest, MissingHandlerIsAnErrorAndNothingParses) {
    TYup yup(reporter);
    yup.SetLexNode(kLex);
    yup.SetGramNode(kGram);
    try {
        yup.Lex("a");
        FAIL() << "no error";
    } catch (const EYupError& e) {
        EXPECT_STREQ(e.what(), "No onCreateList Assigned");
    }
    EXPECT_FALSE(yup.Built());
}

TEST_F(YupTest, DescriptionFaultsAreReportedAndBuildingGoesOn) {
    auto yup = Make({"Lexical", " 'x ", " -R", "  a", "  'z", " -Z", "  $00", "  $ff", "@"},
                    {"Grammar", " Start", "  'x ", "  'nothing", "@"});
    auto tokens = yup->Lex("xz");
    const std::string fault = SysText("バグ発生:").sjis();
    EXPECT_EQ(reporter.messages, (std::vector<std::string>{
                                     "Wanring: extra space in  'x ",
                                     fault + "Please Put '' or $ at the first letters of each children",
                                     fault + "Please Put '' or $ at the first letters of each children",
                                     "Wanring: extra space in   'x ",
                                     fault + "nothing is not linked.",
                                 }));
    // The blank stays part of the literal "x ", so "x" alone is no token; the range 0..z takes it.
    EXPECT_EQ(Tokens(*tokens), "R:x R:z");
    EXPECT_FALSE(yup->Parse(*tokens)); // the unlinked terminal never matches
}

TEST_F(YupTest, ReferencesToUndefinedRulesNeverMatch) {
    auto yup = Make({"Lexical", " A", "  Missing", " 'b", "@"}, {"Grammar", " S", "  [}", "   'b", "@"});
    auto tokens = yup->Lex("ab");
    EXPECT_EQ(Tokens(*tokens), "b:b");
    EXPECT_EQ(yup->LexRoot()->children[0].children[0].kind, TLexNode::Sequence);
    EXPECT_TRUE(yup->Parse(*tokens));
}

TEST_F(YupTest, NullableRepetitionEndsInsteadOfLoopingForever) {
    auto yup = Make({"Lexical", " A", "  {}", "   []", "    'a", " 'b", "@"},
                    {"Grammar", " S", "  {}", "   []", "    'b", "@"});
    EXPECT_EQ(Tokens(*yup->Lex("aab")), "A:aa b:b");
    auto tokens = yup->Lex("b");
    EXPECT_FALSE(yup->Parse(*tokens) == nullptr);
}

TEST_F(YupTest, LeftRecursionFailsInsteadOfRunningAway) {
    auto yup = Make(kLex, {"Grammar", " S", "  |", "   S2", "   'NAME", " S2", "  S", "  '+", "@"});
    auto tokens = yup->Lex("a + +");
    EXPECT_FALSE(yup->Parse(*tokens));
    EXPECT_TRUE(tokens->nestingTooDeep);
}

} // namespace
} // namespace plimo
