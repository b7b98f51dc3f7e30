// Interpreter throughput on hand-assembled code: endless loops run with a fixed instruction budget, so
// every iteration executes exactly that many instructions (items per second = instructions per second).
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

#include "classes/function.h"
#include "classes/rtti.h"
#include "core/interpreter.h"
#include "core/progwriter.h"
#include "core/strings.h"
#include "core/symbols.h"
#include "platform/report.h"

namespace plimo {
namespace {

constexpr std::int32_t kSlice = 1'000'000;
using Emit = std::function<void(TProgWriter&)>;

class Machine {
public:
    Machine() {
        object = std::make_unique<TRTTI>("Object");
        object->compiled = true;
        object->MemberSlot("a");
        object->MemberSlot("b");
        stringClass = std::make_unique<TRTTI>("String");
        stringClass->MemberSlot("_body");
        stringClass->compiled = true;
        vm.objectClass = object.get();
        vm.stringClass = stringClass.get();
    }

    std::unique_ptr<TCompiledInfo> Assemble(const Emit& emit) {
        TProgWriter w(object.get());
        emit(w);
        w.WriteHalt();
        auto block = w.Finish();
        FuseCode(*block);
        return block;
    }

    TNormalFunction* Method(const char* name, int locals, const Emit& emit) {
        auto* f = new TNormalFunction(object.get(), SymbolOf(name));
        f->localNames.assign(static_cast<std::size_t>(locals), "l");
        f->body = Assemble(emit);
        object->DefineMethod(f);
        return f;
    }

    // A process on a fresh instance running `name` (or the main code when empty).
    std::unique_ptr<TProcess> Start(const char* name) {
        return TProcess::Create(object->NewInstance(), name);
    }

