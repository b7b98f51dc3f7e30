// Compile errors: their texts, where they are reported, and what they leave of the class.
#include <gtest/gtest.h>

#include "compiler_fixture.h"
#include "resources/values.h"

namespace plimo::testing {
namespace {

struct ErrorCase {
    const char* source; // compiled as class C; class P (constructor-less, with f and native n) exists
    const char* message;
};

const ErrorCase kErrors[] = {
    {"extends Nope;", "C:Nopeは未定義です"},
    {"extends a.b;", "C:a.bは未定義です"},
    {"extends box;", "C:box(TResourceList)はクラスではありません"},
    {"x is Nope;", "C:isの後ろがクラスでありません"},
    {"x is box;", "C:isの後ろがクラスでありません"},
    {"new Nope();", "C:Nopeは定義されていません"},
    {"new box(1);", "C:box(TResourceList)はクラスではありません"},
    {"x.f() = 1;", "C:代入式の左辺がメソッド呼び出しです"},
    {"f()++;", "C:代入式の左辺がメソッド呼び出しです"},
    {"for (g() in x) {}", "C:代入式の左辺がメソッド呼び出しです"},
    {"nope(1);", "C:メソッドnopeは未定義です"},
    {"extends P; super.nope();", "C:メソッドsuper.nopeは未定義です"},
    {"super.f();", "C:メソッドsuper.fは未定義です"},
    {"extends P; super.n();", "C:メソッドsuper.nはNativeのため、呼び出せません"},
    {"extends P; super.x;", "C:super.x : super.の後ろにはメソッド呼び出ししか記述できません"},
    {"extends P; super.x = 1;", "C:super.x : super.の後ろにはメソッド呼び出ししか記述できません"},
    {"extends P; x = super;", "C:super : super.の後ろにはメソッド呼び出ししか記述できません"},
    {"extends P; super = 3;", "C:super : super.の後ろにはメソッド呼び出ししか記述できません"},
    {"extends P; super++;", "C:super : super.の後ろにはメソッド呼び出ししか記述できません"},
    {"extends P; f(super);", "C:super : super.の後ろにはメソッド呼び出ししか記述できません"},
    {"super(1);", "C:親クラスがないため、superを呼び出せません"},
    {"extends P; super(1);", "C:親クラスにコンストラクタがありません"},
    {"2147483648;", "'2147483648' は整数値ではありません"},
    {"x = 99999999999999999999;", "'99999999999999999999' は整数値ではありません"},
    {"x = 1"
     "0000000000000000000000000000000000000000.5;",
     "'10000000000000000000000000000000000000000.5' は浮動小数点数値ではありません"},
};

class ErrorTest : public CompilerFixture, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorTest, MessageAndState) {
    const ErrorCase& c = GetParam();
    auto box = std::make_unique<TResourceList>(&resources);
    box->name = "box";
    resources.root->AddChild(std::move(box));
    CompileAs("P", "function f() {} native n;");
    ASSERT_FALSE(failed);
    TRTTI& cls = CompileAs("C", c.source);
    EXPECT_TRUE(failed) << c.source;
    EXPECT_TRUE(cls.failed);
    EXPECT_FALSE(cls.compiled);
    ASSERT_EQ(reporter.errors.size(), 1u) << c.source;
    EXPECT_EQ(ErrorText(), c.message);
}

INSTANTIATE_TEST_SUITE_P(Texts, ErrorTest, ::testing::ValuesIn(kErrors));

using CompileErrorTest = CompilerFixture;

TEST_F(CompileErrorTest, ReportedAtTheStatementWithTheSourcePath) {
    TRTTI& cls = AddClass("C");
    cls.src = "/game/usr/C.plimo";
    std::string source = "a;\r\nb;\r\n  nope();\r\n";
    EXPECT_TRUE(compiler.Compile(cls, source, true));
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].file, "/game/usr/C.plimo");
    EXPECT_EQ(reporter.errors[0].position, static_cast<long>(source.find(");") + 1));
}

TEST_F(CompileErrorTest, NotReportedWithoutReportButStillFailed) {
    TRTTI& cls = AddClass("C");
    EXPECT_TRUE(compiler.Compile(cls, "nope();", false));
    EXPECT_TRUE(cls.failed);
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_TRUE(compiler.Compile(cls, "x = = 1;", false));
    EXPECT_TRUE(reporter.errors.empty());
}

