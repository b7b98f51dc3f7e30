// Compiled code run by the interpreter: recursion, virtual calls, super, loops with break.
#include <gtest/gtest.h>

#include <cstring>

#include "classes/core_natives.h"
#include "classes/native_bridge.h"
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

    // See its definition.
    void ExpectBudgetsMatchSingleSteps(TRTTI& cls, const char* fn);

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

// Runs fn of a new instance of cls to its end, then for every budget N until it ends: a process run
// with budget N must stand exactly where one run N times with budget 1 stands (same place, same stack
// from the top to the frame's locals, same count of the receiver), and end with the same result.
// Super-instructions are taken only in the first, since a budget of 1 leaves no room for one.
void RunTest::ExpectBudgetsMatchSingleSteps(TRTTI& cls, const char* fn) {
    // Each run gets its own instance, held for the whole test, since the code may change it.
    auto instance = [&] {
        TInstance* self = cls.NewInstance();
        SetObject(*vm.AllocCells(1), self);
        return self;
    };
    std::unique_ptr<TProcess> whole = TProcess::Create(instance(), fn);
    interp.RunToEnd(*whole);
    ASSERT_EQ(whole->ErrorState(), 0)
        << (reporter.messages.empty() ? "" : SjisToUtf8(reporter.messages.back()));
    const std::string result = ValueToText(*whole->Result());
    whole.reset();
    std::int32_t steps = 0;
    for (std::int32_t budget = 1; budget < 2000 && !steps; ++budget) {
        TInstance* onceSelf = instance();
        TInstance* steppedSelf = instance();
        std::unique_ptr<TProcess> once = TProcess::Create(onceSelf, fn);
        once->Run(budget);
        std::unique_ptr<TProcess> stepped = TProcess::Create(steppedSelf, fn);
        for (std::int32_t k = 0; k < budget && !stepped->Halted(); ++k) stepped->Run(1);
        ASSERT_EQ(onceSelf->refCount, steppedSelf->refCount) << budget;
        ASSERT_EQ(once->Halted(), stepped->Halted()) << budget;
        if (once->Halted()) {
            EXPECT_EQ(ValueToText(*once->Result()), result);
            EXPECT_EQ(ValueToText(*stepped->Result()), result);
            steps = budget;
            break;
        }
        ASSERT_EQ(once->PcOffset(), stepped->PcOffset()) << budget;
        ASSERT_EQ(once->StackTop(), stepped->StackTop()) << budget;
        // The frame's locals lie below its record (addresses), which sits under the receiver.
        const std::int32_t aboveLocals = TProcess::kStackSlots - 1 - TProcess::kFrameSlots;
        for (std::int32_t k = once->StackTop(); k < aboveLocals; ++k) {
            const TValue* a = once->StackSlot(k);
            const TValue* b = stepped->StackSlot(k);
            // A reference names a slot of its own process's stack, and each made its own objects and lists.
            if (a->tag == vtRef && b->tag == vtRef) {
                auto slot = [](const TProcess& p, const TValue& ref) {
                    auto i = RefTarget(ref) - p.StackSlot(0);
                    return i >= 0 && i < TProcess::kStackSlots ? i : -1; // -1: a member or element
                };
                ASSERT_EQ(slot(*once, *a), slot(*stepped, *b)) << "budget " << budget << ", slot " << k;
            } else if (a->tag == vtObject && b->tag == vtObject)
                ASSERT_EQ(InstanceClass(ObjectOf(*a)), InstanceClass(ObjectOf(*b)))
                    << "budget " << budget << ", slot " << k;
            else if (a->tag == vtHost && b->tag == vtHost)
                ASSERT_EQ(HostOf(*a)->hostKind(), HostOf(*b)->hostKind())
                    << "budget " << budget << ", slot " << k;
            else
                ASSERT_EQ(std::memcmp(a, b, sizeof(TValue)), 0) << "budget " << budget << ", slot " << k;
        }
    }
    EXPECT_GT(steps, 100) << "the code ends within the budgets tried";
}

// The loop statements on int locals (x++, x -= c, x = a op b, a condition and its branch) may run in
// one dispatch; floats and objects take the instructions one by one.
TEST_F(RunTest, LoopStatementsCountEveryInstructionUnderAnyBudget) {
    TRTTI& cls =
        CompileAs("Loops", "function f() {\n"
                           "    var i, s, t, u;\n"
                           "    s = 0; t = 1.5; u = this;\n"
                           "    for (i = 0; i < 4; i++) { s = s + i; t = t + i; u = s * 3; s = s - 1; }\n"
                           "    for (i = 10; i >= s; i -= 3) { s = i - s; u = t - 2; }\n"
                           "    for (i = 2147483646; i > 0; i++) s = s + 1;\n"
                           "    if (i != s) u = i * i;\n"
                           "    return s + t + u;\n"
                           "}\n");
    ASSERT_FALSE(failed) << ErrorText();
    ExpectBudgetsMatchSingleSteps(cls, "f");
}