    TVm vm{std::size_t(1) << 28};
    TCapturingReporter reporter;
    TInterpreter interp{vm, &reporter};
    std::unique_ptr<TRTTI> object, stringClass;
};

void RunSlices(benchmark::State& state, TProcess& p) {
    for (auto _ : state) {
        p.Run(kSlice);
        if (p.Halted()) state.SkipWithError("the loop ended");
    }
    state.SetItemsProcessed(state.iterations() * kSlice);
}

// Emits `for (;;) { body }` around a body that leaves the stack as it found it.
void EndlessLoop(TProgWriter& w, const Emit& body) {
    std::int32_t head = w.GetPosition();
    body(w);
    w.WriteJump(head - w.GetPosition());
}

// i = i + 1 on a local: LocalValPtr, LocalValPtr_Deref, Push, Add, Subst, Pop, Jump.
void BM_LocalCounterLoop(benchmark::State& state) {
    Machine m;
    m.Method("run", 1, [](TProgWriter& w) {
        EndlessLoop(w, [](TProgWriter& w) {
            w.WriteLocalValPtr(0);
            w.WriteLocalValPtr(0);
            w.WriteDeref();
            w.WritePushInt(1);
            w.WriteOperator("+");
            w.WriteOperator("=");
            w.WritePop();
        });
    });
    auto p = m.Start("run");
    RunSlices(state, *p);
}
BENCHMARK(BM_LocalCounterLoop);

// if (i < 100) i += 1 else i = 0: compare, branch, compound assignment.
void BM_CompareBranchLoop(benchmark::State& state) {
    Machine m;
    m.Method("run", 1, [](TProgWriter& w) {
        EndlessLoop(w, [](TProgWriter& w) {
            w.WriteLocalValPtr(0);
            w.WriteDeref();
            w.WritePushInt(100);
            w.WriteOperator("<");
            std::int32_t branch = w.GetPosition();
            w.WriteJumpZero(0);
            w.WriteLocalValPtr(0);
            w.WritePushInt(1);
            w.WriteOperator("+=");
            w.WritePop();
            std::int32_t skip = w.GetPosition();
            w.WriteJump(0);
            std::int32_t other = w.GetPosition();
            w.WriteLocalValPtr(0);
            w.WritePushInt(0);
            w.WriteOperator("=");
            w.WritePop();
            std::int32_t end = w.GetPosition();
            w.SetPosition(branch);
            w.WriteJumpZero(other - branch);
            w.SetPosition(skip);
            w.WriteJump(end - skip);
            w.SeekEnd();
        });
    });
    auto p = m.Start("run");
    RunSlices(state, *p);
}
BENCHMARK(BM_CompareBranchLoop);

// this.a = this.a + this.b on members of this (fused member reads).
void BM_MemberLoop(benchmark::State& state) {
    Machine m;
    m.Method("run", 0, [](TProgWriter& w) {
        w.WritePushThis();
        w.WriteSMemberValPtr(1, "b");
        w.WritePushInt(1);
        w.WriteOperator("=");
        w.WritePop();
        w.WritePushThis();
        w.WriteSMemberValPtr(0, "a");
        w.WritePushInt(0);
        w.WriteOperator("=");
        w.WritePop();
        EndlessLoop(w, [](TProgWriter& w) {
            w.WritePushThis();
            w.WriteSMemberValPtr(0, "a");
            w.WritePushThis();
            w.WriteSMemberValPtr(0, "a");
            w.WriteDeref();
            w.WritePushThis();
            w.WriteSMemberValPtr(1, "b");
            w.WriteDeref();
            w.WriteOperator("+");
            w.WriteOperator("=");
            w.WritePop();
        });
    });
    auto p = m.Start("run");
    RunSlices(state, *p);
}
BENCHMARK(BM_MemberLoop);

// x.a read by name through the hinted lookup.
void BM_DynamicMemberLoop(benchmark::State& state) {
    Machine m;
    m.Method("run", 0, [](TProgWriter& w) {
        EndlessLoop(w, [](TProgWriter& w) {
            w.WritePushThis();
            w.WriteDMemberValPtr("b");
            w.WriteDeref();
            w.WritePop();
        });
    });
    auto p = m.Start("run");
    RunSlices(state, *p);
}
BENCHMARK(BM_DynamicMemberLoop);

// this.f(i) with f(x) { return x + 1 }: DCall by name (hinted), static SCall, and a native call.
void BM_Calls(benchmark::State& state, int kind) {
    Machine m;
    m.Method("f", 0, [](TProgWriter& w) {
        w.WriteArgValPtr(0);
        w.WriteDeref();
        w.WritePushInt(1);
        w.WriteOperator("+");
        w.WriteRet();
    });
    auto* nat = new TNativeFunction(m.object.get(), SymbolOf("nat"));
    nat->proc = [](TValue* base, std::int32_t argc, std::int32_t) {
        if (argc >= 1) SetInt(*base, ValueToInt(base[-1]) + 1);
    };
    m.object->AddMethod(nat);
    std::int32_t slot = m.object->MethodSlot("f");
    m.Method("run", 0, [&](TProgWriter& w) {
        EndlessLoop(w, [&](TProgWriter& w) {
            w.WritePushThis();
            w.WritePushInt(7);
            if (kind == 0) w.WriteDCall("f", 1);
            if (kind == 1) w.WriteSCall(slot, 1, "f");
            if (kind == 2) w.WriteNativeCall(nat, 1, "nat");
            w.WritePop();
        });
    });
    auto p = m.Start("run");
    RunSlices(state, *p);
}
BENCHMARK_CAPTURE(BM_Calls, dynamic, 0);
BENCHMARK_CAPTURE(BM_Calls, static, 1);
BENCHMARK_CAPTURE(BM_Calls, native, 2);

// s = "x" + i: string constants and concatenation allocate from the String pool (blocks are reused).
void BM_StringConcatLoop(benchmark::State& state) {
    Machine m;
    m.Method("run", 0, [](TProgWriter& w) {
        EndlessLoop(w, [](TProgWriter& w) {
            w.WritePushString("x");
            w.WritePushInt(5);
            w.WriteOperator("+");
            w.WritePop();
        });
    });
    auto p = m.Start("run");
    RunSlices(state, *p);
}
BENCHMARK(BM_StringConcatLoop);

} // namespace
} // namespace plimo
