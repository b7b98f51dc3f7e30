// The dispatch loop: each opcode's effect, calls and returns, member and method lookup with their
// warnings and hooks, for-in, budgets, runtime errors, the stack limit and the debugger's break hook.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "interp_fixture.h"

namespace plimo {
namespace {

using testing::InterpFixture;
using W = TProgWriter;

class InterpreterTest : public InterpFixture {};

std::string Sjis(const char* utf8) {
    return Utf8ToSjis(utf8);
}

// ---- expressions: each program leaves one value and returns it from the bottom frame ----

struct ExprCase {
    const char* what;
    std::function<void(W&)> emit;
    TValueTag tag;
    const char* text;
};

TEST_F(InterpreterTest, ExpressionOpcodes) {
    TValue* global = vm.AllocCells(1);
    *global = TValue::Int(6);
    auto pushes = [](std::initializer_list<std::function<void(W&)>> list) {
        return [parts = std::vector<std::function<void(W&)>>(list)](W& w) {
            for (auto& p : parts) p(w);
        };
    };
    auto I = [](std::int32_t n) { return [n](W& w) { w.WritePushInt(n); }; };
    auto F = [](float x) { return [x](W& w) { w.WritePushFloat(x); }; };
    auto S = [](const char* t) { return [t](W& w) { w.WritePushString(t); }; };
    auto N = [](W& w) { w.WritePush(TValue::Null(), ""); };
    auto Op = [](const char* o) { return [o](W& w) { w.WriteOperator(o); }; };
    ExprCase cases[] = {
        {"int add", pushes({I(1), I(2), Op("+")}), vtInt, "3"},
        {"int float add", pushes({I(1), F(2.5f), Op("+")}), vtFloat, "3.5"},
        {"wrapping mul", pushes({I(65536), I(65536), Op("*")}), vtInt, "0"},
        {"div to float", pushes({I(7), I(2), Op("/")}), vtFloat, "3.5"},
        {"exact div", pushes({I(8), I(2), Op("/")}), vtInt, "4"},
        {"mod sign", pushes({I(-7), I(3), Op("%")}), vtInt, "-1"},
        {"null minus", pushes({N, I(5), Op("-")}), vtInt, "-5"},
        {"string plus int", pushes({S("a"), I(1), Op("+")}), vtObject, "a1"},
        {"int plus string", pushes({I(1), S("a"), Op("+")}), vtObject, "1a"},
        {"eq is float", pushes({I(1), I(1), Op("==")}), vtFloat, "1"},
        {"gt wraps", pushes({I(2147483647), I(-1), Op(">")}), vtFloat, "0"},
        {"string eq", pushes({S("x"), S("x"), Op("==")}), vtFloat, "1"},
        {"float lt", pushes({F(1.5f), I(2), Op("<")}), vtFloat, "1"},
        {"neq", pushes({I(1), I(2), Op("!=")}), vtFloat, "1"},
        {"not", pushes({I(0), [](W& w) { w.WriteNot(); }}), vtInt, "1"},
        {"neg", pushes({I(5), [](W& w) { w.WriteNeg(); }}), vtInt, "-5"},
        {"and or are no-ops", pushes({I(4), Op("&"), Op("|")}), vtInt, "4"},
        {"is array", pushes({N, [](W& w) { w.WriteIs(nullptr, "x"); }}), vtInt, "0"},
        {"push deref of a global's cell", pushes({[global](W& w) {
             w.WritePush(MakeRef(global), "$g"); // fused with the Deref into Op_Push_Deref
             w.WriteDeref();
         }}),
         vtInt, "6"},
    };
    for (const ExprCase& c : cases) {
        auto p = RunMain([&](W& w) {
            c.emit(w);
            w.WriteRet();
        });
        ASSERT_TRUE(p->Halted()) << c.what;
        ASSERT_TRUE(p->Result()) << c.what;
        EXPECT_EQ(p->Result()->tag, c.tag) << c.what;
        EXPECT_EQ(ResultText(*p), c.text) << c.what;
    }
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(InterpreterTest, JumpsAndShortCircuit) {
    // if (0) 1 else 2
    auto p = RunMain([](W& w) {
        w.WritePushInt(0);
        w.WriteJumpZero(8 + 12 + 8); // over Push 1 and the Jump
        w.WritePushInt(1);
        w.WriteJump(8 + 12);
        w.WritePushInt(2);
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*p), "2");
    // 0 && x keeps the 0; 3 || x keeps the 3; 1 && 5 drops the 1
    struct Case {
        std::int32_t left;
        bool isAnd;
        const char* result;
    } cases[] = {{0, true, "0"}, {3, false, "3"}, {1, true, "5"}, {0, false, "5"}};
    for (const Case& c : cases) {
        auto q = RunMain([&](W& w) {
            w.WritePushInt(c.left);
            if (c.isAnd)
                w.WriteJumpAnd(8 + 12);
            else
                w.WriteJumpOr(8 + 12);
            w.WritePushInt(5);
            w.WriteRet();
        });
        EXPECT_EQ(ResultText(*q), c.result) << c.left << c.isAnd;
    }
}

// ---- locals, members, assignment ----

TEST_F(InterpreterTest, AssignmentForms) {
    struct Case {
        const char* what;
        std::function<void(W&)> initial, value;
        const char* op;
        const char* result;
    } cases[] = {
        {"subst int", [](W& w) { w.WritePushInt(1); }, [](W& w) { w.WritePushInt(9); }, "=", "9"},
        {"add int", [](W& w) { w.WritePushInt(1); }, [](W& w) { w.WritePushInt(2); }, "+=", "3"},
        {"add float", [](W& w) { w.WritePushInt(1); }, [](W& w) { w.WritePushFloat(0.5f); }, "+=", "1.5"},
        {"sub from null is not negated", [](W& w) { w.WritePush(TValue::Null(), ""); },
         [](W& w) { w.WritePushInt(3); }, "-=", "3"},
        {"add to string unchanged", [](W& w) { w.WritePushString("s"); },
         [](W& w) { w.WritePushString("t"); }, "+=", "s"},
        {"add string to int unchanged", [](W& w) { w.WritePushInt(4); }, [](W& w) { w.WritePushString("t"); },
         "+=", "4"},
    };
    for (const Case& c : cases) {
        TRTTI* cls = objectClass.get();
        Method(*cls, "m", 1, [&](W& w) {
            w.WriteLocalValPtr(0);
            c.initial(w);
            w.WriteOperator("=");
            w.WritePop();
            w.WriteLocalValPtr(0);
            c.value(w);
            w.WriteOperator(c.op);
            w.WritePop();
            w.WriteLocalValPtr(0);
            w.WriteDeref();
            w.WriteRet();
        });
        auto p = TProcess::Create(objectClass->NewInstance(), "m");
        p->Run(0);
        EXPECT_EQ(ResultText(*p), c.result) << c.what;
    }
}

TEST_F(InterpreterTest, MembersByNameAndSlot) {
    auto p = RunMain([](W& w) {
        w.WritePushThis();
        w.WriteSMemberValPtr(1, "b");
        w.WritePushInt(40);
        w.WriteOperator("=");
        w.WritePop();
        w.WritePushThis();
        w.WriteDMemberValPtr("B"); // names ignore case
        w.WriteDeref();
        w.WritePushThis();
        w.WriteSMemberValPtr(1, "b");
        w.WriteDeref();
        w.WriteOperator("+");
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*p), "80");
    EXPECT_TRUE(reporter.messages.empty());
    // A slot beyond the object's own block is refused, not read.
    auto q = RunMain([](W& w) {
        w.WritePushString("s");
        w.WriteSMemberValPtr(1, "b");
        w.WriteDeref();
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*q), "Error #0");
    EXPECT_EQ(reporter.messages, (std::vector<std::string>{Sjis("変数bは定義されていません")}));
}

TEST_F(InterpreterTest, MissingMemberWarnsOncePerTextAndYieldsError) {
    // Three reads of "nope" in a loop, then one of "gone": two message boxes in all.
    auto p = RunMain([](W& w) {
        for (int i = 0; i < 3; ++i) {
            w.WritePushThis();
            w.WriteDMemberValPtr("nope");
            w.WriteDeref();
            w.WritePop();
        }
        w.WritePushThis();
        w.WriteDMemberValPtr("gone");
        w.WritePushInt(1);
        w.WriteOperator("="); // writes into the scratch cell, nowhere else
        w.WritePop();
        w.WritePush(TValue::Error(0), "");
        w.WriteDMemberValPtr("chained"); // an error target gives no warning
        w.WriteDeref();
        w.WriteRet();
    });
    EXPECT_EQ(reporter.messages, (std::vector<std::string>{Sjis("変数nopeは定義されていません"),
                                                           Sjis("変数goneは定義されていません")}));
    EXPECT_EQ(ResultText(*p), "Error #0");
    EXPECT_EQ(interp.LastWarning(), Sjis("変数goneは定義されていません"));
    interp.ClearWarnings();
    auto q = RunMain([](W& w) {
        w.WritePushInt(3);
        w.WriteDMemberValPtr("x");
        w.WriteDeref();
        w.WritePop();
        w.WritePushThis();
        w.WriteDMemberValPtr("a");
        w.WriteDeref(); // an unset member
        w.WriteDMemberValPtr("y");
        w.WriteDeref();
        w.WriteRet();
    });
    EXPECT_EQ(reporter.messages.back(), Sjis("変数aは初期化されていないため、メンバ変数yを参照できません"));
    EXPECT_EQ(reporter.messages[2], Sjis("3はオブジェクトではないため、メンバ変数xを参照できません"));
}

TEST_F(InterpreterTest, ArgumentsBeyondTheCountReadNull) {
    TRTTI* cls = objectClass.get();
    Method(*cls, "two", 0, [](W& w) {
        w.WriteArgValPtr(3);
        w.WritePushInt(7);
        w.WriteOperator("="); // goes to the scratch cell
        w.WritePop();
        w.WriteArgValPtr(3);
        w.WriteDeref();
        w.WriteArgValPtr(1);
        w.WriteDeref();
        w.WriteOperator("+"); // null + 20 = 20
        w.WriteArgValPtr(0);
        w.WriteDeref();
        w.WriteOperator("-");
        w.WriteRet();
    });
    auto p = RunMain([](W& w) {
        w.WritePushThis();
        w.WritePushInt(5);
        w.WritePushInt(20);
        w.WriteDCall("two", 2);
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*p), "15");
}

// ---- calls ----

TEST_F(InterpreterTest, VirtualStaticAndSuperCalls) {
    TRTTI* base = objectClass.get();
    TNormalFunction* baseF = Method(*base, "f", 0, [](W& w) {
        w.WritePushInt(1);
        w.WriteRet();
    });
    auto sub = MakeClass("Sub", {}, base);
    Method(*sub, "f", 1, [&](W& w) {
        w.WriteLocalValPtr(0);
        w.WritePushThis();
        w.WriteSuperCall(baseF, 0, "f"); // 1
        w.WriteOperator("=");
        w.WritePop();
        w.WriteLocalValPtr(0);
        w.WriteDeref();
        w.WritePushInt(10);
        w.WriteOperator("+");
        w.WriteRet();
    });
    ASSERT_EQ(sub->MethodSlot("f"), base->MethodSlot("f"));
    std::int32_t slot = base->MethodSlot("f");
    mainClass = MakeClass("Main", {"a"}, base);
    mainClass->mainCode = Assemble(*mainClass, [&](W& w) {
        w.WritePushThis();
        w.WriteSMemberValPtr(0, "a");
        w.WritePushInt(0); // placeholder for the new instance
        w.WriteConstructor(sub.get(), 0, "Sub");
        w.WriteOperator("=");
        w.WritePop();
        w.WritePushThis();
        w.WriteSMemberValPtr(0, "a");
        w.WriteDeref();
        w.WriteSCall(slot, 0, "f"); // the override: 11
        w.WritePushThis();
        w.WriteSMemberValPtr(0, "a");
        w.WriteDeref();
        w.WriteDCall("F", 0); // by name, any case: 11
        w.WriteOperator("+");
        w.WritePushThis();
        w.WriteSCall(slot, 0, "f"); // on a Main: the base's 1
        w.WriteOperator("+");
        w.WriteRet();
    });
    auto p = TProcess::Create(mainClass->NewInstance(), "");
    p->Run(0);
    EXPECT_EQ(ResultText(*p), "23");
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(InterpreterTest, ConstructorReceivesArgumentsAndYieldsInstance) {
    auto point = MakeClass("Point", {"x"}, objectClass.get());
    Method<TConstructor>(*point, "constructor", 0, [](W& w) {
        w.WritePushThis();
        w.WriteSMemberValPtr(0, "x");
        w.WriteArgValPtr(0);
        w.WriteDeref();
        w.WriteOperator("=");
        w.WritePop();
        w.WritePushThis();
        w.WriteRet();
    });
    auto plain = MakeClass("Plain", {}, objectClass.get()); // no constructor at all
    auto p = RunMain([&](W& w) {
        w.WritePush(TValue::Null(), "");
        w.WritePushInt(42);
        w.WriteConstructor(point.get(), 1, "Point");
        w.WriteDMemberValPtr("x");
        w.WriteDeref();
        w.WritePush(TValue::Null(), "");
        w.WritePushInt(1);
        w.WriteConstructor(plain.get(), 1, "Plain");
        w.WriteIs(plain.get(), "Plain");
        w.WriteOperator("+");
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*p), "43");
    // Both instances were released when the expression consumed them.
    for (TInstance* b : point->Pool()) EXPECT_EQ(b->refCount, 0);
    for (TInstance* b : plain->Pool()) EXPECT_EQ(b->refCount, 0);
}

TEST_F(InterpreterTest, MissingMethodRunsErrorHook) {
    Method(*objectClass, "_errorHook", 0, [](W& w) {
        w.WriteArgValPtr(0);
        w.WriteDeref();
        w.WritePushInt(100);
        w.WriteOperator("+");
        w.WriteRet();
    });
    auto p = RunMain([](W& w) {
        w.WritePushThis();
        w.WritePushInt(1);
        w.WriteDCall("nothing", 1); // on an object: the hook, after one warning
        w.WritePush(TValue::Null(), "");
        w.WritePushInt(2);
        w.WriteDCall("onNull", 1); // on null: Object's hook with null as this
        w.WriteOperator("+");
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*p), "203");
    EXPECT_EQ(
        reporter.messages,
        (std::vector<std::string>{Sjis("メソッドnothingは定義されていません"),
                                  Sjis("nullはオブジェクトではないため、メソッドonNullを呼び出せません")}));
}

TEST_F(InterpreterTest, CallErrorsEndTheProcess) {
    Native(*objectClass, "nat", [](TValue*, std::int32_t, std::int32_t) {});
    struct Case {
        const char* what;
        std::function<void(W&)> emit;
        std::vector<std::string> messages;
    } cases[] = {
        {"missing method, no hook",
         [](W& w) {
             w.WritePushThis();
             w.WriteDCall("nothing", 0);
         },
         {Sjis("メソッドnothingは定義されていません"), Sjis("メソッドnothingは定義されていません")}},
        {"native by name",
         [](W& w) {
             w.WritePushThis();
             w.WriteDCall("nat", 0);
         },
         {Sjis("Native関数natは呼び出せません")}},
        {"method on an int",
         [](W& w) {
             w.WritePushInt(3);
             w.WriteDCall("m", 0);
         },
         {Sjis("3はオブジェクトではないため、メソッドmを呼び出せません"),
          Sjis("3はオブジェクトではないため、メソッドmを呼び出せません")}},
        {"zero divide",
         [](W& w) {
             w.WritePushInt(1);
             w.WritePushInt(0);
             w.WriteOperator("/");
         },
         {Sjis("ゼロによる除算")}},
        {"for-in over a non-array",
         [](W& w) {
             w.WriteLocalValPtr(0);
             w.WritePushInt(1);
             w.WriteInitForIn();
         },
         {Sjis("inの後ろの値が配列でありません")}},
    };
    for (const Case& c : cases) {
        reporter.messages.clear();
        interp.ClearWarnings();
        auto p = RunMain([&](W& w) {
            c.emit(w);
            w.WriteRet();
        });
        EXPECT_TRUE(p->Halted()) << c.what;
        EXPECT_TRUE(p->Released()) << c.what;
        EXPECT_EQ(p->ErrorState(), 2) << c.what;
        EXPECT_EQ(reporter.messages, c.messages) << c.what;
        EXPECT_EQ(interp.currentProcess, nullptr);
    }
}

// ---- natives ----

struct NativeLog {
    std::int32_t calls = 0, argc = -1;
    std::string first;
    TProcess* current = nullptr;
    TProcess* inner = nullptr;
    TProcess* currentAfterInner = nullptr;
};
NativeLog g_log;

TEST_F(InterpreterTest, NativeCallConvention) {
    g_log = {};
    TNativeFunction* nat =
        Native(*objectClass, "nat", [](TValue* base, std::int32_t argc, std::int32_t zero) {
            ++g_log.calls;
            g_log.argc = argc;
            g_log.first = ValueToText(base[-1]);
            if (argc < 2) return; // too few: the receiver stays as the value
            SetInt(*base, ValueToInt(base[-1]) * 10 + ValueToInt(base[-2]));
        });
    TNativeFunction* unbound = new TNativeFunction(objectClass.get(), SymbolOf("unbound"));
    objectClass->AddMethod(unbound);
    auto p = RunMain([&](W& w) {
        w.WritePushInt(0);
        w.WritePushInt(4);
        w.WritePushInt(2);
        w.WriteNativeCall(nat, 2, "nat"); // 42
        w.WritePushInt(5);
        w.WritePushString("only");
        w.WriteNativeCall(nat, 1, "nat"); // 5, and the string argument is released
        w.WriteOperator("+");
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*p), "47");
    EXPECT_EQ(g_log.calls, 2);
    EXPECT_EQ(g_log.first, "only");
    for (TInstance* b : stringClass->Pool()) EXPECT_LE(b->refCount, 0);

    auto q = RunMain([&](W& w) {
        w.WritePushThis();
        w.WriteNativeCall(unbound, 0, "unbound");
        w.WriteRet();
    });
    EXPECT_EQ(q->ErrorState(), 2);
    EXPECT_EQ(reporter.messages.back(), Sjis("native関数が実装されていません"));
}

TEST_F(InterpreterTest, NestedRunRestoresCurrentAndErrorsStayInside) {
    g_log = {};
    auto failing = MakeClass("Failing", {}, objectClass.get());
    failing->mainCode = Assemble(*failing, [](W& w) {
        w.WritePushInt(1);
        w.WritePushInt(0);
        w.WriteOperator("%");
        w.WriteRet();
    });
    auto inner = TProcess::Create(failing->NewInstance(), "");
    g_log.inner = inner.get();
    TNativeFunction* exec = Native(*objectClass, "exec", [](TValue*, std::int32_t, std::int32_t) {
        TInterpreter* in = TInterpreter::Current();
        g_log.current = in->currentProcess;
        g_log.inner->Run(0);
        g_log.currentAfterInner = in->currentProcess;
    });
    auto p = RunMain([&](W& w) {
        w.WritePushThis();
        w.WriteNativeCall(exec, 0, "exec");
        w.WritePop();
        w.WritePushInt(8);
        w.WriteRet();
    });
    EXPECT_EQ(g_log.current, p.get());
    EXPECT_EQ(g_log.currentAfterInner, p.get());
    EXPECT_EQ(interp.currentProcess, nullptr);
    EXPECT_EQ(inner->ErrorState(), 2);
    EXPECT_TRUE(inner->Halted());
    EXPECT_EQ(p->ErrorState(), 0);
    EXPECT_EQ(ResultText(*p), "8");
    EXPECT_EQ(reporter.messages, (std::vector<std::string>{Sjis("ゼロによる除算")}));
}

TEST_F(InterpreterTest, SuspendEndsTheSliceAfterTheNative) {
    TNativeFunction* suspend = Native(*objectClass, "suspend", [](TValue*, std::int32_t, std::int32_t) {
        TInterpreter::Current()->currentProcess->Suspend();
    });
    auto p = RunMain([&](W& w) {
        w.WritePushThis();
        w.WriteNativeCall(suspend, 0, "suspend");
        w.WritePop();
        w.WritePushInt(6);
        w.WriteRet();
    });
    EXPECT_TRUE(p->Suspended());
    EXPECT_FALSE(p->Halted());
    EXPECT_EQ(p->Ran(), 2);
    EXPECT_FALSE(interp.preempted);
    p->Run(0);
    EXPECT_TRUE(p->Halted());
    EXPECT_EQ(ResultText(*p), "6");
}

TEST_F(InterpreterTest, NativeKillingItsOwnProcessStopsAtOnce) {
    TNativeFunction* kill = Native(*objectClass, "kill", [](TValue*, std::int32_t, std::int32_t) {
        TInterpreter::Current()->currentProcess->Kill();
    });
    auto p = RunMain([&](W& w) {
        w.WritePushThis();
        w.WritePushString("arg");
        w.WriteNativeCall(kill, 1, "kill");
        w.WriteRet();
    });
    EXPECT_TRUE(p->Released());
    EXPECT_EQ(p->ErrorState(), 0);
    for (TInstance* b : stringClass->Pool()) EXPECT_EQ(b->refCount, 0);
}

// ---- budgets ----

TEST_F(InterpreterTest, BudgetStopsMidLoopAndResumesThere) {
    // A 4-instruction endless loop: Push, Pop, And, Jump back.
    auto p = RunMain(
        [](W& w) {
            w.WritePushInt(1);
            w.WritePop();
            w.WriteOperator("&");
            w.WriteJump(-(12 + 4 + 4));
        },
        10);
    auto offset = [&] { return p->PcOffset(); };
    EXPECT_EQ(offset(), 16); // 10 = 4 + 4 + 2: the third round stops before And
    EXPECT_TRUE(interp.preempted);
    EXPECT_FALSE(p->Halted());
    interp.preempted = false;
    p->Run(3); // And, Jump, Push
    EXPECT_EQ(offset(), 12);
    EXPECT_TRUE(interp.preempted);
    interp.preempted = false;
    interp.recordPreemption = false;
    p->Run(5);
    EXPECT_FALSE(interp.preempted);
    EXPECT_EQ(p->StackTop(), TProcess::kStackSlots - 5); // the bottom frame's empty top: nothing accumulates
}

// A comparison followed by Op_JumpZero, and an assignment followed by Op_Pop, are run as pairs when
// the slice allows both; either way they count as two instructions, and a slice that ends between them
// leaves the intermediate value on the stack just as separate instructions would.
TEST_F(InterpreterTest, ConditionBranchesAndCountsAsTwoInstructions) {
    struct Case {
        const char* what;
        std::function<void(W&)> left, right;
        const char* op;
        const char* result; // 7: the condition held, 9: it did not
    };
    auto I = [](std::int32_t n) { return [n](W& w) { w.WritePushInt(n); }; };
    const Case cases[] = {
        {"int lt", I(1), I(2), "<", "7"},
        {"int lt fails", I(2), I(1), "<", "9"},
        {"gt wraps", I(2147483647), I(-1), ">", "9"},
        {"lte equal", I(3), I(3), "<=", "7"},
        {"gte", I(2), I(3), ">=", "9"},
        {"eq", I(4), I(4), "==", "7"},
        {"neq", I(4), I(4), "!=", "9"},
        {"float", [](W& w) { w.WritePushFloat(1.5f); }, I(1), ">", "7"},
        {"strings", [](W& w) { w.WritePushString("a"); }, [](W& w) { w.WritePushString("b"); }, "==", "9"},
    };
    // Push @0, Push @12, compare @24, JumpZero @28, Push 7 @36, Ret @48, Push 9 @52, Ret @64.
    auto emit = [](const Case& c) {
        return [&c](W& w) {
            c.left(w);
            c.right(w);
            w.WriteOperator(c.op);
            w.WriteJumpZero(52 - 28);
            w.WritePushInt(7);
            w.WriteRet();
            w.WritePushInt(9);
            w.WriteRet();
        };
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResultText(*RunMain(emit(c))), c.result) << c.what;
        auto p = RunMain(emit(c), 3);
        EXPECT_EQ(p->PcOffset(), 28) << c.what; // stopped on the JumpZero
        EXPECT_EQ(p->StackTop(), TProcess::kStackSlots - 6) << c.what;
        EXPECT_EQ(ValueToText(*p->StackSlot(p->StackTop())), c.result[0] == '7' ? "1" : "0") << c.what;
        p->Run(1);
        EXPECT_EQ(p->PcOffset(), c.result[0] == '7' ? 36 : 52) << c.what;
        EXPECT_EQ(p->StackTop(), TProcess::kStackSlots - 5) << c.what;
        p->Run(0);
        EXPECT_EQ(ResultText(*p), c.result) << c.what;
    }
}

TEST_F(InterpreterTest, AssignmentThenPopCountsAsTwoInstructions) {
    TValue* global = vm.AllocCells(1);
    auto emit = [&](W& w) {
        w.WritePush(MakeRef(global), "$g"); // @0
        w.WritePushInt(5);                  // @12
        w.WriteOperator("=");               // @24
        w.WritePop();                       // @28
        w.WritePush(MakeRef(global), "$g"); // @32
        w.WritePushInt(2);
        w.WriteOperator("+=");
        w.WritePop();
        w.WritePushInt(0);
        w.WriteRet();
    };
    auto p = RunMain(emit, 3);
    EXPECT_EQ(p->PcOffset(), 28);
    EXPECT_EQ(p->StackTop(), TProcess::kStackSlots - 6); // the assigned value is still the top
    EXPECT_EQ(ValueToText(*global), "5");
    p->Run(1);
    EXPECT_EQ(p->PcOffset(), 32);
    EXPECT_EQ(p->StackTop(), TProcess::kStackSlots - 5);
    p->Run(3); // Push, Push, AddSubst: the Pop is left
    EXPECT_EQ(p->PcOffset(), 32 + 12 + 12 + 4);
    EXPECT_EQ(p->StackTop(), TProcess::kStackSlots - 6);
    EXPECT_EQ(ValueToText(*global), "7");
    p->Run(0);
    EXPECT_EQ(ResultText(*p), "0");
    EXPECT_EQ(ValueToText(*global), "7");
    vm.FreeCells(global, 1);
}

// An argument's member read and written by name (o.x = o.x + 1), once with the hints cold and once warm:
// the same counts, stops and object counts (guards any pairing of the argument and member instructions).
TEST_F(InterpreterTest, ArgumentMemberPairCountsAsTwoInstructions) {
    auto pt = MakeClass("Pt", {"x"}, objectClass.get());
    Method(*pt, "bump", 0, [](W& w) {
        w.WriteArgValPtr(0); // @0, fused with its Deref
        w.WriteDeref();
        w.WriteDMemberValPtr("x"); // @12
        w.WriteArgValPtr(0);       // @24
        w.WriteDeref();
        w.WriteDMemberValPtr("x"); // @36, fused with its Deref
        w.WriteDeref();
        w.WritePushInt(1); // @52
        w.WriteOperator("+");
        w.WriteOperator("=");
        w.WriteRet();
    });
    TInstance* o = pt->NewInstance();
    SetInt(o->members()[0], 5);
    TValue arg = TValue::Null();
    SetObject(arg, o);
    std::int32_t held = o->refCount;
    for (int round = 0; round < 2; ++round) {
        auto p = TProcess::Create(o, "bump", &arg, 1);
        p->Run(1); // the argument only: the member instruction is left
        EXPECT_EQ(p->PcOffset(), 12) << round;
        EXPECT_EQ(p->StackSlot(p->StackTop())->tag, vtObject) << round;
        EXPECT_EQ(o->refCount, held + 3) << round; // receiver, argument and the pushed copy
        p->Run(3); // member, argument, member
        EXPECT_EQ(p->PcOffset(), 52) << round;
        EXPECT_EQ(ValueToText(*p->StackSlot(p->StackTop())), std::to_string(5 + round)) << round;
        EXPECT_EQ(o->refCount, held + 2) << round;
        p->Run(0);
        EXPECT_EQ(ResultText(*p), std::to_string(6 + round)) << round;
        EXPECT_EQ(ValueToText(o->members()[0]), std::to_string(6 + round)) << round;
    }
    EXPECT_EQ(o->refCount, held);
    SetNull(arg);
}

TEST_F(InterpreterTest, InvalidOpcodeSpendsTheSliceWithoutMoving) {
    mainClass = MakeClass("Main", {}, objectClass.get());
    std::int32_t words[] = {77, Op_Halt};
    mainClass->mainCode = std::make_unique<TCompiledInfo>(reinterpret_cast<const std::uint8_t*>(words),
                                                          static_cast<std::int32_t>(sizeof words),
                                                          TSymInfoList{}, mainClass.get());
    auto p = TProcess::Create(mainClass->NewInstance(), "");
    p->Run(50);
    EXPECT_FALSE(p->Halted());
    EXPECT_EQ(p->Pc(), reinterpret_cast<const std::int32_t*>(mainClass->mainCode->Code()));
    EXPECT_TRUE(interp.preempted);
}

TEST_F(InterpreterTest, PointWritesThePositionRegisters) {
    mainClass = MakeClass("Main", {}, objectClass.get());
    std::int32_t words[] = {Op_Point, ClassWord(mainClass.get()), 99, 0, Op_Push, vtInt, 3, Op_Ret, Op_Halt};
    mainClass->mainCode = std::make_unique<TCompiledInfo>(reinterpret_cast<const std::uint8_t*>(words),
                                                          static_cast<std::int32_t>(sizeof words), TSymInfoList{},
                                                          mainClass.get());
    auto p = TProcess::Create(mainClass->NewInstance(), "");
    p->Run(0);
    EXPECT_EQ(p->Position()[0], ClassWord(mainClass.get()));
    EXPECT_EQ(p->Position()[1], 99);
    EXPECT_EQ(ResultText(*p), "3");
}

// A debugger double: counts breaks and allows one more instruction each time, `steps` times.
class StepHook : public TBreakHook {
public:
    void WaitForDebugger(TInterpreter& in) override {
        ++breaks;
        in.globalStepLimit = breaks < steps ? 1 : TInterpreter::kHostBudget;
    }
    int breaks = 0, steps = 0;
};

TEST_F(InterpreterTest, StepLimitBreaksIntoTheDebuggerPerInstruction) {
    StepHook hook;
    hook.steps = 3;
    interp.breakHook = &hook;
    interp.globalStepLimit = 1;
    auto p = RunMain([](W& w) {
        for (int i = 0; i < 5; ++i) w.WritePushInt(i);
        w.WriteRet();
    });
    EXPECT_EQ(hook.breaks, 3); // after instructions 1, 2 and 3
    // While stepping, each allowance is the slice's budget; the Run that left stepping ends there.
    EXPECT_FALSE(p->Halted());
    EXPECT_EQ(p->StackTop(), TProcess::kStackSlots - 5 - 3);
    p->Run(0);
    EXPECT_EQ(hook.breaks, 3);
    EXPECT_TRUE(p->Halted());
    EXPECT_EQ(ResultText(*p), "4");
    EXPECT_EQ(interp.globalStepLimit, TInterpreter::kHostBudget);
}

TEST_F(InterpreterTest, StepLimitWithoutDebuggerCarriesOn) {
    interp.globalStepLimit = 0;
    auto p = RunMain([](W& w) {
        w.WritePushInt(2);
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*p), "2");
}

// ---- for-in ----

TEST_F(InterpreterTest, ForInVisitsElementsAppendedByTheBody) {
    TNativeFunction* add = Native(*objectClass, "add", [](TValue* base, std::int32_t argc, std::int32_t) {
        if (argc < 2) return;
        if (TElementList* list = HostAs<TElementList>(base[-1])) list->Add(base[-2]);
    });
    // sum = 0; for (x in a) { sum += x; if (x < 4) a.add(x + 1) }  — starting from [1]
    auto cls = MakeClass("Main", {"a"}, objectClass.get());
    Method(*cls, "run", 2, [&](W& w) { // local 0: x, local 1: sum
        w.WriteLocalValPtr(1);
        w.WritePushInt(0);
        w.WriteOperator("=");
        w.WritePop();
        w.WriteLocalValPtr(0);
        w.WritePushThis();
        w.WriteSMemberValPtr(0, "a");
        w.WriteDeref();
        w.WriteInitForIn();
        std::int32_t head = w.GetPosition();
        w.WriteDoForIn(0);
        w.WriteLocalValPtr(1);
        w.WriteLocalValPtr(0);
        w.WriteDeref();
        w.WriteOperator("+=");
        w.WritePop();
        w.WriteLocalValPtr(0);
        w.WriteDeref();
        w.WritePushInt(4);
        w.WriteOperator("<");
        std::int32_t skip = w.GetPosition();
        w.WriteJumpZero(0);
        w.WritePushThis(); // receiver of the native
        w.WritePushThis();
        w.WriteSMemberValPtr(0, "a");
        w.WriteDeref();
        w.WriteDMemberValPtr("_x");
        w.WriteDeref();
        w.WriteLocalValPtr(0);
        w.WriteDeref();
        w.WritePushInt(1);
        w.WriteOperator("+");
        w.WriteNativeCall(add, 2, "add");
        w.WritePop();
        std::int32_t back = w.GetPosition();
        w.WriteJump(head - back);
        std::int32_t end = w.GetPosition();
        w.SetPosition(head);
        w.WriteDoForIn(end - head);
        w.SetPosition(skip);
        w.WriteJumpZero(back - skip + 8);
        w.SeekEnd();
        w.WriteClearForIn();
        w.WriteLocalValPtr(1);
        w.WriteDeref();
        w.WriteRet();
    });
    TInstance* self = cls->NewInstance();
    TInstance* array = NewArray();
    SetObject(self->members()[0], array);
    Elements(array)->Add(TValue::Int(1));
    auto p = TProcess::Create(self, "run");
    p->Run(0);
    EXPECT_EQ(ResultText(*p), "10"); // 1 + 2 + 3 + 4
    EXPECT_EQ(Elements(array)->Count(), 4);
    EXPECT_EQ(array->refCount, 1); // the loop's hold on the array was released
    EXPECT_TRUE(reporter.messages.empty());
}

// ---- the stack limit ----

TEST_F(InterpreterTest, StackOverflowEndsTheProcessInsteadOfOverrunning) {
    Method(*objectClass, "deep", 3, [](W& w) {
        w.WritePushThis();
        w.WritePushInt(1);
        w.WriteDCall("deep", 1);
        w.WriteRet();
    });
    struct Case {
        const char* what;
        std::function<void(W&)> emit;
    } cases[] = {
        {"recursion",
         [](W& w) {
             w.WritePushThis();
             w.WriteDCall("deep", 0);
         }},
        {"long expression",
         [](W& w) {
             for (int i = 0; i < 200; ++i) w.WritePushInt(i);
         }},
        {"strings",
         [](W& w) {
             for (int i = 0; i < 200; ++i) w.WritePushString("s");
         }},
    };
    for (const Case& c : cases) {
        reporter.messages.clear();
        auto p = RunMain([&](W& w) {
            c.emit(w);
            w.WriteRet();
        });
        EXPECT_EQ(p->ErrorState(), 2) << c.what;
        EXPECT_EQ(reporter.messages, (std::vector<std::string>{Sjis("スタックがあふれました")})) << c.what;
        for (TInstance* b : objectClass->Pool()) EXPECT_LE(b->refCount, 0) << c.what;
        for (TInstance* b : stringClass->Pool()) EXPECT_LE(b->refCount, 0) << c.what;
    }
}

// ---- the debugger's views ----

TEST_F(InterpreterTest, DumpStackAndTrace) {
    std::vector<std::string> dump;
    TTraceList trace;
    static std::vector<std::string>* s_dump;
    static TTraceList* s_trace;
    s_dump = &dump;
    s_trace = &trace;
    TNativeFunction* look = Native(*objectClass, "look", [](TValue*, std::int32_t, std::int32_t) {
        TProcess* p = TInterpreter::Current()->currentProcess;
        p->DumpStack(*s_dump);
        *s_trace = p->GetTrace();
    });
    mainClass = MakeClass("Main", {}, objectClass.get());
    mainClass->src = "/p/Main.plimo";
    Method(*mainClass, "two", 1, [&](W& w) {
        w.WritePoint(mainClass.get(), 77);
        w.WritePushInt(9);
        w.WritePushThis();
        w.WriteNativeCall(look, 0, "look");
        w.WriteRet();
    });
    mainClass->mainCode = Assemble(*mainClass, [&](W& w) {
        w.WritePoint(mainClass.get(), 5);
        w.WritePushThis();
        w.WritePushInt(1);
        w.WritePushString("b");
        w.WriteDCall("two", 2);
        w.WriteRet();
    });
    auto p = TProcess::Create(mainClass->NewInstance(), "");
    p->Run(0);
    std::string self = ValueToText(*p->StackSlot(TProcess::kStackSlots - 1));
    EXPECT_EQ(dump, (std::vector<std::string>{"stacks", self, "9", "null", "args/this 2", "b", "1", self,
                                              "stacks", "args/this 0", self, "-----------", self}));
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].file, "/p/Main.plimo");
    EXPECT_EQ(trace[0].offset, 77);
    EXPECT_EQ(trace[1].offset, 5);
}

} // namespace
} // namespace plimo