TEST_F(CompileErrorTest, SyntaxErrorNamesTheSourceAtTheLastMatchedToken) {
    TRTTI& cls = AddClass("C");
    cls.src = "/game/usr/C.plimo";
    std::string source = "x = 1;\r\nfunction f() {}\r\n";
    EXPECT_TRUE(compiler.Compile(cls, source, true));
    EXPECT_TRUE(cls.failed);
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(SjisToUtf8(reporter.errors[0].text), "文法エラー:/game/usr/C.plimo");
    EXPECT_EQ(reporter.errors[0].file, "/game/usr/C.plimo");
    EXPECT_GE(reporter.errors[0].position, 0);
    EXPECT_LE(reporter.errors[0].position, static_cast<long>(source.size()));
}

TEST_F(CompileErrorTest, SyntaxErrorWithNoTokenMatchedIsAtZero) {
    TRTTI& cls = AddClass("C");
    EXPECT_TRUE(compiler.Compile(cls, ")", true));
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].position, 0);
}

TEST_F(CompileErrorTest, SuccessClearsFailedAndLogsTheRelativeSourcePath) {
    resources.baseFolder = "/game";
    TRTTI& cls = AddClass("C");
    cls.src = "/game/usr/C.plimo";
    EXPECT_TRUE(compiler.Compile(cls, "nope();", false));
    cls.Reset();
    EXPECT_FALSE(compiler.Compile(cls, "x = 1;", false));
    EXPECT_FALSE(cls.failed);
    EXPECT_TRUE(cls.compiled);
    ASSERT_FALSE(reporter.progress.empty());
    EXPECT_EQ(reporter.progress.back(), "Compiling usr/C.plimo");
}

// The cache is consulted first; a broken class file is logged and the source is compiled instead.
class FakeCache : public TClassFileCache {
public:
    bool Load(TRTTI& cls) override {
        ++loads;
        if (broken) {
            cls.MemberSlot("leftover"); // a half-read file
            throw std::runtime_error("bad");
        }
        if (!present) return false;
        cls.compiled = true;
        return true;
    }
    void Save(TRTTI&) override {
        ++saves;
        if (saveFails) throw std::runtime_error("disk full");
    }
    bool saveFails = false;
    bool present = false, broken = false;
    int loads = 0, saves = 0;
};

TEST_F(CompileErrorTest, ClassFileCacheSeams) {
    FakeCache cache;
    compiler.classFiles = &cache;
    TRTTI& cls = AddClass("C");
    cls.src = "/game/C.plimo";

    cache.present = true;
    EXPECT_FALSE(compiler.Compile(cls, "x = 1;", true));
    EXPECT_EQ(cls.mainCode, nullptr); // loaded, not compiled
    EXPECT_EQ(cache.saves, 0);

    cls.Reset();
    cache.present = false;
    cache.broken = true;
    EXPECT_FALSE(compiler.Compile(cls, "x = 1;", true));
    EXPECT_EQ(reporter.progress.back(), "not a valid Class File");
    EXPECT_NE(cls.mainCode, nullptr);
    EXPECT_EQ(cls.memberNames.Count(), 1); // x only: the half-read state is gone
    EXPECT_EQ(cache.saves, 1);

    cls.Reset();
    EXPECT_TRUE(compiler.Compile(cls, "nope();", false));
    EXPECT_EQ(cache.saves, 1); // a failed class is not written

    cls.Reset();
    cache.saveFails = true;
    EXPECT_FALSE(compiler.Compile(cls, "x = 1;", true)); // a class file that cannot be written is no failure
    EXPECT_TRUE(cls.compiled);
    EXPECT_EQ(cache.saves, 2);

    TRTTI& noFile = AddClass("D");
    EXPECT_FALSE(compiler.Compile(noFile, "x = 1;", true));
    EXPECT_EQ(cache.loads, 4); // a class without a source file never touches the cache
}

