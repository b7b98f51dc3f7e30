// Processes: creation by method name, kill and release, destroy, run to the end, and the short-lived
// processes of destructors and mark methods.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/instance.h"
#include "interp_fixture.h"

namespace plimo {
namespace {

using testing::InterpFixture;
using W = TProgWriter;

class ProcessTest : public InterpFixture {
protected:
    ProcessTest() {
        cls = MakeClass("Thing", {"v"}, objectClass.get());
        cls->mainCode = Assemble(*cls, [](W& w) {
            w.WritePushInt(1);
            w.WriteRet();
        });
    }
    std::unique_ptr<TRTTI> cls;
};

int g_destructorRuns = 0;
TProcess* g_destructorProcess = nullptr;

TEST_F(ProcessTest, CreateChoosesWhatRuns) {
    Method(*cls, "two", 0, [](W& w) {
        w.WritePushInt(2);
        w.WriteRet();
    });
    struct Case {
        const char* method;
        const char* result;
    } cases[] = {{"", "1"}, {"constructor", "1"}, {"destructor", "1"}, {"two", "2"}, {"TWO", "2"}};
    for (const Case& c : cases) {
        auto p = TProcess::Create(cls->NewInstance(), c.method);
        p->Run(0);
        EXPECT_TRUE(p->Halted()) << c.method;
        EXPECT_EQ(ResultText(*p), c.result) << c.method;
    }
    try {
        TProcess::Create(cls->NewInstance(), "nothing");
        ADD_FAILURE();
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(e.text(), Utf8ToSjis("メソッドnothingは未定義です"));
    }
    // A class without main code gives a process that has nothing to run.
    auto empty = MakeClass("Empty", {}, objectClass.get());
    auto q = TProcess::Create(empty->NewInstance(), "");
    q->Run(0);
    EXPECT_FALSE(q->Halted());
    interp.RunToEnd(*q); // returns rather than spinning
}

TEST_F(ProcessTest, KillReleasesStackValuesOnce) {
    TNativeFunction* suspend = Native(*objectClass, "suspend", [](TValue*, std::int32_t, std::int32_t) {
        TInterpreter::Current()->currentProcess->Suspend();
    });
    Method(*cls, "hold", 1, [&](W& w) {
        w.WriteLocalValPtr(0);
        w.WritePush(TValue::Null(), "");
        w.WriteConstructor(cls.get(), 0, "Thing");
        w.WriteOperator("=");
        w.WritePop();
        w.WritePushThis();
        w.WriteNativeCall(suspend, 0, "suspend");
        w.WriteRet();
    });
    TInstance* self = cls->NewInstance();
    auto p = TProcess::Create(self, "hold");
    p->Run(0);
    ASSERT_TRUE(p->Suspended());
    ASSERT_EQ(cls->Pool().size(), 2u);
    TInstance* held = cls->Pool()[1];
    EXPECT_EQ(held->refCount, 1);
    EXPECT_EQ(self->refCount, 2); // the receiver cell and the native's receiver slot

    int marked = 0;
    p->MarkStack([&](TValue& v) { marked += v.tag == vtObject; });
    EXPECT_EQ(marked, 3);

    p->Kill();
    EXPECT_TRUE(p->Halted());
    EXPECT_TRUE(p->Released());
    EXPECT_EQ(held->refCount, 0);
    EXPECT_EQ(self->refCount, 0);
    p->Kill();
    EXPECT_EQ(held->refCount, 0); // nothing released twice
    p->Run(0);                    // a killed process never runs again
    std::vector<std::string> dump;
    p->DumpStack(dump);
    EXPECT_TRUE(dump.empty());
}

TEST_F(ProcessTest, DestroyCountsDown) {
    long processes = vm.stats().processes, stacks = vm.stats().stacks;
    TInstance* self = cls->NewInstance();
    {
        auto p = TProcess::Create(self, "");
        EXPECT_EQ(vm.stats().processes, processes + 1);
        EXPECT_EQ(vm.stats().stacks, stacks + 1);
        EXPECT_EQ(interp.LiveProcesses(), 1);
        EXPECT_EQ(self->refCount, 1);
        EXPECT_EQ(ValueToText(TValue::Make(vtHost, p->hostId())), "TProcess");
    }
    EXPECT_EQ(vm.stats().processes, processes);
    EXPECT_EQ(vm.stats().stacks, stacks);
    EXPECT_EQ(interp.LiveProcesses(), 0);
    EXPECT_EQ(self->refCount, 0); // destroying an unrun process released its receiver
}

TEST_F(ProcessTest, DestroyWhileRunningWaitsForTheRunToReturn) {
    TNativeFunction* free = Native(*objectClass, "free", [](TValue*, std::int32_t, std::int32_t) {
        TProcess::Destroy(TInterpreter::Current()->currentProcess);
    });
    Method(*cls, "selfFree", 0, [&](W& w) {
        w.WritePushThis();
        w.WriteNativeCall(free, 0, "free");
        w.WriteRet();
    });
    TInstance* self = cls->NewInstance();
    TProcess* p = TProcess::Create(self, "selfFree").release();
    p->Run(0); // deletes itself on the way out
    EXPECT_EQ(interp.LiveProcesses(), 0);
    EXPECT_EQ(interp.currentProcess, nullptr);
    EXPECT_EQ(self->refCount, 0);
    TProcess::Destroy(TProcess::Create(self, "").release()); // not running: deleted at once
    EXPECT_EQ(interp.LiveProcesses(), 0);
}

TEST_F(ProcessTest, RunToEndRunsSuspendingProcessesAndKeepsPreempted) {
    TNativeFunction* suspend = Native(*objectClass, "suspend", [](TValue*, std::int32_t, std::int32_t) {
        TInterpreter::Current()->currentProcess->Suspend();
    });
    Method(*cls, "steps", 1, [&](W& w) { // for (i = 0; i < 5; i += 1) suspend(); return i
        w.WriteLocalValPtr(0);
        w.WritePushInt(0);
        w.WriteOperator("=");
        w.WritePop();
        std::int32_t head = w.GetPosition();
        w.WriteLocalValPtr(0);
        w.WriteDeref();
        w.WritePushInt(5);
        w.WriteOperator("<");
        std::int32_t exit = w.GetPosition();
        w.WriteJumpZero(0);
        w.WritePushThis();
        w.WriteNativeCall(suspend, 0, "suspend");
        w.WritePop();
        w.WriteLocalValPtr(0);
        w.WritePushInt(1);
        w.WriteOperator("+=");
        w.WritePop();
        std::int32_t back = w.GetPosition();
        w.WriteJump(head - back);
        w.SetPosition(exit);
        w.WriteJumpZero(back + 8 - exit);
        w.SeekEnd();
        w.WriteLocalValPtr(0);
        w.WriteDeref();
        w.WriteRet();
    });
    auto p = TProcess::Create(cls->NewInstance(), "steps");
    interp.preempted = true;
    interp.RunToEnd(*p);
    EXPECT_TRUE(p->Halted());
    EXPECT_EQ(ResultText(*p), "5");
    EXPECT_TRUE(interp.preempted);

    EXPECT_EQ(RunProcessToEnd(cls->NewInstance(), "steps"), 0);
    auto failing = MakeClass("Failing", {}, objectClass.get());
    failing->mainCode = Assemble(*failing, [](W& w) {
        w.WritePushInt(1);
        w.WritePushInt(0);
        w.WriteOperator("/");
        w.WriteRet();
    });
    EXPECT_EQ(RunProcessToEnd(failing->NewInstance(), ""), 2);
    EXPECT_EQ(reporter.messages.back(), Utf8ToSjis("ゼロによる除算"));
}

TEST_F(ProcessTest, ReusingABlockRunsTheDestructorAsItsOwnProcess) {
    g_destructorRuns = 0;
    g_destructorProcess = nullptr;
    TNativeFunction* count = Native(*objectClass, "count", [](TValue*, std::int32_t, std::int32_t) {
        ++g_destructorRuns;
        g_destructorProcess = TInterpreter::Current()->currentProcess;
    });
    Method<TDestructor>(*cls, "destructor", 0, [&](W& w) {
        w.WritePushThis();
        w.WriteNativeCall(count, 0, "count");
        w.WriteRet();
    });
    // new Thing; new Thing — the first is dropped at once, so the second takes its block.
    auto p = RunMain([&](W& w) {
        for (int i = 0; i < 2; ++i) {
            w.WritePush(TValue::Null(), "");
            w.WriteConstructor(cls.get(), 0, "Thing");
            w.WritePop();
        }
        w.WritePushInt(3);
        w.WriteRet();
    });
    EXPECT_EQ(ResultText(*p), "3");
    EXPECT_EQ(g_destructorRuns, 1);
    EXPECT_NE(g_destructorProcess, nullptr);
    EXPECT_NE(g_destructorProcess, p.get());
    EXPECT_EQ(cls->Pool().size(), 1u);
    EXPECT_EQ(interp.currentProcess, nullptr);
    EXPECT_EQ(interp.LiveProcesses(), 1); // the destructor's process is gone

    // A destructor that fails is reported and ends only its own process; the reuse goes on.
    Method<TDestructor>(*cls, "destructor", 0, [](W& w) {
        w.WritePushInt(1);
        w.WritePushInt(0);
        w.WriteOperator("%");
        w.WriteRet();
    });
    TInstance* a = cls->Pool()[0];
    ASSERT_EQ(a->refCount, 0);
    TInstance* b = cls->NewInstance();
    EXPECT_EQ(a, b);
    EXPECT_EQ(reporter.messages.back(), Utf8ToSjis("ゼロによる除算"));
}

TEST_F(ProcessTest, MarkMethodKeepsTheStepLimit) {
    Method(*cls, "gc_mark", 0, [](W& w) {
        for (int i = 0; i < 10; ++i) w.WritePushInt(i);
        w.WriteRet();
    });
    interp.globalStepLimit = 5000;
    interp.RunShortProcess(*cls->NewInstance(), "gc_mark");
    EXPECT_EQ(interp.globalStepLimit, 5000);
    interp.RunShortProcess(*cls->NewInstance(), "missing"); // reported, not raised
    EXPECT_EQ(reporter.messages.back(), Utf8ToSjis("メソッドmissingは未定義です"));
}

// The process a short run gets is set aside and taken up again by the next one; every run must still
// look like a new process: a new id (the old one dead), a clean stack, the counts of a fresh one.
struct ShortRunLog {
    std::vector<std::uint32_t> ids;
    std::vector<std::int32_t> tops, live, ran;
    TInstance* nested = nullptr;
};
ShortRunLog g_short;

TEST_F(ProcessTest, ShortRunsLookLikeNewProcesses) {
    g_short = {};
    TNativeFunction* probe = Native(*objectClass, "probe", [](TValue*, std::int32_t, std::int32_t) {
        TInterpreter* in = TInterpreter::Current();
        TProcess* p = in->currentProcess;
        g_short.ids.push_back(p->hostId());
        g_short.tops.push_back(p->StackTop());
        g_short.live.push_back(in->LiveProcesses());
        g_short.ran.push_back(p->Avail());
        if (TInstance* n = std::exchange(g_short.nested, nullptr)) in->RunShortProcess(*n, "check");
    });
    // Leaves a string on the stack and ends with an error, so the next run meets a used process.
    Method(*cls, "check", 0, [&](W& w) {
        w.WritePushString("left");
        w.WritePushThis();
        w.WriteNativeCall(probe, 0, "probe");
        w.WritePop();
        w.WritePushInt(1);
        w.WritePushInt(0);
        w.WriteOperator("%");
        w.WriteRet();
    });
    long processes = vm.stats().processes, stacks = vm.stats().stacks;
    TInstance* thing = cls->NewInstance();
    ++thing->refCount;
    interp.RunShortProcess(*thing, "check");
    interp.RunShortProcess(*thing, "check");
    g_short.nested = thing; // a short run inside a short run: the spare is in use, a second process runs
    interp.RunShortProcess(*thing, "check");

    ASSERT_EQ(g_short.ids.size(), 4u);
    for (std::size_t i = 0; i < g_short.ids.size(); ++i) {
        EXPECT_EQ(vm.HostAt(g_short.ids[i]), nullptr) << i;
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(g_short.ids[i], g_short.ids[j]) << i << "," << j;
        EXPECT_EQ(g_short.tops[i], g_short.tops[0]) << i;
        EXPECT_EQ(g_short.ran[i], g_short.ran[0]) << i;
    }
    EXPECT_EQ(g_short.live, (std::vector<std::int32_t>{1, 1, 1, 2}));
    EXPECT_EQ(interp.LiveProcesses(), 0);
    EXPECT_EQ(vm.stats().processes, processes);
    EXPECT_EQ(vm.stats().stacks, stacks);
    EXPECT_EQ(reporter.messages.size(), 4u);
    for (TInstance* s : stringClass->Pool()) EXPECT_LE(s->refCount, 0);
    EXPECT_EQ(thing->refCount, 1);
}

} // namespace
} // namespace plimo
