// The instruction shapes of every construct, before and after fusion, and the class layout rules.
#include <gtest/gtest.h>

#include "compiler/codegen.h"
#include "compiler_fixture.h"
#include "lang/syntax.h"
#include "platform/report.h"

namespace plimo::testing {
namespace {

// Each statement is the body of function f(a, b, c) { var x, y; ... } of class T; the listing is the
// body without its closing PushThis; Ret.
const ShapeCase kShapes[] = {
    {"a;", "ArgValPtr 0; Deref; Pop", "ArgValPtr_Deref 0; Pop"},
    {"x = b;", "LocalValPtr 0; ArgValPtr 1; Deref; Subst; Pop",
     "LocalValPtr 0; ArgValPtr_Deref 1; Subst; Pop"},
    {"x += a;", "LocalValPtr 0; ArgValPtr 0; Deref; AddSubst; Pop",
     "LocalValPtr 0; ArgValPtr_Deref 0; AddSubst; Pop"},
    {"x -= a;", "LocalValPtr 0; ArgValPtr 0; Deref; SubSubst; Pop",
     "LocalValPtr 0; ArgValPtr_Deref 0; SubSubst; Pop"},
    {"x++;", "LocalValPtr 0; Push 1; AddSubst; Pop", nullptr},
    {"y--;", "LocalValPtr 1; Push 1; SubSubst; Pop", nullptr},
    {"-a;", "ArgValPtr 0; Deref; Neg; Pop", "ArgValPtr_Deref 0; Neg; Pop"},
    {"!a;", "ArgValPtr 0; Deref; Not; Pop", "ArgValPtr_Deref 0; Not; Pop"},
    {"a && b;", "ArgValPtr 0; Deref; Jump_And20; ArgValPtr 1; Deref; Pop",
     "ArgValPtr_Deref 0; Jump_And20; ArgValPtr_Deref 1; Pop"},
    {"a || b || c;", "ArgValPtr 0; Deref; Jump_Or40; ArgValPtr 1; Deref; Jump_Or20; ArgValPtr 2; Deref; Pop",
     "ArgValPtr_Deref 0; Jump_Or40; ArgValPtr_Deref 1; Jump_Or20; ArgValPtr_Deref 2; Pop"},
    {"a - b + c;", "ArgValPtr 0; Deref; ArgValPtr 1; Deref; Sub; ArgValPtr 2; Deref; Add; Pop",
     "ArgValPtr_Deref 0; ArgValPtr_Deref 1; Sub; ArgValPtr_Deref 2; Add; Pop"},
    {"a * b / c % 2;",
     "ArgValPtr 0; Deref; ArgValPtr 1; Deref; Mul; ArgValPtr 2; Deref; Div; Push 2; Mod; Pop",
     "ArgValPtr_Deref 0; ArgValPtr_Deref 1; Mul; ArgValPtr_Deref 2; Div; Push 2; Mod; Pop"},
    {"a < b == 1;", "ArgValPtr 0; Deref; ArgValPtr 1; Deref; LT; Push 1; EQ; Pop",
     "ArgValPtr_Deref 0; ArgValPtr_Deref 1; LT; Push 1; EQ; Pop"},
    {"a is T;", "ArgValPtr 0; Deref; Is {T}; Pop", "ArgValPtr_Deref 0; Is {T}; Pop"},
    {"new T(a, b);", "Push 0; ArgValPtr 0; Deref; ArgValPtr 1; Deref; Constructor 2,{T}; Pop",
     "Push 0; ArgValPtr_Deref 0; ArgValPtr_Deref 1; Constructor 2,{T}; Pop"},
    {"while (a) x;", "ArgValPtr 0; Deref; JumpZero32; LocalValPtr 0; Deref; Pop; Jump-36",
     "ArgValPtr_Deref 0; JumpZero32; LocalValPtr_Deref 0; Pop; Jump-36"},
    {"while (a) {}", "ArgValPtr 0; Deref; JumpZero16; Jump-20", "ArgValPtr_Deref 0; JumpZero16; Jump-20"},
    {"for (x = 0; x < 3; x++) a;",
     "LocalValPtr 0; Push 0; Subst; Pop; LocalValPtr 0; Deref; Push 3; LT; JumpZero60; ArgValPtr 0; Deref; "
     "Pop; "
     "LocalValPtr 0; Push 1; AddSubst; Pop; Jump-80",
     "LocalValPtr 0; Push 0; Subst; Pop; LocalValPtr_Deref 0; Push 3; LT; JumpZero60; ArgValPtr_Deref 0; "
     "Pop; "
     "LocalValPtr 0; Push 1; AddSubst; Pop; Jump-80"},
    {"for (x in a) b;",
     "LocalValPtr 0; ArgValPtr 0; Deref; InitForin; DoForin32; ArgValPtr 1; Deref; Pop; Jump-24; ClearForin",
     "LocalValPtr 0; ArgValPtr_Deref 0; InitForin; DoForin32; ArgValPtr_Deref 1; Pop; Jump-24; ClearForin"},
    {"for (x in a) break;",
     "LocalValPtr 0; ArgValPtr 0; Deref; InitForin; DoForin24; Jump16; Jump-16; ClearForin",
     "LocalValPtr 0; ArgValPtr_Deref 0; InitForin; DoForin24; Jump16; Jump-16; ClearForin"},
    {"while (a) { while (b) break; break; }",
     "ArgValPtr 0; Deref; JumpZero60; ArgValPtr 1; Deref; JumpZero24; Jump16; Jump-28; Jump16; Jump-64",
     "ArgValPtr_Deref 0; JumpZero60; ArgValPtr_Deref 1; JumpZero24; Jump16; Jump-28; Jump16; Jump-64"},
    {"break;", "", nullptr},
    {"if (a) b; else c;",
     "ArgValPtr 0; Deref; JumpZero32; ArgValPtr 1; Deref; Pop; Jump24; ArgValPtr 2; Deref; Pop",
     "ArgValPtr_Deref 0; JumpZero32; ArgValPtr_Deref 1; Pop; Jump24; ArgValPtr_Deref 2; Pop"},
    {"if (a) b;", "ArgValPtr 0; Deref; JumpZero32; ArgValPtr 1; Deref; Pop; Jump8",
     "ArgValPtr_Deref 0; JumpZero32; ArgValPtr_Deref 1; Pop; Jump8"},
    {"return a;", "ArgValPtr 0; Deref; Ret", "ArgValPtr_Deref 0; Ret"},
    {"return;", "PushThis; Ret", nullptr},
    {"x = (y = 1);", "LocalValPtr 0; LocalValPtr 1; Push 1; Subst; Subst; Pop", nullptr},
    {"\"a\\tb\\\\\\\"\";", "PushString a\tb\\\"; Pop", nullptr},
    {"1.5;", "Push 1.5; Pop", nullptr},
    {"null;", "Push null; Pop", nullptr},
    {"2147483647;", "Push 2147483647; Pop", nullptr},
};

class ShapeTest : public CompilerFixture, public ::testing::WithParamInterface<ShapeCase> {};

std::string WithTag(std::string text, const TRTTI& cls) {
    for (std::size_t at; (at = text.find("{T}")) != std::string::npos;) text.replace(at, 3, cls.ClassTag());
    return text;
}

TEST_P(ShapeTest, BeforeAndAfterFusion) {
    ExpectShapes(std::string("function f(a, b, c) { var x, y; ") + GetParam().statement + " }", GetParam(),
                 WithTag);
}

INSTANTIATE_TEST_SUITE_P(Constructs, ShapeTest, ::testing::ValuesIn(kShapes));

using CodegenTest = CompilerFixture;

TEST_F(CodegenTest, EmptyClassHasOnlyTheMainCodeEnd) {
    TRTTI& cls = CompileAs("T", "");
    ASSERT_FALSE(failed);
    EXPECT_TRUE(cls.compiled);
    EXPECT_EQ(Main(cls), "Push 0");
    EXPECT_EQ(cls.MethodCount(), 0);
    EXPECT_EQ(cls.mainCode->Size(), 16); // Push 0.0 and Halt
}

TEST_F(CodegenTest, FunctionBodyEndsInPushThisRetHalt) {
    TRTTI& cls = CompileAs("T", "function f() {}");
    auto* f = dynamic_cast<TNormalFunction*>(cls.FindMethodByName("f"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Body(cls, "f"), "PushThis; Ret");
    ASSERT_EQ(f->body->Size(), 12);
    EXPECT_EQ(f->body->WordAt(8), Op_Halt);
}

TEST_F(CodegenTest, ReturnInMainCodePushesThis) {
    TRTTI& cls = CompileAs("T", "return;");
    EXPECT_EQ(Main(cls), "PushThis; Ret; Push 0");
}

TEST_F(CodegenTest, ExpressionStatementRecordsItsSemicolonAsSourcePoint) {
    TRTTI& cls = CompileAs("T", "x;\r\n  y;");
    const auto& points = cls.mainCode->Symbols().Points();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].text, "1");
    EXPECT_EQ(points[0].position, 0);
    EXPECT_EQ(points[1].text, "7");
    EXPECT_EQ(points[1].position, 20); // after PushThis_SMemberValPtr_Deref and Pop
}

TEST_F(CodegenTest, DeclarationKindsAndArgumentAndLocalNames) {
    TRTTI& cls = CompileAs("T", "constructor create(p, q) { var u; var v, w; }\n"
                                "destructor destroy() {}\nnative n;\nfunction f() {}");
    ASSERT_FALSE(failed) << ErrorText();
    ASSERT_EQ(cls.MethodCount(), 4);
    EXPECT_TRUE(cls.MethodAt(0)->IsConstructor());
    EXPECT_TRUE(cls.MethodAt(1)->IsDestructor());
    EXPECT_TRUE(cls.MethodAt(2)->IsNative());
    EXPECT_EQ(cls.MethodAt(3)->kind(), TFunction::Kind::Normal);
    auto* create = dynamic_cast<TNormalFunction*>(cls.MethodAt(0));
    EXPECT_EQ(create->argNames, (std::vector<std::string>{"p", "q"}));
    EXPECT_EQ(create->localNames, (std::vector<std::string>{"u", "v", "w"}));
    EXPECT_EQ(cls.GetConstructor(), create);
}

TEST_F(CodegenTest, OverrideTakesTheInheritedSlotButNativeNeverDoes) {
    TRTTI& parent = CompileAs("P", "function a() {} function b() {} native n;");
    ASSERT_FALSE(failed) << ErrorText();
    TRTTI& child = CompileAs("C", "extends P; native a; function b() {} function c() {}");
    ASSERT_FALSE(failed) << ErrorText();
    // Inherited a, b, n, then the child's native a (appended), then c.
    ASSERT_EQ(child.MethodCount(), 5);
    EXPECT_EQ(child.MethodAt(0), parent.MethodAt(0));
    EXPECT_EQ(child.MethodAt(1)->owner, &child);
    EXPECT_EQ(child.MethodAt(2), parent.MethodAt(2));
    EXPECT_TRUE(child.MethodAt(3)->IsNative());
    EXPECT_EQ(child.MethodAt(3)->owner, &child);
    EXPECT_EQ(child.MethodAt(4)->GetName(), "c");
    EXPECT_EQ(child.superclass, &parent);
}

TEST_F(CodegenTest, InheritedMembersComeFirstAndNewNamesAreAppended) {
    CompileAs("P", "p = 0; q = 0;");
    TRTTI& child = CompileAs("C", "extends P; x = 1; q = 2;");
    ASSERT_FALSE(failed) << ErrorText();
    ASSERT_EQ(child.memberNames.Count(), 3);
    EXPECT_EQ(child.memberNames.NameAt(2), "x");
    EXPECT_EQ(
        Main(child),
        "PushThis_SMemberValPtr 2; Push 1; Subst; Pop; PushThis_SMemberValPtr 1; Push 2; Subst; Pop; Push 0");
}

TEST_F(CodegenTest, RecompilingWithoutExtendsDropsTheOldParent) {
    TRTTI& parent = CompileAs("P", "function f() {}");
    TRTTI& cls = CompileAs("C", "extends P;");
    EXPECT_EQ(cls.superclass, &parent);
    Recompile(cls, "x = 1;");
    EXPECT_EQ(cls.superclass, nullptr);
    EXPECT_FALSE(cls.IsSubclassOf(&parent));
    Recompile(cls, "super.f();");
    EXPECT_TRUE(failed);
}

TEST_F(CodegenTest, UncompiledParentLeavesTheClassUncompiledWithoutError) {
    TRTTI& parent = AddClass("P");
    TRTTI& child = CompileAs("C", "extends P; function f() {} x = 1;");
    EXPECT_FALSE(failed);
    EXPECT_FALSE(child.compiled);
    EXPECT_FALSE(child.failed);
    EXPECT_EQ(child.superclass, &parent);
    EXPECT_EQ(child.MethodCount(), 0);
    EXPECT_EQ(child.mainCode, nullptr);
    EXPECT_TRUE(reporter.errors.empty());
}

TEST_F(CodegenTest, CallsToFunctionsDeclaredLaterUseTheirSlots) {
    TRTTI& cls = CompileAs("T", "function f() { g(1, 2); } function g(a, b) {} native n; n(3);");
    ASSERT_FALSE(failed) << ErrorText();
    EXPECT_EQ(Body(cls, "f"), "PushThis; Push 1; Push 2; SCall 2,1; Pop; PushThis; Ret");
    EXPECT_EQ(Main(cls), "PushThis; Push 3; NativeCall 1,n; Pop; Push 0");
}

TEST(StringLiteral, Decoding) {
    struct Case {
        std::string literal, decoded;
    } cases[] = {
        {"\"\"", ""},
        {"\"a\\tb\"", "a\tb"},
        {"\"\\n\\r\\t\\q\"", "\n\r\tq"},
        {"\"\\\\\"", "\\"},
        {"\"\\\"\"", "\""},
        {"\"\x95\\\"", "\x95\\"},   // a backslash as second byte stays
        {"\"\xE0\\n\"", "\xE0\\n"}, // 0xE0 leads too
        {"\"\xA0\\n\"", "\xA0\n"},  // half-width katakana is a single byte
        {"\"\x81\"", "\x81"},       // a lead byte at the end stands alone
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeStringLiteral(c.literal), c.decoded) << c.literal;
}

// The generator walks unnamed groups itself; being asked to generate one shows the fault message.
TEST(CodegenUnnamedGroup, ShowsItsMessageAndGeneratesNothing) {
    TCapturingReporter reporter;
    TContext ctx;
    ctx.reporter = &reporter;
    std::unique_ptr<TResList> group = CreateSyntaxList("");
    EXPECT_EQ(Generate(ctx, group.get()), 0);
    EXPECT_EQ(reporter.messages, std::vector<std::string>{kErrNodeMessage});
}

TEST_F(CodegenTest, EmptyAndFourByteStringsArePadded) {
    TRTTI& cls = CompileAs("T", "\"\"; \"abcd\";", false);
    // PushString with L = 4 (12 bytes), Pop, PushString with L = 8 (16 bytes), Pop.
    EXPECT_EQ(cls.mainCode->WordAt(4), 4);
    EXPECT_EQ(cls.mainCode->WordAt(12), Op_Pop);
    EXPECT_EQ(cls.mainCode->WordAt(20), 8);
    EXPECT_EQ(cls.mainCode->WordAt(32), Op_Pop);
}

} // namespace
} // namespace plimo::testing

namespace plimo::testing {
namespace {

TEST_F(CodegenTest, ClassListingShowsEveryOwnBlockUnderItsHeading) {
    CompileAs("P", "function a() {}");
    TRTTI& cls = CompileAs("C", "extends P; function b(p) { var l; return l; } native n; m = 1;");
    ASSERT_FALSE(failed) << ErrorText();
    std::vector<std::string> lines = ClassListing(cls);
    std::vector<std::string> expected = {
        "class C extends P",
        "members 0:m",
        "main:",
        "  00000000:PushThis_SMemberValPtr 0",
        "  0000000C:Push 1",
        "  00000018:Subst",
        "  0000001C:Pop",
        "  00000020:Push 0",
        "slot 1: function b(p) var l:",
        "  00000000:LocalValPtr_Deref 0",
        "  0000000C:Ret",
        "  00000010:PushThis",
        "  00000014:Ret",
        "slot 2: native n",
        "(1 inherited methods not listed)",
    };
    EXPECT_EQ(lines, expected);
}

} // namespace
} // namespace plimo::testing
