// Value arithmetic, stores and instance creation with pooled block reuse.
#include <benchmark/benchmark.h>

#include <memory>

#include "classes/rtti.h"
#include "core/strings.h"
#include "core/symbols.h"
#include "core/value.h"
#include "core/vm.h"

namespace plimo {
namespace {

struct Machine {
    Machine() : stringClass(std::make_unique<TRTTI>("String")), ball(std::make_unique<TRTTI>("Ball")) {
        stringClass->MemberSlot("_body");
        stringClass->compiled = true;
        vm.stringClass = stringClass.get();
        for (const char* m : {"x", "y", "vx", "vy", "sprite"}) ball->MemberSlot(m);
        ball->compiled = true;
    }
    TVm vm{std::size_t(1) << 30};
    std::unique_ptr<TRTTI> stringClass, ball;
};

void BM_IntAdd(benchmark::State& state) {
    Machine m;
    TValue acc = TValue::Int(0);
    for (auto _ : state) {
        TValue r = TValue::Int(3);
        ArithValues(TArithOp::Add, acc, r);
        benchmark::DoNotOptimize(acc);
    }
}
BENCHMARK(BM_IntAdd);

void BM_FloatMul(benchmark::State& state) {
    Machine m;
    TValue acc = TValue::Float(1.0f);
    for (auto _ : state) {
        TValue r = TValue::Float(1.0000001f);
        ArithValues(TArithOp::Mul, acc, r);
        benchmark::DoNotOptimize(acc);
    }
}
BENCHMARK(BM_FloatMul);

void BM_IntDivMixed(benchmark::State& state) {
    Machine m;
    for (auto _ : state) {
        TValue l = TValue::Int(7), r = TValue::Int(2);
        ArithValues(TArithOp::Div, l, r);
        benchmark::DoNotOptimize(l);
    }
}
BENCHMARK(BM_IntDivMixed);

void BM_CompareInts(benchmark::State& state) {
    Machine m;
    TValue a = TValue::Int(5), b = TValue::Int(7);
    for (auto _ : state) benchmark::DoNotOptimize(CompareHolds(TCompareOp::LT, CompareValues(a, b)));
}
BENCHMARK(BM_CompareInts);

void BM_AssignObject(benchmark::State& state) {
    Machine m;
    TValue* cells = m.vm.AllocCells(2);
    SetObject(cells[0], m.ball->NewInstance());
    for (auto _ : state) {
        AssignValue(cells[1], cells[0]);
        SetNull(cells[1]);
    }
    SetNull(cells[0]);
}
BENCHMARK(BM_AssignObject);

// A new Ball stored, then let go: every creation after the first reuses the same block.
void BM_NewInstanceReuse(benchmark::State& state) {
    Machine m;
    TValue* cell = m.vm.AllocCells(1);
    for (auto _ : state) {
        SetObject(*cell, m.ball->NewInstance());
        SetNull(*cell);
    }
    state.counters["pool"] = static_cast<double>(m.ball->Pool().size());
}
BENCHMARK(BM_NewInstanceReuse);

// The same with a pool of N live instances ahead of the free block (the scan cost).
void BM_NewInstanceReuseBehindLive(benchmark::State& state) {
    Machine m;
    auto n = static_cast<std::uint32_t>(state.range(0));
    TValue* live = m.vm.AllocCells(n);
    for (std::uint32_t i = 0; i < n; ++i) SetObject(live[i], m.ball->NewInstance());
    TValue* cell = m.vm.AllocCells(1);
    for (auto _ : state) {
        SetObject(*cell, m.ball->NewInstance());
        SetNull(*cell);
    }
    for (std::uint32_t i = 0; i < n; ++i) SetNull(live[i]);
}
BENCHMARK(BM_NewInstanceReuseBehindLive)->Arg(10)->Arg(1000);

void BM_StringConcat(benchmark::State& state) {
    Machine m;
    TValue* cells = m.vm.AllocCells(1);
    SetObject(cells[0], MakeString("score:"));
    for (auto _ : state) {
        TValue l = cells[0], r = TValue::Int(12345);
        RetainValue(l);
        ArithValues(TArithOp::Add, l, r);
        SetNull(l);
        // The released strings' bodies would be freed by String's destructor; do it here.
        for (TInstance* b : m.stringClass->Pool())
            if (b->refCount == 0) {
                delete HostAs<TfString>(b->members()[0]);
                b->members()[0] = TValue::Null();
            }
    }
}
BENCHMARK(BM_StringConcat);

void BM_SymbolOfKnown(benchmark::State& state) {
    Machine m;
    SymbolOf("moveTo");
    for (auto _ : state) benchmark::DoNotOptimize(SymbolOf("MoveTo"));
}
BENCHMARK(BM_SymbolOfKnown);

} // namespace
} // namespace plimo
