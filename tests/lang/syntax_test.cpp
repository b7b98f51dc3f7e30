// The Plimo grammar: accepted and rejected forms, the node classes and items the compiler walks, the
// syntax-error position, and texts too deep or too long to parse naively.
#include <gtest/gtest.h>

#include "lang/front.h"
#include "platform/report.h"

namespace plimo {
namespace {

class PlimoSyntax : public ::testing::Test {
protected:
    TCapturingReporter reporter;
    std::unique_ptr<TYup> yup = NewPlimoYup(reporter);

    TParsedSource Parse(std::string_view text) { return ParsePlimoSource(*yup, text); }
    // Compact dump of the statements of the main code (item 2 of Program), or "ERROR@offset".
    std::string Main(std::string_view text) {
        TParsedSource p = Parse(text);
        if (!p.tree) return "ERROR@" + std::to_string(p.errorPosition);
        return DumpTree(*p.Program()->List(2), true);
    }
};

TEST_F(PlimoSyntax, EmptyTextIsAnEmptyProgram) {
    TParsedSource p = Parse("");
    ASSERT_TRUE(p.tree);
    EXPECT_EQ(DumpTree(*p.tree->Root()), "Program(Extends() [] [])");
    EXPECT_EQ(p.Program()->Kind(), GKind::Program);
    EXPECT_EQ(p.Program()->As<G_Extends>(0)->Count(), 0);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(PlimoSyntax, FileLayoutAndDeclarations) {
    TParsedSource p = Parse("extends classes.lang.Object;\n"
                            "native _n_draw;\n"
                            "function f(a, b) { var x, y; var z; x = a; }\n"
                            "constructor create() {}\n"
                            "destructor free() { return; }\n"
                            "x = 1;");
    ASSERT_TRUE(p.tree);
    G_Program* prog = p.Program();
    EXPECT_EQ(DumpTree(*prog->List(0)), "Extends(extends ResourceVal(classes [. lang . Object]) ;)");
    TResList* decls = prog->Node(1);
    ASSERT_EQ(decls->Count(), 4);
    EXPECT_EQ(DumpTree(*decls->List(0)), "NativeDecl(native _n_draw ;)");
    G_FuncDecl* f = decls->As<G_FuncDecl>(1);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Text(0), "function");
    EXPECT_EQ(f->Text(1), "f");
    EXPECT_EQ(DumpTree(*f->List(3)), "VArgList(a [, b])");
    G_VarBlock* body = f->As<G_VarBlock>(5);
    ASSERT_TRUE(body);
    EXPECT_EQ(DumpTree(*body->List(1)), "[VarDecl(var VArgList(x [, y]) ;) VarDecl(var VArgList(z []) ;)]");
    EXPECT_EQ(body->Node(2)->Count(), 1);
    EXPECT_EQ(DumpTree(*decls->List(2)),
              "FuncDecl(constructor create '(' VArgList() ')' VarBlock({ [] [] }))");
    EXPECT_EQ(DumpTree(*decls->List(3), true),
              "FuncDecl(destructor free '(' VArgList() ')' VarBlock({ [Return(return ;)] }))");
    EXPECT_EQ(DumpTree(*prog->List(2), true), "[ExprS(Expr([x =] 1) ;)]");
    // Byte offsets the compiler reports with.
    EXPECT_EQ(f->Position(), 45);
    EXPECT_EQ(prog->Node(2)->Node(0)->Token(1)->Position(), 149);
}

struct SyntaxCase {
    const char* text;
    const char* main; // compact dump of the main statements, or ERROR@offset
};

class PlimoSyntaxCases : public PlimoSyntax, public ::testing::WithParamInterface<SyntaxCase> {};

TEST_P(PlimoSyntaxCases, Parse) {
    EXPECT_EQ(Main(GetParam().text), GetParam().main) << GetParam().text;
}

const SyntaxCase kAccepted[] = {
    SyntaxCase{"if (a) if (b) x=1; else x=2;", // the dangling else goes to the nearest if
               "[If(if '(' a ')' If(if '(' b ')' ExprS(Expr([x =] 1) ;) [else ExprS(Expr([x =] 2) ;)]))]"},
    SyntaxCase{"for (i in list) f(i);",
               "[Forin(for '(' i in list ')' ExprS(LValE(f ['(' ArgList(i) ')']) ;))]"},
    SyntaxCase{"for (i=0; i<3; i++) f(i);",
               "[For(for '(' Expr([i =] 0) ; AndEx(i [< 3]) ; IncEx(i [++]) ')' ExprS(LValE(f ['(' "
               "ArgList(i) ')']) ;))]"},
    SyntaxCase{"x = (y = 1);", "[ExprS(Expr([x =] Par('(' Expr([y =] 1) ')')) ;)]"},
    SyntaxCase{"x += 1; y -= 2;", "[ExprS(Expr([x +=] 1) ;) ExprS(Expr([y -=] 2) ;)]"},
    SyntaxCase{"-(-x);", "[ExprS(MDEx([-] Par('(' MDEx([-] x) ')')) ;)]"},
    SyntaxCase{"!x--;", "[ExprS(MDEx([!] IncEx(x [--])) ;)]"},
    SyntaxCase{"a < b < c;", "[ExprS(AndEx(a [< b < c]) ;)]"},
    SyntaxCase{"a || b && c == d + f * -g is E.F;",
               "[ExprS(RVal(a [|| OrEx(b [&& AndEx(c [== IsEx(CompEx(d [+ ASEx(f [* MDEx([-] g)])]) [is "
               "ResourceVal(E [. F])])])])]) ;)]"},
    SyntaxCase{"a + b * c - d % e / f;", "[ExprS(CompEx(a [+ ASEx(b [* c]) - ASEx(d [% e / f])]) ;)]"},
    SyntaxCase{"a.b(1).c = 2;", "[ExprS(Expr([LVal(a [. LValE(b ['(' ArgList(1) ')']) . c]) =] 2) ;)]"},
    SyntaxCase{"super.constructor(1, \"s\");",
               "[ExprS(LVal(super [. LValE(constructor ['(' ArgList(1 [, \"s\"]) ')'])]) ;)]"},
    SyntaxCase{"this.x = new classes.B(null, 1.5);",
               "[ExprS(Expr([LVal(this [. x]) =] NewObj(new ResourceVal(classes [. B]) '(' ArgList(null [, "
               "1.5]) ')')) ;)]"},
    SyntaxCase{"f();", "[ExprS(LValE(f ['(' ArgList() ')']) ;)]"},
    SyntaxCase{"while (1) { break; }", "[While(while '(' 1 ')' Block({ [Break(break ;)] }))]"},
    SyntaxCase{"return; return x;", "[Return(return ;) Return(return [x] ;)]"},
    SyntaxCase{"{ } {{}}", "[Block({ }) Block({ [Block({ })] })]"},
    SyntaxCase{"/* c */ x; // d", "[ExprS(x ;)]"}};
INSTANTIATE_TEST_SUITE_P(Accepted, PlimoSyntaxCases, ::testing::ValuesIn(kAccepted));

const SyntaxCase kRejected[] = {
    SyntaxCase{"x = y = 1;", "ERROR@4"},                                         // no chained assignment
    SyntaxCase{"- -x;", "ERROR@0"},                                              // one prefix operator
    SyntaxCase{"!!x;", "ERROR@0"}, SyntaxCase{"++x;", "ERROR@0"},                // only the postfix form
    SyntaxCase{"x = 1; y = ;", "ERROR@9"}, SyntaxCase{"for (;;) x;", "ERROR@4"}, // no empty parts
    SyntaxCase{"x = 1; function f() {}", "ERROR@5"},                             // declarations come first
    SyntaxCase{"var a;", "ERROR@0"}, // no declarations in the main code
    SyntaxCase{"function f() { x; var a; }", "ERROR@16"},
    SyntaxCase{"function f() { { var a; } }", "ERROR@15"}, SyntaxCase{"extends;", "ERROR@0"},
    SyntaxCase{"extends a", "ERROR@8"}, SyntaxCase{"new B;", "ERROR@4"}, // new needs its parentheses
    SyntaxCase{"(a).b;", "ERROR@2"}, // nothing follows a parenthesised value
    SyntaxCase{"x is (B);", "ERROR@2"}, SyntaxCase{"x is E + 1;", "ERROR@5"}, // is binds looser than +
    SyntaxCase{"fork;", "ERROR@0"},                                           // tokens no rule uses
    SyntaxCase{"a *= 2;", "ERROR@0"}, SyntaxCase{"a & b;", "ERROR@0"}, SyntaxCase{"a | b;", "ERROR@0"},
    SyntaxCase{"   )", "ERROR@0"}, // nothing matched at all
    // After backtracking the position is that of the last token matched in time: the
    // for-in attempt matched i after the for attempt had reached the +.
    SyntaxCase{"for (i = 0; i < 3; j +) x;", "ERROR@5"}};
INSTANTIATE_TEST_SUITE_P(Rejected, PlimoSyntaxCases, ::testing::ValuesIn(kRejected));

TEST_F(PlimoSyntax, ShortcutsChangeNothingAgainstThePlainParse) {
    TCapturingReporter plainReporter;
    std::unique_ptr<TYup> plain = NewPlimoYup(plainReporter);
    plain->SetPlainParse({true, 0});
    std::vector<std::string> texts;
    for (const SyntaxCase& c : kAccepted) texts.push_back(c.text);
    for (const SyntaxCase& c : kRejected) texts.push_back(c.text);
    texts.push_back(
        "function f(a) { var b; b = a.c(d.e(1), g(h(2)), -3); for (b in a) if (b is X) break; }\n"
        "x = f(f(f(1))); while (x) { x--; y = \"s\"; } for (i = 0; i < f(g(1)); i++) z = (w = i);");
    texts.push_back("x = f(g(h(1), 2)");
    texts.push_back("for (a.b(c) in d) e(f(g)) = 1;");
    for (const std::string& text : texts) {
        TParsedSource fast = ParsePlimoSource(*yup, text);
        TParsedSource slow = ParsePlimoSource(*plain, text);
        ASSERT_EQ(bool(fast.tree), bool(slow.tree)) << text;
        EXPECT_EQ(fast.tokens->lastMatched, slow.tokens->lastMatched) << text;
        if (fast.tree) {
            EXPECT_EQ(DumpTree(*fast.tree->Root()), DumpTree(*slow.tree->Root())) << text;
        }
    }
}

// Counts which overload a node's Generate reaches.
class TKindCounter : public TSyntaxVisitor {
public:
    std::string seen;
#define PLIMO_COUNT(name)                                                                                    \
    int Generate(G_##name&) override {                                                                       \
        seen += #name " ";                                                                                   \
        return 0;                                                                                            \
    }
    PLIMO_SYNTAX_NODES(PLIMO_COUNT)
#undef PLIMO_COUNT
    int Generate(G_Err&) override {
        seen += "Err ";
        return 0;
    }
};

TEST_F(PlimoSyntax, GenerateDispatchesByClassAndNamesMapToClasses) {
    TParsedSource p = Parse("while (x) y;");
    ASSERT_TRUE(p.tree);
    TKindCounter v;
    p.Program()->Generate(v);
    p.Program()->Node(2)->Node(0)->Generate(v);
    p.Program()->Node(2)->Generate(v);
    EXPECT_EQ(v.seen, "Program While Err ");
    EXPECT_EQ(CreateSyntaxList("VarDecl")->Kind(), GKind::VarDecl);
    EXPECT_EQ(CreateSyntaxList("Comment")->Kind(), GKind::Plain);
    EXPECT_EQ(CreateSyntaxList("Sentence")->Kind(), GKind::Err);
    EXPECT_EQ(CreateSyntaxList("")->Kind(), GKind::Err);
    TResList plain;
    EXPECT_EQ(plain.Generate(v), 0);
    EXPECT_STREQ(GKindName(GKind::ResourceVal), "ResourceVal");
}

TEST_F(PlimoSyntax, DeepNestingIsASyntaxErrorNotACrash) {
    TParsedSource p = Parse(std::string(100000, '('));
    EXPECT_FALSE(p.tree);
    EXPECT_TRUE(p.tooDeep);

    std::string calls;
    for (int i = 0; i < 200000; ++i) calls += "f(";
    p = Parse(calls);
    EXPECT_FALSE(p.tree);
    EXPECT_TRUE(p.tooDeep);

    std::string blocks = std::string(5000, '{') + std::string(5000, '}');
    EXPECT_TRUE(Parse(blocks).tooDeep);
}

TEST_F(PlimoSyntax, ReasonableNestingParses) {
    std::string parens = "x = " + std::string(100, '(') + "1" + std::string(100, ')') + ";";
    EXPECT_TRUE(Parse(parens).tree);
    std::string blocks = std::string(300, '{') + "x;" + std::string(300, '}');
    EXPECT_TRUE(Parse(blocks).tree);
    std::string elseIfs = "if (a) x;";
    for (int i = 0; i < 300; ++i) elseIfs += " else if (a) x;";
    EXPECT_TRUE(Parse(elseIfs).tree);
}

TEST_F(PlimoSyntax, NestedCallsParseInLinearTime) {
    // Each expression statement parses its leading name chain as an assignment target first; nested
    // call arguments would double the work per level if nothing were reused.
    std::string text;
    for (int i = 0; i < 60; ++i) text += "a.f(";
    text += "x";
    text += std::string(60, ')') + ";";
    TParsedSource p = Parse(text);
    ASSERT_TRUE(p.tree);
    // The same text with one parenthesis missing fails, just as fast.
    text.pop_back();
    text.pop_back();
    text += ";";
    EXPECT_FALSE(Parse(text).tree);
}

TEST_F(PlimoSyntax, LongFlatExpressionParses) {
    std::string text = "x = 1";
    while (text.size() < 1000000) text += " + a.b(2) * 3";
    text += ";";
    TParsedSource p = Parse(text);
    ASSERT_TRUE(p.tree);
    // Missing its semicolon the same text is rejected at the last token matched.
    text.pop_back();
    p = Parse(text);
    EXPECT_FALSE(p.tree);
    EXPECT_FALSE(p.tooDeep);
    EXPECT_EQ(p.errorPosition, static_cast<long>(text.size()) - 1);
}

} // namespace
} // namespace plimo
