// The natives that control processes: the Process class's own, and the Object natives that act on the
// calling process.
#include <memory>

#include "classes/core_natives.h"
#include "classes/function.h"
#include "classes/runtime.h"
#include "core/interpreter.h"
#include "core/process.h"
#include "core/strings.h"

namespace plimo {

namespace {

using std::int32_t;

TInterpreter& Interp() {
    TInterpreter* interp = TInterpreter::Current();
    if (!interp) throw ERuntimeError("no interpreter");
    return *interp;
}

// The process in argument 1; anything else (a freed process among them) does nothing.
TProcess* ProcessArg(TValue* base, int32_t count) {
    return count >= 1 ? HostAs<TProcess>(Arg(base, 1)) : nullptr;
}

void Init(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TInstance* self = ArgObject(Arg(base, 1));
    if (!self) {
        ResultNull(base);
        return;
    }
    std::string method = count >= 2 && Arg(base, 2).tag != vtNull ? ArgText(Arg(base, 2)) : std::string();
    std::unique_ptr<TProcess> p = TProcess::Create(self, method);
    // Scripts own it from here (their Process object frees it with native_free).
    TRuntime::Get().AdoptProcess(p.get());
    ResultHost(base, p.release());
}

void Exec(TValue* base, int32_t count, int32_t) {
    if (TProcess* p = ProcessArg(base, count)) p->Run(TInterpreter::kHostBudget);
}

void SuspendProcess(TValue* base, int32_t count, int32_t) {
    if (TProcess* p = ProcessArg(base, count)) p->Suspend();
}

void Halted(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TProcess* p = ProcessArg(base, count);
    // A freed process has certainly ended.
    ResultFloat(base, !p || p->Halted() ? 1.0f : 0.0f);
}

void Kill(TValue* base, int32_t count, int32_t) {
    if (TProcess* p = ProcessArg(base, count)) p->Kill();
}

// Only processes scripts made are freed (the root process handed out by currentProcess is the host's).
// One that is still running (it frees itself, or an outer run is inside it) is killed at once, which
// releases what its stack holds, and deleted when its run returns.
void Free(TValue* base, int32_t count, int32_t) {
    TProcess* p = ProcessArg(base, count);
    if (p && TRuntime::Get().ReleaseProcess(p)) TProcess::Destroy(p);
}

void ProcMark(TValue* base, int32_t count, int32_t) {
    TProcess* p = ProcessArg(base, count);
    TRuntime& rt = TRuntime::Get();
    if (p && rt.markValue) p->MarkStack(rt.markValue);
}

const TNativeEntry kProcessNatives[] = {
    {"native_init", Init},          {"native_exec", Exec}, {"native_suspend", SuspendProcess},
    {"native_halted", Halted},      {"native_free", Free}, {"native_kill", Kill},
    {"native_proc_mark", ProcMark},
};

} // namespace

namespace natives {

void Suspend(TValue*, int32_t, int32_t) {
    if (TProcess* p = Interp().currentProcess) p->Suspend();
}

// Without a debugger to take over there is nobody to hand the step allowance to, so the call does
// nothing rather than stopping every process for good.
void BreakExec(TValue*, int32_t, int32_t) {
    TInterpreter& interp = Interp();
    if (!interp.breakHook) return;
    interp.globalStepLimit = 0;
    if (interp.currentProcess) interp.currentProcess->Suspend();
}

void CurrentProcess(TValue* base, int32_t, int32_t) {
    if (TProcess* p = Interp().currentProcess)
        ResultHost(base, p);
    else
        ResultNull(base);
}

void CurrentFunc(TValue* base, int32_t, int32_t) {
    TProcess* p = Interp().currentProcess;
    const TFunction* f = p ? p->CurrentFunction() : nullptr;
    if (f) ResultString(base, f->GetName());
}

} // namespace natives

std::span<const TNativeEntry> ProcessNatives() {
    return kProcessNatives;
}

} // namespace plimo
