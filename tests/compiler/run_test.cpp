// Compiled code run by the interpreter: recursion, virtual calls, super, loops with break.
#include <gtest/gtest.h>

#include "compiler_fixture.h"
#include "core/instance.h"
#include "core/interpreter.h"
#include "core/process.h"
#include "core/strings.h"
#include "core/value.h"

namespace plimo::testing {
namespace {

class RunTest : public CompilerFixture {
protected:
    RunTest() {
        TRTTI& array = CompileAs("Array", "_x = null;");
        vm.arrayClass = &array;
        vm.arrayBodySlot = 0;
    }

    // Compiles every (name, source) in order, then runs the main code of the last on a new instance.
    void Run(std::initializer_list<std::pair<const char*, const char*>> classes) {
        TRTTI* last = nullptr;
        for (const auto& [name, source] : classes) {
            last = &CompileAs(name, source);
            ASSERT_FALSE(failed) << name << ": " << ErrorText();
            ASSERT_TRUE(last->compiled) << name;
        }
        std::unique_ptr<TProcess> p = TProcess::Create(last->NewInstance(), "");
        interp.RunToEnd(*p);
        EXPECT_EQ(p->ErrorState(), 0)
            << (reporter.messages.empty() ? "" : SjisToUtf8(reporter.messages.back()));
    }

    TValue* Global(const char* name) { return resources.Resolve(name)->VariableSlot(); }
    std::string GlobalText(const char* name) { return SjisToUtf8(ValueToText(*Global(name))); }

    // $list := an array of the given integers.
    void SetList(std::initializer_list<int> items) {
        TInstance* a = vm.arrayClass->NewInstance();
        auto* elements = new TElementList();
        for (int i : items) elements->Add(TValue::Int(i));
        SetHost(a->members()[0], elements);
        SetObject(*Global("$list"), a);
    }

    TInterpreter interp{vm, &reporter};
};

TEST_F(RunTest, Recursion) {
    Run({{"Fib", "function fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }\n$r = fib(12);"}});
    EXPECT_EQ(GlobalText("$r"), "144");
}

TEST_F(RunTest, StaticCallIsVirtualOnASubclass) {
    Run({{"P", "function who() { return 1; } function ask() { return who(); } $p = ask();"},
         {"C", "extends P; function who() { return 2; } $c = ask();"}});
    EXPECT_EQ(GlobalText("$c"), "2");
    EXPECT_EQ(Global("$p")->tag, vtUnset); // P's main code never ran
}

TEST_F(RunTest, SuperReachesTheParentsFunctionAndConstructor) {
    Run({{"Base", "constructor create(v) { base = v; } function who() { return 1; }"},
         {"Derived", "extends Base; constructor create(v) { super(v * 2); extra = v; }\n"
                     "function who() { return super.who() + 10; }"},
         {"Main", "o = new Derived(4); $sum = o.base + o.extra; $who = o.who();"}});
    EXPECT_EQ(GlobalText("$sum"), "12");
    EXPECT_EQ(GlobalText("$who"), "11");
}

TEST_F(RunTest, ForInWithBreakLeavesTheLoopCleanly) {
    SetList({1, 2, 3, 4});
    Run({{"Main", "$sum = 0; $n = 0;\n"
                  "for (x in $list) { for (y in $list) { if (y == 2) break; $n += 1; } if (x == 3) break; "
                  "$sum += x; }\n"
                  "for (x in $list) $last = x;"}});
    EXPECT_EQ(GlobalText("$sum"), "3");
    EXPECT_EQ(GlobalText("$n"), "3"); // the inner loop ran once per outer round until the break
    EXPECT_EQ(GlobalText("$last"), "4");
}

TEST_F(RunTest, LoopsLocalsAndShortCircuit) {
    Run({{"Main", "function sum(n) { var i, s; s = 0; for (i = 0; i < n; i++) s += i; while (s > 40) s -= 1; "
                  "return s; }\n"
                  "function nope() { $t = 99; }\n"
                  "$s = sum(10); $t = 0; if (0 && nope()) $t = 1; else if (1 || nope()) $t = 2; $u = -(3 - "
                  "5) * 2 % 3;"}});
    EXPECT_EQ(GlobalText("$s"), "40");
    EXPECT_EQ(GlobalText("$t"), "2");
    EXPECT_EQ(GlobalText("$u"), "1");
}

} // namespace
} // namespace plimo::testing