// A member of an argument read or written by name may be reached in one dispatch with the argument's
// instruction when the cached slot holds; a miss, or an argument that is no object, goes one by one.
TEST_F(RunTest, ArgumentMembersCountEveryInstructionUnderAnyBudget) {
    CompileAs("Other", "function make() { y = 1; x = 2; }");
    ASSERT_FALSE(failed) << ErrorText();
    TRTTI& cls =
        CompileAs("Members", "function g(o) {\n"
                             "    var i;\n"
                             "    for (i = 0; i < 3; i++) o.x = o.x + 1;\n"
                             "    o.y = o;\n"
                             "    o.y = i;\n"
                             "    return o.x * 10 + o.y;\n"
                             "}\n"
                             "function f() { x = 5; y = 0; return g(this) + g(new Other()) + g(this); }\n");
    ASSERT_FALSE(failed) << ErrorText();
    ExpectBudgetsMatchSingleSteps(cls, "f");
}

// The kernel's Array wrappers, in the shapes the interpreter runs in place.
const char* const kKernelLikeArray = "native native_add; native native_init; native native_get;\n"
                                     "native native_set;\n"
                                     "constructor Array() { _x = native_init(); }\n"
                                     "function add(v) { native_add(_x, v); return this; }\n"
                                     "function get(i) { return native_get(_x, i); }\n"
                                     "function set(i, v) { native_set(_x, i, v); return v; }\n";

// A call of Array's get, set or add may be run by the call instruction itself when the element access
// cannot fail; other calls (a float index, an object to release) enter the wrapper.
TEST_F(RunTest, ArrayWrapperCallsCountEveryInstructionUnderAnyBudget) {
    TRTTI& array = *vm.arrayClass;
    Recompile(array, kKernelLikeArray);
    ASSERT_FALSE(failed) << ErrorText();
    BindNatives(array, ArrayNatives(), reporter);
    TRTTI& cls = CompileAs("Lists", "function f() {\n"
                                    "    var a, i, s;\n"
                                    "    a = new Array();\n"
                                    "    for (i = 0; i < 5; i++) a.add(i * 2);\n"
                                    "    a.add(this).add(1.5);\n"
                                    "    for (i = 0; i < 5; i++) a.set(i, a.get(i) + 1);\n"
                                    "    a.set(5, a.get(0));\n"
                                    "    a.set(2, this);\n"
                                    "    s = a.get(2);\n"
                                    "    if (a.get(0)) s = 1;\n"
                                    "    s = a.get(3.0) + a.get(6) + a.get(4);\n"
                                    "    a.set(1, a);\n"
                                    "    a.set(1, 0);\n"
                                    "    return s + a.get(5);\n"
                                    "}\n");
    ASSERT_FALSE(failed) << ErrorText();
    ExpectBudgetsMatchSingleSteps(cls, "f");
}

// The native of an Array wrapper run in place is the one bound now: a rebinding after calls ran is met
// by the next call, and so is the native of the class compiled afresh (its old functions are gone).
TEST_F(RunTest, InPlaceArrayCallsMeetTheNativeBoundNow) {
    TRTTI& array = *vm.arrayClass;
    auto compileArray = [&] {
        Recompile(array, kKernelLikeArray);
        ASSERT_FALSE(failed) << ErrorText();
        BindNatives(array, ArrayNatives(), reporter);
    };
    // The first round finds the method by name; the later ones run it in place.
    const char* reader = "function f() {\n"
                         "    var a, i, s;\n"
                         "    a = new Array();\n"
                         "    a.add(7);\n"
                         "    for (i = 0; i < 3; i++) s = s + a.get(0);\n"
                         "    return s;\n"
                         "}\n"
                         "$r = f();";
    compileArray();
    Run({{"Reader", reader}});
    EXPECT_EQ(GlobalText("$r"), "21");
    ASSERT_TRUE(BindNative(
        array, "native_get", [](TValue* base, std::int32_t, std::int32_t) { ResultInt(base, 50); },
        reporter));
    Run({{"Reader", reader}});
    EXPECT_EQ(GlobalText("$r"), "150");
    compileArray();
    Run({{"Reader", reader}});
    EXPECT_EQ(GlobalText("$r"), "21");
}

// A call site remembers which function its receiver's class reached; a method replaced in the class's
// table, or the class compiled afresh with the method in another slot, is met at the next call from the
// same compiled code.
TEST_F(RunTest, CallSitesMeetTheMethodsTheirReceiversClassHasNow) {
    TRTTI& answer = CompileAs("Answer", "function v() { return 1; }");
    TRTTI& other = CompileAs("Other", "function v() { return 5; }");
    TRTTI& asker = CompileAs("Asker", "function f() {\n"
                                      "    var o, i, s;\n"
                                      "    o = new Answer();\n"
                                      "    s = 0;\n"
                                      "    for (i = 0; i < 3; i++) s = s + o.v();\n"
                                      "    return s;\n"
                                      "}\n"
                                      "$r = f();");
    ASSERT_FALSE(failed) << ErrorText();
    auto expectRun = [&](const char* expected, const char* what) {
        std::unique_ptr<TProcess> p = TProcess::Create(asker.NewInstance(), "");
        interp.RunToEnd(*p);
        EXPECT_EQ(GlobalText("$r"), expected) << what;
    };
    expectRun("3", "first run");
    // Replaced in the table while the old function lives on (held here): nothing is freed.
    TFunction* own = answer.FindMethodByName("v");
    ++own->useCount;
    answer.DefineMethod(other.FindMethodByName("v"));
    expectRun("15", "replaced");
    answer.DefineMethod(own);
    --own->useCount;
    expectRun("3", "put back");
    Recompile(answer, "function w() { return 0; }\nfunction v() { return 3; }");
    ASSERT_FALSE(failed) << ErrorText();
    expectRun("9", "compiled afresh");
}

} // namespace
} // namespace plimo::testing
