// Name resolution in chains: which instructions locals, arguments, globals, this, members, calls and
// super become, in the documented order.
#include <gtest/gtest.h>

#include "compiler_fixture.h"
#include "core/symbols.h"

namespace plimo::testing {
namespace {

// Statements in f(a) { var x; ... } of a class that also has h(q) (slot 1); m is the first member.
const ShapeCase kNames[] = {
    {"x;", "LocalValPtr 0; Deref; Pop", "LocalValPtr_Deref 0; Pop"},
    {"a;", "ArgValPtr 0; Deref; Pop", "ArgValPtr_Deref 0; Pop"},
    {"m;", "PushThis; SMemberValPtr 0; Deref; Pop", "PushThis_SMemberValPtr 0; Pop"},
    {"this.m;", "PushThis; SMemberValPtr 0; Deref; Pop", "PushThis_SMemberValPtr 0; Pop"},
    {"$score;", "Push [変数$score]; Deref; Pop", "Push_Deref [変数$score]; Pop"},
    {"x.b;", "LocalValPtr 0; Deref; DMemberValPtr b; Deref; Pop",
     "LocalValPtr_Deref 0; DMemberValPtr_Deref {b}; Pop"},
    {"h(1);", "PushThis; Push 1; SCall 1,1; Pop", nullptr},
    {"x.h(1);", "LocalValPtr 0; Deref; Push 1; DCall 1,h; Pop",
     "LocalValPtr_Deref 0; Push 1; DCall 1,h; Pop"},
    {"this.h(1);", "PushThis; Push 1; SCall 1,1; Pop", nullptr},
    {"this;", "PushThis; Pop", nullptr},
    {"m = 1;", "PushThis; SMemberValPtr 0; Push 1; Subst; Pop",
     "PushThis_SMemberValPtr 0; Push 1; Subst; Pop"},
    {"$score = a;", "Push [変数$score]; ArgValPtr 0; Deref; Subst; Pop",
     "Push [変数$score]; ArgValPtr_Deref 0; Subst; Pop"},
    {"x.b = 1;", "LocalValPtr 0; Deref; DMemberValPtr b; Push 1; Subst; Pop",
     "LocalValPtr_Deref 0; DMemberValPtr b; Push 1; Subst; Pop"},
    {"h(1).m = 2;", "PushThis; Push 1; SCall 1,1; DMemberValPtr m; Push 2; Subst; Pop", nullptr},
    {"x.this;", "LocalValPtr 0; Deref; Deref; Pop", "LocalValPtr_Deref 0; Deref; Pop"},
    {"m++;", "PushThis; SMemberValPtr 0; Push 1; AddSubst; Pop",
     "PushThis_SMemberValPtr 0; Push 1; AddSubst; Pop"},
    {"for (m in a) {}",
     "PushThis; SMemberValPtr 0; ArgValPtr 0; Deref; InitForin; DoForin16; Jump-8; ClearForin",
     "PushThis_SMemberValPtr 0; ArgValPtr_Deref 0; InitForin; DoForin16; Jump-8; ClearForin"},
};

class NameTest : public CompilerFixture, public ::testing::WithParamInterface<ShapeCase> {};

// "{b}" stands for the symbol id of b.
std::string Expand(std::string text, const TRTTI&) {
    if (std::size_t at = text.find("{b}"); at != std::string::npos)
        text.replace(at, 3, std::to_string(SymbolOf("b")));
    return text;
}

TEST_P(NameTest, BeforeAndAfterFusion) {
    ExpectShapes(std::string("function f(a) { var x; ") + GetParam().statement + " } function h(q) {}",
                 GetParam(), Expand);
}

INSTANTIATE_TEST_SUITE_P(Chains, NameTest, ::testing::ValuesIn(kNames));

using NamesTest = CompilerFixture;

TEST_F(NamesTest, SuperCallsReachTheParentsFunctionAndConstructor) {
    CompileAs("P", "constructor create(v) {} function f(v) {}");
    TRTTI& child = CompileAs("C", "extends P; function f(v) { super.f(1); super(1); this.super(2); }", false);
    ASSERT_FALSE(failed) << ErrorText();
    EXPECT_EQ(Body(child, "f"),
              "PushThis; Push 1; SuperCall 1,f; Pop; PushThis; Push 1; SuperCall 1,create; Pop; "
              "PushThis; Push 2; SuperCall 1,create; Pop; PushThis; Ret");
}

TEST_F(NamesTest, LocalShadowsMemberAndThisReachesTheMember) {
    TRTTI& cls = CompileAs("T", "function f() { var m; m; this.m; }", false);
    EXPECT_EQ(Body(cls, "f"),
              "LocalValPtr 0; Deref; Pop; PushThis; SMemberValPtr 0; Deref; Pop; PushThis; Ret");
    EXPECT_EQ(cls.memberNames.Count(), 1);
}

TEST_F(NamesTest, DollarNameIsAGlobalUnlessLocalAndAMemberAfterThis) {
    TRTTI& cls = CompileAs("T", "function f($g) { $g; this.$g; $h; }", false);
    ASSERT_FALSE(failed) << ErrorText();
    EXPECT_EQ(Body(cls, "f"), "ArgValPtr 0; Deref; Pop; PushThis; SMemberValPtr 0; Deref; Pop; "
                              "Push [変数$h]; Deref; Pop; PushThis; Ret");
    EXPECT_NE(resources.Resolve("usrglobal.$h"), nullptr);
    EXPECT_EQ(resources.Resolve("usrglobal.$g"), nullptr);
}

TEST_F(NamesTest, ClassNamesAndOtherResourcesAreMembersInAChain) {
    AddClass("K");
    TRTTI& cls = CompileAs("T", "K; T.x;", false);
    ASSERT_FALSE(failed) << ErrorText();
    EXPECT_EQ(Main(cls),
              "PushThis; SMemberValPtr 0; Deref; Pop; PushThis; SMemberValPtr 1; Deref; DMemberValPtr x; "
              "Deref; Pop; Push 0");
}

TEST_F(NamesTest, LocalAndMemberNamesIgnoreCaseButThisAndSuperDoNot) {
    TRTTI& cls = CompileAs("T", "function f(Arg) { var Loc; arg; LOC; m; M; This; }", false);
    ASSERT_FALSE(failed) << ErrorText();
    EXPECT_EQ(Body(cls, "f"),
              "ArgValPtr 0; Deref; Pop; LocalValPtr 0; Deref; Pop; PushThis; SMemberValPtr 0; Deref; Pop; "
              "PushThis; SMemberValPtr 0; Deref; Pop; PushThis; SMemberValPtr 1; Deref; Pop; PushThis; Ret");
}

TEST_F(NamesTest, AssignmentToUnknownNameDeclaresAMemberAfterTheInheritedOnes) {
    CompileAs("P", "p = 0;");
    TRTTI& child = CompileAs("C", "extends P; function f() { x = 1; }", false);
    ASSERT_EQ(child.memberNames.Count(), 2);
    EXPECT_EQ(child.memberNames.NameAt(0), "p");
    EXPECT_EQ(child.memberNames.NameAt(1), "x");
    EXPECT_EQ(Body(child, "f"), "PushThis; SMemberValPtr 1; Push 1; Subst; Pop; PushThis; Ret");
}

} // namespace
} // namespace plimo::testing