// A class that failed once and then loads from its class file is compiled, not failed: the
// initialisation step counts it by that flag.
TEST_F(CompileErrorTest, AClassLoadedFromItsClassFileIsNoLongerFailed) {
    FakeCache cache;
    compiler.classFiles = &cache;
    TRTTI& cls = AddClass("C");
    cls.src = "/game/C.plimo";
    EXPECT_TRUE(compiler.Compile(cls, "nope();", false));
    ASSERT_TRUE(cls.failed);
    cls.Reset();
    cache.present = true;
    EXPECT_FALSE(compiler.Compile(cls, "x = 1;", true));
    EXPECT_TRUE(cls.compiled);
    EXPECT_FALSE(cls.failed);
}

} // namespace
} // namespace plimo::testing

namespace plimo::testing {
namespace {

TEST_F(CompileErrorTest, ClassAmongItsOwnAncestorsWaitsUncompiled) {
    // Like a class whose parent is not compiled yet: no error here, initialisation reports the cycle.
    TRTTI& self = CompileAs("S", "extends S;");
    EXPECT_FALSE(failed);
    EXPECT_FALSE(self.compiled);
    EXPECT_EQ(self.superclass, nullptr);

    TRTTI& b = AddClass("B");
    TRTTI& a = CompileAs("A", "extends B;"); // B not compiled yet: A waits for it
    EXPECT_FALSE(failed);
    Recompile(b, "extends A;");
    EXPECT_FALSE(failed);
    EXPECT_FALSE(b.compiled);
    EXPECT_EQ(b.superclass, nullptr);
    EXPECT_FALSE(a.IsSubclassOf(&self)); // the chain ends
}

// A global-value resource without a value cell keeps a chain standing at the resource.
class CelllessGlobal : public TGlobalValue {
public:
    using TGlobalValue::TGlobalValue;
    TValue* VariableSlot() override { return nullptr; }
};

TEST_F(CompileErrorTest, ChainsThatStandAtAResourceWithoutAValue) {
    auto odd = std::make_unique<CelllessGlobal>("odd", &resources);
    resources.root->AddChild(std::move(odd));
    struct Case {
        const char* source;
        std::string message;
    };
    TRTTI& probe = AddClass("C");
    const Case cases[] = {
        {"odd;", "C:リソースは直接参照できません"},
        {"odd.x;", "C:" + SjisToUtf8(probe.ClassTag()) + ":xは未定義です"},
        {"odd.f(1);", "C:リソースはメソッド呼び出しできません"},
        {"odd = 1;", "C:リソースは直接参照できません"},
    };
    for (const Case& c : cases) {
        reporter.errors.clear();
        probe.Reset();
        EXPECT_TRUE(compiler.Compile(probe, c.source, true)) << c.source;
        EXPECT_EQ(ErrorText(), c.message) << c.source;
    }
}

TEST_F(CompileErrorTest, DeepNestingCompilesOrIsASyntaxErrorNeverACrash) {
    for (int depth : {50, 300, 2000, 20000}) {
        std::string source = "x = " + std::string(depth, '(') + "1" + std::string(depth, ')') + ";";
        TRTTI& cls = AddClass("D" + std::to_string(depth));
        bool failedNow = compiler.Compile(cls, source, false);
        EXPECT_EQ(failedNow, !cls.compiled) << depth;
        if (depth <= 50) {
            EXPECT_TRUE(cls.compiled);
        }
    }
    std::string nested;
    for (int i = 0; i < 5000; ++i) nested += "if (a) ";
    nested += "b;";
    TRTTI& cls = AddClass("Ifs");
    bool failedNow = compiler.Compile(cls, nested, false);
    EXPECT_EQ(failedNow, !cls.compiled);
}

} // namespace
} // namespace plimo::testing

namespace plimo::testing {
namespace {

struct CountingSections : TSectionHook {
    void Enter(int section) override { entered.push_back(section); }
    void Leave(int section) override { left.push_back(section); }
    std::vector<int> entered, left;
};

TEST_F(CompileErrorTest, LexingAndParsingIsTimedInItsSection) {
    CountingSections sections;
    compiler.sections = &sections;
    TRTTI& cls = AddClass("C");
    compiler.Compile(cls, "x = 1;", false);
    cls.Reset();
    compiler.Compile(cls, "x = ;", false);
    EXPECT_EQ(sections.entered, (std::vector<int>{kLexParseSection, kLexParseSection}));
    EXPECT_EQ(sections.left, sections.entered);
}

} // namespace
} // namespace plimo::testing
