// Random but grammatical classes: every one either compiles or fails with a reported message; none
// crashes, and every compiled block passes the listing.
#include <gtest/gtest.h>

#include <random>

#include "compiler_fixture.h"

namespace plimo::testing {
namespace {

class RandomSource {
public:
    explicit RandomSource(unsigned seed) : m_rng(seed) {}

    std::string Class() {
        std::string s = Pick(3) == 0 ? "extends P;\n" : "";
        for (int i = Pick(4); i > 0; --i) {
            const char* kinds[] = {"function", "constructor", "destructor", "native"};
            int k = Pick(4);
            s += std::string(kinds[k]) + " " + Name();
            s += k == 3 ? ";\n"
                        : "(" + Names() + ") { " + (Pick(2) ? "var " + Names(1) + "; " : "") + Statements(3) +
                              "}\n";
        }
        return s + Statements(4);
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }

    std::string Name() {
        const char* names[] = {"a",  "b", "f",           "g", "this", "super",
                               "$g", "m", "constructor", "n", "P",    "box"};
        return names[Pick(12)];
    }
    std::string Names(int min = 0) {
        std::string s;
        for (int i = Pick(3) + min; i > 0; --i)
            s += (s.empty() ? "" : ", ") + std::string(Pick(2) ? "a" : "b");
        return s;
    }
    std::string Chain(int depth) {
        std::string s;
        for (int i = Pick(3) + 1; i > 0; --i) {
            s += (s.empty() ? "" : ".") + Name();
            if (Pick(3) == 0) s += "(" + Args(depth) + ")";
        }
        return s;
    }
    std::string Args(int depth) {
        std::string s;
        for (int i = Pick(3); i > 0; --i) s += (s.empty() ? "" : ", ") + Expr(depth - 1);
        return s;
    }
    std::string Expr(int depth) {
        if (depth <= 0) return Pick(2) ? "1" : Chain(0);
        switch (Pick(9)) {
        case 0:
            return Expr(depth - 1) + " + " + Expr(depth - 1);
        case 1:
            return Expr(depth - 1) + " && " + Expr(depth - 1) + " || " + Expr(depth - 1);
        case 2:
            return "-(" + Expr(depth - 1) + ")";
        case 3:
            return "new " + Name() + "(" + Args(depth) + ")";
        case 4:
            return Expr(depth - 1) + " is " + Name();
        case 5:
            return Chain(depth) + (Pick(2) ? "++" : "");
        case 6:
            return "\"s\\t" + std::to_string(Pick(100)) + "\"";
        case 7:
            return "(" + Chain(depth) + " = " + Expr(depth - 1) + ")";
        default:
            return std::to_string(Pick(1000)) + (Pick(4) == 0 ? ".5" : "");
        }
    }
    std::string Statement(int depth) {
        switch (depth <= 0 ? 0 : Pick(8)) {
        case 0:
            return Chain(1) + " = " + Expr(2) + ";";
        case 1:
            return Expr(2) + ";";
        case 2:
            return "while (" + Expr(1) + ") " + Statement(depth - 1);
        case 3:
            return "for (" + Chain(0) + " in " + Expr(1) + ") " + Statement(depth - 1);
        case 4:
            return "for (a = 0; " + Expr(1) + "; a++) " + Statement(depth - 1);
        case 5:
            return "if (" + Expr(1) + ") " + Statement(depth - 1) +
                   (Pick(2) ? " else " + Statement(depth - 1) : "");
        case 6:
            return Pick(2) ? "break;" : "return " + Expr(1) + ";";
        default:
            return "{ " + Statements(depth - 1) + "}";
        }
    }
    std::string Statements(int depth) {
        std::string s;
        for (int i = Pick(4); i > 0; --i) s += Statement(depth) + "\n";
        return s;
    }

    std::mt19937 m_rng;
};

using RobustnessTest = CompilerFixture;

TEST_F(RobustnessTest, RandomGrammaticalClassesCompileOrReport) {
    auto box = std::make_unique<TResourceList>(&resources);
    box->name = "box";
    resources.root->AddChild(std::move(box));
    CompileAs("P", "constructor create(a) {} function f(a) {} native n;");
    ASSERT_FALSE(failed);
    RandomSource random(20261211);
    TRTTI& cls = AddClass("C");
    int compiled = 0;
    for (int i = 0; i < 1500; ++i) {
        std::string source = random.Class();
        reporter.errors.clear();
        cls.Reset();
        bool failedNow = compiler.Compile(cls, source, true);
        ASSERT_EQ(failedNow, !reporter.errors.empty()) << source;
        if (failedNow) continue;
        ASSERT_TRUE(cls.compiled) << source;
        ++compiled;
        std::vector<std::string> lines;
        ASSERT_NO_THROW(lines = ClassListing(cls)) << source;
    }
    EXPECT_GT(compiled, 100); // the generator is not just producing errors
}

} // namespace
} // namespace plimo::testing
