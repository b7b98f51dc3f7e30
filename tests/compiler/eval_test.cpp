// Snippets compiled as throwaway classes and run to their end, against the real kernel.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "classes/rtti.h"
#include "compiler/eval.h"
#include "core/interpreter.h"
#include "platform/text.h"
#include "resources/boot.h"

namespace plimo {
namespace {

class EvalTest : public ::testing::Test {
protected:
    EvalTest() {
        system.Boot(FindKernelFolder());
        system.runtime.printHook = [this](std::string_view s) { printed.emplace_back(s); };
    }
    TCapturingReporter reporter;
    TPlimoSystem system{reporter, std::size_t(1) << 28};
    std::vector<std::string> printed;
};

TEST_F(EvalTest, RunsASnippetToItsEnd) {
    EXPECT_EQ(Eval("extends Object; print(\"hi\"); $_tmp_x = 4;", true), kEvalOk);
    EXPECT_EQ(printed, std::vector<std::string>{"hi"});
    TValue* cell = GlobalCell("$_tmp_x");
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->tag, vtInt);
    EXPECT_EQ(cell->asInt(), 4);
}

TEST_F(EvalTest, EveryRequestCompilesAClassOfItsOwn) {
    TEvalCache& cache = *system.runtime.evalCache;
    std::int32_t before = cache.counter;
    auto a = cache.Get("x = 1;", true);
    auto b = cache.Get("x = 1;", true);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->name, "eval" + std::to_string(before));
    EXPECT_EQ(b->name, "eval" + std::to_string(before + 1));
}

TEST_F(EvalTest, ValueOfLeavesTheValueInItsGlobal) {
    TValue* cell = ValueOf("1+2");
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->tag, vtInt);
    EXPECT_EQ(cell->asInt(), 3);
    EXPECT_EQ(cell, GlobalCell("$_tmp_valueOf"));
    EXPECT_EQ(ValueToText(*ValueOf("\"a\" + 1")), "a1");
}

TEST_F(EvalTest, ASnippetThatSuspendsStillCompletes) {
    EXPECT_EQ(Eval("extends Object; suspend(); suspend(); $_tmp_done = 1;", true), kEvalOk);
    EXPECT_EQ(GlobalCell("$_tmp_done")->asInt(), 1);
}

TEST_F(EvalTest, FailuresGiveTheirCodes) {
    EXPECT_EQ(Eval("x = = 1;", true), kEvalCompileError);
    EXPECT_FALSE(reporter.errors.empty());
    EXPECT_EQ(Eval("extends Object; x = 1 / 0; $_tmp_after = 1;", true), kEvalRuntimeError);
    EXPECT_EQ(GlobalCell("$_tmp_after")->tag, vtUnset);
    EXPECT_NE(SjisToUtf8(reporter.messages.back()).find("ゼロによる除算"), std::string::npos);
    // The caller goes on normally.
    EXPECT_EQ(Eval("extends Object; $_tmp_after = 2;", true), kEvalOk);
    EXPECT_EQ(GlobalCell("$_tmp_after")->asInt(), 2);
}

TEST_F(EvalTest, TheSnippetInstanceIsDestroyedAtOnce) {
    // A snippet's own class is gone after the call, so an object of it left in a global would outlive
    // its class; the instance is destroyed, and reading the global afterwards is harmless.
    EXPECT_EQ(Eval("extends Object; $_tmp_self = this;", true), kEvalOk);
    TValue* cell = GlobalCell("$_tmp_self");
    ASSERT_EQ(cell->tag, vtObject);
    EXPECT_LE(ObjectOf(*cell)->refCount, -1);
    // Letting go of it afterwards is no error.
    std::size_t messages = reporter.messages.size();
    EXPECT_EQ(Eval("extends Object; $_tmp_self = null;", true), kEvalOk);
    EXPECT_EQ(reporter.messages.size(), messages);
}

TEST_F(EvalTest, GlobalCellsOnlyForDollarNames) {
    EXPECT_EQ(GlobalCell("plain"), nullptr);
    TValue v = TValue::Int(9);
    SetGlobal("plain", v);
    SetGlobal("$_tmp_set", v);
    EXPECT_EQ(GlobalCell("$_tmp_set")->asInt(), 9);
}

TEST_F(EvalTest, GlobalValuesInitialiseThroughSnippets) {
    auto list = system.resources.ParseResourceText(
        "<resourcelist name=\"g\"><globalvalue name=\"$_tmp_init\" value=\"2*21\"/></resourcelist>", "/");
    ASSERT_TRUE(list);
    TResource* g = system.resources.AttachResource("g", std::move(list));
    ASSERT_TRUE(g->Initialize());
    TValue* cell = GlobalCell("$_tmp_init");
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->asInt(), 42);
}

// A saved string global is written as script text that the next load evaluates; backslashes, quotes
// and line ends in it must come back as they were.
TEST_F(EvalTest, SavedStringGlobalsReadBackTheSameText) {
    ASSERT_EQ(Eval(R"(extends Object; $_tmp_saved = "a\\b \"q\" c\r\nd\te";)", true), kEvalOk);
    const std::string wanted = "a\\b \"q\" c\r\nd\te";
    TValue* cell = GlobalCell("$_tmp_saved");
    ASSERT_TRUE(IsStringObject(*cell));
    ASSERT_EQ(StringText(ObjectOf(*cell)), wanted);
    const char* markup = "<resourcelist name=\"g\"><globalvalue name=\"$_tmp_saved\"/></resourcelist>";
    TResource* g = system.resources.AttachResource("g", system.resources.ParseResourceText(markup, "/"));
    ASSERT_TRUE(g);
    TLines lines;
    g->SaveTo(lines, "");
    std::string saved;
    for (const std::string& line : lines) saved += line + "\r\n";
    system.resources.DeleteResource("g");
    ASSERT_EQ(Eval("extends Object; $_tmp_saved = 0;", true), kEvalOk);

    g = system.resources.AttachResource("g", system.resources.ParseResourceText(saved, "/"));
    ASSERT_TRUE(g);
    ASSERT_TRUE(g->Initialize());
    EXPECT_TRUE(reporter.errors.empty());
    cell = GlobalCell("$_tmp_saved");
    ASSERT_TRUE(IsStringObject(*cell)) << saved;
    EXPECT_EQ(StringText(ObjectOf(*cell)), wanted) << saved;
}

TEST(MultiEvaluator, RecordsHowFarARunGot) {
    TMultiEvaluator m;
    m.Add("a");
    m.Add("b");
    EXPECT_EQ(m.Text(), "extends Object; $_exec_checkPoint=-1;\r\n"
                        "a\r\n$_exec_checkPoint=1;\r\n"
                        "b\r\n$_exec_checkPoint=2;\r\n");
    std::string path = (std::filesystem::temp_directory_path() / "plimo_multi_eval.plimo").string();
    ASSERT_TRUE(m.SaveToFile(path));
    std::ifstream f(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, m.Text());
    std::filesystem::remove(path);

    // A name given with backslashes and a folder in another case still reaches the folder that exists.
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "plimo_multi_eval_Temp";
    std::filesystem::create_directories(folder);
    std::string given = folder.parent_path().string() + "\\PLIMO_MULTI_EVAL_TEMP\\gen.plimo";
    EXPECT_TRUE(m.SaveToFile(given));
    EXPECT_TRUE(std::filesystem::exists(folder / "gen.plimo"));
    std::filesystem::remove_all(folder);
    std::filesystem::remove(given);
}

} // namespace
} // namespace plimo

namespace plimo {
namespace {

// A resource whose script object is an object of a class with onDestroy: deleting the resource runs
// the method through a snippet.
TEST_F(EvalTest, DeletingAResourceTellsItsScriptObject) {
    auto listener = std::make_unique<TRTTI>("Listener", &system.resources);
    ASSERT_FALSE(system.vm.classCompiler->Compile(
        *listener, "extends Object;\r\nfunction onDestroy() { $_tmp_gone = 1; return 0; }\r\n", true));
    auto list = system.resources.ParseResourceText("<resourcelist name=\"r\"></resourcelist>", "/");
    TResource* r = system.resources.AttachResource("r", std::move(list));
    ASSERT_NE(r, nullptr);
    SetObject(r->scriptValue, listener->NewInstance());
    system.resources.DeleteResource("r");
    EXPECT_EQ(GlobalCell("$_tmp_gone")->asInt(), 1);
    SetGlobal("$_1", TValue::Null());
}

} // namespace
} // namespace plimo

namespace plimo {
namespace {

// print reports its text as a progress line followed by where the call came from, innermost first; the
// output hook gets the text alone.
TEST_F(EvalTest, PrintReportsTheCallTrace) {
    auto cls = std::make_unique<TRTTI>("Traced", &system.resources);
    cls->src = "/game/Traced.plimo";
    ASSERT_FALSE(system.vm.classCompiler->Compile(
        *cls, "extends Object;\r\nfunction f() { print(\"in f\"); }\r\nf();\r\n", true));
    EXPECT_EQ(RunProcessToEnd(cls->NewInstance(), ""), 0);
    EXPECT_EQ(printed, std::vector<std::string>{"in f"});
    std::string line;
    for (const std::string& p : reporter.progress)
        if (p.rfind("in f", 0) == 0) line = p;
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(in f\t/game/Traced\.plimo:\d+ < /game/Traced\.plimo:\d+)")))
        << line;
}

} // namespace
} // namespace plimo
