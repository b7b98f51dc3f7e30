#include "core/interpreter.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "classes/core_natives.h"
#include "classes/function.h"
#include "classes/rtti.h"
#include "core/compiled_info.h"
#include "core/errors.h"
#include "core/instance.h"
#include "core/opcodes.h"
#include "core/strings.h"
#include "core/symbols.h"
#include "platform/report.h"

namespace plimo {

// ---- the owner of the process-wide state ----

TInterpreter::TInterpreter(TVm& vm, TReporter* reporter)
    : m_vm(&vm), m_reporter(reporter), m_previousRunner(vm.methodRunner),
      m_previousInterpreter(vm.interpreter), m_scratch(vm.AllocCells(1)) {
    vm.interpreter = this;
    vm.methodRunner = this;
}

TInterpreter::~TInterpreter() {
    m_spareProcess.reset();
    try {
        SetNull(*m_scratch);
    } catch (const ERuntimeError&) {
    }
    m_vm->FreeCells(m_scratch, 1);
    m_vm->interpreter = m_previousInterpreter;
    m_vm->methodRunner = m_previousRunner;
}

void TInterpreter::Warn(const std::string& text) {
    // Texts that name values ("123はオブジェクトではないため…") can differ without end: the memory of
    // shown texts starts afresh rather than growing for ever.
    if (m_shownWarnings.size() >= kMaxRememberedWarnings) m_shownWarnings.clear();
    if (!m_shownWarnings.insert(text).second) return;
    m_lastWarning = text;
    if (TReporter* r = reporter()) r->ReportMessage(text);
}

void TInterpreter::ClearWarnings() {
    m_shownWarnings.clear();
    m_lastWarning.clear();
}

void TInterpreter::waitForDebugger() {
    if (breakHook)
        breakHook->WaitForDebugger(*this);
    else
        globalStepLimit = kHostBudget; // no debugger to hold the break: carry on running
}

void TInterpreter::RunToEnd(TProcess& process) {
    bool saved = preempted;
    // A process that cannot make progress (no code, or already inside its own Run) ends the loop.
    while (!process.Halted() && process.m_frame && !process.Running()) process.Run(kHostBudget);
    preempted = saved;
}

void TInterpreter::RunShortProcess(TInstance& self, std::string_view method) {
    std::int32_t savedLimit = globalStepLimit;
    bool keepLimit = method != "destructor";
    try {
        // Nested short runs (a destructor freeing another object) find no spare and make their own.
        std::unique_ptr<TProcess> p = TProcess::create(&m_spareProcess, &self, method, nullptr, 0);
        p->Run(kHostBudget);
        if (!p->m_destroyPending) {
            p->park();
            m_spareProcess = std::move(p);
        }
    } catch (const ERuntimeError& e) {
        if (TReporter* r = reporter()) r->ReportMessage(e.text());
    }
    if (keepLimit) globalStepLimit = savedLimit;
}

std::int32_t RunProcessToEnd(TInstance* self, std::string_view method) {
    TInterpreter* interp = TInterpreter::Current();
    if (!interp) throw std::logic_error("running a process needs a live TInterpreter");
    std::unique_ptr<TProcess> p = TProcess::Create(self, method);
    interp->RunToEnd(*p);
    return p->ErrorState();
}

// ---- Run ----

void TProcess::reportError(const std::string& text) {
    m_errorState = 2;
    if (TReporter* r = m_interp->reporter()) r->ReportMessage(text);
    Kill();
}

void TProcess::Run(std::int32_t budget) {
    constexpr std::int32_t kHost = TInterpreter::kHostBudget;
    if (budget <= 0) budget = kHost;
    // A process already inside its own Run (a native running its caller) is left alone.
    if (!m_frame || m_halted || m_running) return;
    TInterpreter& in = *m_interp;
    // Too deep: the error belongs to the caller (the native or host code asking for this run).
    if (in.m_runDepth >= TInterpreter::kMaxRunDepth) throw ERuntimeError(texts::kStackOverflow);
    ++in.m_runDepth;
    TProcess* saved = in.currentProcess;
    in.currentProcess = this;
    m_suspended = false;
    m_running = true;
    try {
        while (budget > 0 && !m_suspended && !m_halted) {
            m_avail = std::max(0, std::min(budget, in.globalStepLimit));
            m_ran = m_avail;
            if (m_avail > 0) execute();
            if (in.globalStepLimit < kHost) in.globalStepLimit -= m_ran;
            budget -= m_ran;
            if (in.globalStepLimit <= 0) {
                in.waitForDebugger();
                if (in.globalStepLimit < kHost) budget = in.globalStepLimit;
            }
        }
        if (budget <= 0 && in.recordPreemption) in.preempted = true;
    } catch (const ERuntimeError& e) {
        reportError(e.text());
    } catch (const std::exception& e) {
        reportError(e.what());
    }
    m_running = false;
    in.currentProcess = saved;
    --in.m_runDepth;
    if (m_destroyPending) delete this; // freed while it ran (TProcess::Destroy): nothing touches it now
}

// ---- helpers of the dispatch loop (the slow paths) ----

namespace {

// A vtRef to a heap cell: one subtraction, no checks (stack, member, element and scratch cells all
// live in the VM heap).
inline TValue RefTo(const TValue* cell) {
    return TValue::Make(
        vtRef, static_cast<std::uint32_t>(reinterpret_cast<const std::byte*>(cell) - detail::g_heapBase));
}

inline bool IsLiveObject(const TValue& v) {
    return v.tag == vtObject && v.bits;
}

// The class of a live object, straight from the VM's host table (InstanceClass without the look-up of
// the current VM, which the loop already holds).
inline TRTTI* ClassIn(const TVm& vm, const TValue& v) {
    if (v.tag != vtObject || !v.bits) return nullptr;
    THostObject* h = vm.HostAt(ObjectOf(v)->classId);
    return h && h->hostKind() == THostKind::Class ? static_cast<TRTTI*>(h) : nullptr;
}

inline TFunction* FunctionIn(const TVm& vm, std::int32_t word) {
    THostObject* h = vm.HostAt(static_cast<std::uint32_t>(word));
    return h && h->hostKind() == THostKind::Function ? static_cast<TFunction*>(h) : nullptr;
}

// The member cell an Op_DMemberValPtr's cached slot (word 2) names, when the cache still holds for
// this object's class; none sends the instruction down the full look-up.
inline TValue* HintedMember(const TVm& vm, const TValue& v, const std::int32_t* ins) {
    TRTTI* cls = ClassIn(vm, v);
    if (!cls) return nullptr;
    std::int32_t hint = ins[2];
    if (hint < 0 || hint >= cls->memberNames.Count() || cls->memberNames.IdAt(hint) != ins[1]) return nullptr;
    return ObjectOf(v)->members() + hint;
}

// The bytecode method an Op_DCall's cached slot (word 3) names, when the cache still holds.
inline TNormalFunction* HintedMethod(const TVm& vm, const TValue& v, const std::int32_t* ins) {
    TRTTI* cls = ClassIn(vm, v);
    TFunction* fn = cls ? cls->MethodAt(ins[3]) : nullptr;
    if (!fn || fn->name != ins[2] || fn->IsNative()) return nullptr;
    return static_cast<TNormalFunction*>(fn);
}

// HintedMethod through the interpreter's notes of call sites: the same function when the note for
// this site, the receiver's class and the cached slot still holds, else the full check, noted anew.
inline TNormalFunction* NotedMethod(TInterpreter& in, const TVm& vm, const TValue& v,
                                    const std::int32_t* ins) {
    if (v.tag != vtObject || !v.bits) return nullptr;
    std::uint32_t classId = ObjectOf(v)->classId;
    std::uint64_t epoch = TFunction::CallTargetsEpoch();
    TInterpreter::TCallSiteNote& note =
        in.callSiteNotes[(reinterpret_cast<std::uintptr_t>(ins) >> 2) % TInterpreter::kCallSiteNotes];
    if (note.site == ins && note.classId == classId && note.slot == ins[3] && note.epoch == epoch) [[likely]]
        return note.function->name == ins[2] ? note.function : nullptr;
    TNormalFunction* fn = HintedMethod(vm, v, ins);
    if (fn) note = {ins, classId, ins[3], epoch, fn};
    return fn;
}

inline bool HasSlot(const TInstance* object, std::int32_t slot) {
    const TRTTI* cls = InstanceClass(object);
    return cls && slot >= 0 && slot < (cls->blockSize - static_cast<std::int32_t>(sizeof(TInstance))) / 8;
}

std::string ReasonText(const TValue& v) {
    return ValueToText(v) + (v.tag == vtUnset ? texts::kNotInitialised.sjis() : texts::kNotObject.sjis());
}

[[noreturn]] void ThrowNotCallable(const std::string& name) {
    throw ERuntimeError(texts::kNativePrefix.sjis() + name + texts::kCannotCall.sjis());
}

[[noreturn]] void ThrowMethodMissing(const std::string& name) {
    throw ERuntimeError(texts::kMethodPrefix.sjis() + name + texts::kNotDefined.sjis());
}

// The bytecode function a call may enter: natives are refused.
TNormalFunction* Callable(TFunction* fn) {
    if (fn->IsNative()) ThrowNotCallable(fn->GetName());
    return static_cast<TNormalFunction*>(fn);
}

// Restores the debugger's step allowance after work that may run nested processes (destructors).
class TStepLimitGuard {
public:
    explicit TStepLimitGuard(TInterpreter& in) : m_in(in), m_saved(in.globalStepLimit) {}
    ~TStepLimitGuard() { m_in.globalStepLimit = m_saved; }

private:
    TInterpreter& m_in;
    std::int32_t m_saved;
};

// Op_AddSubst / Op_SubSubst: numbers only, no string concatenation; r is consumed.
void UpdateByAdding(TValue& t, TValue& r, bool subtract) {
    bool tNum = t.tag == vtInt || t.tag == vtFloat;
    bool rNum = r.tag == vtInt || r.tag == vtFloat;
    if (tNum) {
        if (!rNum) {
            ReleaseValue(r);
        } else if (t.tag == vtInt && r.tag == vtInt) {
            std::uint32_t a = t.bits, b = r.bits;
            SetPayload(t, subtract ? a - b : a + b);
        } else {
            long double a = t.tag == vtInt ? t.asInt() : t.asFloat();
            long double b = r.tag == vtInt ? r.asInt() : r.asFloat();
            t = TValue::Float(static_cast<float>(subtract ? a - b : a + b));
        }
    } else if (t.tag == vtObject) {
        ReleaseValue(r);
    } else {
        AssignValue(t, r);
        ReleaseValue(r);
    }
    r = TValue::Null();
}

// Whether the comparison opcode holds for two ints (the wrapped difference decides, as in the
// comparison instructions themselves).
inline bool IntCompareHolds(std::int32_t op, std::uint32_t l, std::uint32_t r) {
    std::int32_t d = static_cast<std::int32_t>(l - r);
    switch (op) {
    case Op_GT:
        return d > 0;
    case Op_GTE:
        return d >= 0;
    case Op_LT:
        return d < 0;
    case Op_LTE:
        return d <= 0;
    case Op_EQ:
        return d == 0;
    default:
        return d != 0;
    }
}

// A value as one 64-bit word and back. The super-instructions move values this way: a TValue held in
// a local is kept by the compiler as a tag and a payload and written back in two stores, and reading
// such a cell whole right after stalls until those stores have reached the cache.
inline std::uint64_t WordOf(const TValue& v) {
    std::uint64_t w;
    std::memcpy(&w, &v, sizeof w);
    return w;
}

inline void PutWord(TValue& v, std::uint64_t w) {
    std::memcpy(&v, &w, sizeof w);
}

inline bool WordIsInt(std::uint64_t w) {
    static_assert(std::endian::native == std::endian::little, "the tag is the low byte of the word");
    return static_cast<std::uint8_t>(w) == vtInt;
}

inline std::uint32_t WordPayload(std::uint64_t w) {
    return static_cast<std::uint32_t>(w >> 32);
}

// The value word of the instruction at ins, a Push of a constant or a LocalValPtr_Deref of a local:
// the right operand of the super-instructions.
inline std::uint64_t OperandWord(const std::int32_t* ins, const TValue* frame) {
    if (ins[0] != Op_Push) return WordOf(frame[-ins[1]]);
    std::uint64_t w;
    std::memcpy(&w, ins + 1, sizeof w);
    return w;
}

inline bool IsCompare(std::int32_t op) {
    return op >= Op_GT && op <= Op_NEQ;
}

inline bool IsIntArith(std::int32_t op) {
    return op >= Op_Add && op <= Op_Mul;
}

inline std::uint32_t IntArith(std::int32_t op, std::uint32_t l, std::uint32_t r) {
    return op == Op_Add ? l + r : op == Op_Sub ? l - r : l * r;
}

// The kernel's Array methods get, set and add are bytecode wrappers around one native each. A call of
// one, when nothing can go wrong, is run by Op_DCall itself with the wrapper's effect (the element read,
// written or appended, the same result and reference counts) and every wrapper instruction counted.
enum TWrapperShape : std::uint8_t {
    kShapeUnknown = 0, // not looked at yet
    kShapeOther,
    kShapeArrayGet, // PushThis; PushThis_SMemberValPtr_Deref body; ArgValPtr_Deref 0; NativeCall 2; Ret
    kShapeArraySet, // ...; ArgValPtr_Deref 0; ArgValPtr_Deref 1; NativeCall 3; Pop; ArgValPtr_Deref 1; Ret
    kShapeArrayAdd, // ...; ArgValPtr_Deref 0; NativeCall 2; Pop; PushThis; Ret
};

// The instructions a wrapper runs, Op_DCall not included, the arguments it takes, and the word of its
// Op_NativeCall that names the native.
constexpr std::int32_t kWrapperSteps[] = {0, 0, 5, 8, 7};
constexpr std::int32_t kWrapperArgs[] = {0, 0, 1, 2, 1};
constexpr std::int32_t kWrapperNativeWord[] = {0, 0, 10, 13, 10};

TNativeProc ArrayNative(const char* name) {
    for (const TNativeEntry& e : ArrayNatives())
        if (std::strcmp(e.name, name) == 0) return e.proc;
    return nullptr;
}

// The procedure each shape's native must have (the table is constant, so it is ready before this).
const TNativeProc kWrapperProcs[] = {nullptr, nullptr, ArrayNative("native_get"), ArrayNative("native_set"),
                                     ArrayNative("native_add")};

inline TNativeProc WrapperProc(TWrapperShape shape) {
    return kWrapperProcs[shape];
}

// The native function a code word names, or none.
inline TNativeFunction* NativeAt(const TVm& vm, std::int32_t word) {
    TFunction* f = FunctionIn(vm, word);
    return f && f->IsNative() ? static_cast<TNativeFunction*>(f) : nullptr;
}

TWrapperShape ShapeOf(const TVm& vm, const TNormalFunction& fn) {
    if (!fn.body || !fn.localNames.empty()) return kShapeOther;
    const std::int32_t* w = reinterpret_cast<const std::int32_t*>(fn.body->Code());
    const std::int32_t n = fn.body->Size() / 4;
    std::int32_t k = 0;
    // The word index of the next instruction when it has the opcode, else -1.
    auto take = [&](std::int32_t op) {
        if (k >= n || w[k] != op || k + kOpcodeSize[op] / 4 > n) return -1;
        std::int32_t at = k;
        k += kOpcodeSize[op] / 4;
        return at;
    };
    if (take(Op_PushThis) < 0 || take(Op_PushThis_SMemberValPtr_Deref) < 0) return kShapeOther;
    std::int32_t arg0 = take(Op_ArgValPtr_Deref);
    if (arg0 < 0 || w[arg0 + 1] != 0) return kShapeOther;
    std::int32_t arg1 = take(Op_ArgValPtr_Deref);
    if (arg1 >= 0 && w[arg1 + 1] != 1) return kShapeOther;
    std::int32_t call = take(Op_NativeCall);
    if (call < 0 || w[call + 1] != (arg1 >= 0 ? 3 : 2)) return kShapeOther;
    const TNativeFunction* native = NativeAt(vm, w[call + 2]);
    TNativeProc proc = native ? native->proc : nullptr;
    TWrapperShape shape = kShapeOther;
    if (arg1 < 0 && proc == WrapperProc(kShapeArrayGet) && take(Op_Ret) >= 0) {
        shape = kShapeArrayGet;
    } else if (arg1 >= 0 && proc == WrapperProc(kShapeArraySet) && take(Op_Pop) >= 0) {
        std::int32_t back = take(Op_ArgValPtr_Deref);
        if (back >= 0 && w[back + 1] == 1 && take(Op_Ret) >= 0) shape = kShapeArraySet;
    } else if (arg1 < 0 && proc == WrapperProc(kShapeArrayAdd) && take(Op_Pop) >= 0 &&
               take(Op_PushThis) >= 0 && take(Op_Ret) >= 0) {
        shape = kShapeArrayAdd;
    }
    return shape != kShapeOther && call + 2 == kWrapperNativeWord[shape] ? shape : kShapeOther;
}

inline TWrapperShape CachedShape(const TVm& vm, const TNormalFunction& fn) {
    if (fn.shapeBody != fn.body.get() || fn.shape == kShapeUnknown) {
        fn.shape = ShapeOf(vm, fn);
        fn.shapeBody = fn.body.get();
    }
    return static_cast<TWrapperShape>(fn.shape);
}

// The procedure of the native the wrapper's code word names, as NativeAt finds it. The native
// found is noted in the wrapper, and while no function has been destroyed since (nor a method table
// changed), the same word still names that very native: only its procedure, which a rebinding changes, is
// read again.
inline TNativeProc WrapperNativeProc(const TVm& vm, const TNormalFunction& fn, std::int32_t word) {
    std::uint64_t epoch = TFunction::CallTargetsEpoch();
    if (static_cast<std::uint32_t>(word) == fn.shapeNativeId && fn.shapeNativeEpoch == epoch) [[likely]]
        return fn.shapeNative->proc;
    const TNativeFunction* native = NativeAt(vm, word);
    if (!native) return nullptr;
    fn.shapeNative = native;
    fn.shapeNativeId = static_cast<std::uint32_t>(word);
    fn.shapeNativeEpoch = epoch;
    return fn.shapeNative->proc;
}

// The element list of the array whose body slot the wrapper reads (word 2 of its second instruction);
// none when the wrapper's native is no longer the one its shape was made for (then the call goes the
// usual way, which meets whatever the code names now).
inline TElementList* WrapperList(const TVm& vm, const TNormalFunction& fn, TWrapperShape shape,
                                 const TValue& receiver) {
    const std::int32_t* w = reinterpret_cast<const std::int32_t*>(fn.body->Code());
    if (WrapperNativeProc(vm, fn, w[kWrapperNativeWord[shape]]) != WrapperProc(shape)) return nullptr;
    const TValue& body = ObjectOf(receiver)->members()[w[1 + 2]];
    THostObject* h = body.tag == vtHost ? vm.HostAt(body.bits) : nullptr;
    return h && h->hostKind() == TElementList::kKind ? static_cast<TElementList*>(h) : nullptr;
}

} // namespace

[[noreturn]] static void ThrowStackOverflow() {
    throw ERuntimeError(texts::kStackOverflow);
}

// Member by name. The instruction's word 2 caches the slot found last.
static void DynamicMember(TInterpreter& in, TValue& top, std::int32_t* ins, bool wantValue) {
    std::int32_t symbol = ins[1];
    auto missing = [&] {
        if (wantValue) return TValue::Error(0);
        SetError(*in.ScratchCell(), 0);
        return RefTo(in.ScratchCell());
    };
    if (IsLiveObject(top)) {
        TInstance* object = ObjectOf(top);
        TRTTI* cls = InstanceClass(object);
        std::int32_t hint = ins[2];
        std::int32_t slot = cls ? cls->FindMember(symbol, hint) : -1;
        TValue held = top;
        if (slot >= 0) {
            ins[2] = hint;
            TValue* cell = object->members() + slot;
            if (wantValue) {
                top = *cell;
                RetainValue(top);
            } else {
                top = RefTo(cell);
            }
        } else {
            ins[2] = 0;
            in.Warn(texts::kVariablePrefix.sjis() + SymbolName(symbol) + texts::kNotDefined.sjis());
            top = missing();
        }
        ReleaseValue(held);
        return;
    }
    if (top.tag != vtError)
        in.Warn(ReasonText(top) + texts::kMemberVariable.sjis() + SymbolName(symbol) +
                texts::kCannotRefer.sjis());
    TValue held = top;
    top = missing();
    ReleaseValue(held);
}

// A member by slot on something that is not an object (a hook running with a non-object `this`) or on
// an object whose class has no such slot: the same warnings and fallback as a member by name.
static TValue StaticMemberMiss(TInterpreter& in, const TValue& target, const TCompiledInfo* code,
                               std::int32_t slot, bool wantValue) {
    TRTTI* owner = code ? code->Owner() : nullptr;
    std::string name =
        owner && slot >= 0 && slot < owner->memberNames.Count() ? owner->memberNames.NameAt(slot) : "";
    if (IsLiveObject(target))
        in.Warn(texts::kVariablePrefix.sjis() + name + texts::kNotDefined.sjis());
    else if (target.tag != vtError)
        in.Warn(ReasonText(target) + texts::kMemberVariable.sjis() + name + texts::kCannotRefer.sjis());
    if (wantValue) return TValue::Error(0);
    SetError(*in.ScratchCell(), 0);
    return RefTo(in.ScratchCell());
}

// The function Op_DCall enters: the method by name, or the _errorHook standing in for it.
static TNormalFunction* FindDynamic(TInterpreter& in, const TValue& receiver, std::int32_t* ins) {
    std::int32_t symbol = ins[2];
    std::int32_t none = -1;
    TRTTI* cls = IsLiveObject(receiver) ? InstanceClass(ObjectOf(receiver)) : nullptr;
    if (cls) {
        std::int32_t hint = ins[3];
        TFunction* fn = cls->FindMethod(symbol, hint);
        ins[3] = hint;
        if (fn) return Callable(fn);
    }
    // The name is wanted only for the messages of a miss.
    const std::string& name = SymbolName(symbol);
    if (IsLiveObject(receiver)) {
        if (cls) {
            in.Warn(texts::kMethodPrefix.sjis() + name + texts::kNotDefined.sjis());
            if (TFunction* hook = cls->FindMethod(kSymErrorHook, none)) return Callable(hook);
        }
        ThrowMethodMissing(name);
    }
    if (receiver.tag != vtError)
        in.Warn(ReasonText(receiver) + texts::kMethodComma.sjis() + name + texts::kCannotInvoke.sjis());
    if (TRTTI* object = in.vm().objectClass)
        if (TFunction* hook = object->FindMethod(kSymErrorHook, none)) return Callable(hook);
    throw ERuntimeError(ValueToText(receiver) + texts::kNotObject.sjis() + texts::kMethodComma.sjis() + name +
                        texts::kCannotInvoke.sjis());
}

// The function Op_SCall enters: the receiver's class's method table, slot by slot.
static TNormalFunction* FindStatic(const TVm& vm, const TValue& receiver, std::int32_t slot,
                                   const TCompiledInfo* code) {
    TRTTI* cls = ClassIn(vm, receiver);
    if (TFunction* fn = cls ? cls->MethodAt(slot) : nullptr) [[likely]]
        return Callable(fn);
    TRTTI* owner = code ? code->Owner() : nullptr;
    TFunction* declared = owner ? owner->MethodAt(slot) : nullptr;
    std::string name = declared ? declared->GetName() : std::string();
    if (!cls)
        throw ERuntimeError(ValueToText(receiver) + texts::kNotObject.sjis() + texts::kMethodComma.sjis() +
                            name + texts::kCannotInvoke.sjis());
    ThrowMethodMissing(name);
}

// ---- calls and returns (on the stored registers) ----

// Both are inlined into the dispatch loop, where the instruction sizes are constants.
[[gnu::always_inline]] inline void TProcess::enterCall(TNormalFunction* fn, std::int32_t argc,
                                                       std::int32_t size) {
    std::int32_t locals = static_cast<std::int32_t>(fn->localNames.size());
    TValue* base = m_sp - (kFrameSlots + 1);
    // The locals and one temporary must fit; deeper recursion ends the process instead of overrunning.
    if (base - locals < m_stack) throw ERuntimeError(texts::kStackOverflow);
    if (!fn->body) ThrowMethodMissing(fn->GetName());
    TFrameRecord& r = record(base);
    r.function = fn;
    r.returnPc = m_pc + size / 4;
    r.argc = argc;
    r.receiver = static_cast<std::int16_t>(m_sp + argc - m_stack);
    r.caller = m_frame ? static_cast<std::int16_t>(m_frame - m_stack) : -1;
    r.savedPosition[0] = m_position[0];
    r.savedPosition[1] = m_position[1];
    m_receiver = m_sp + argc;
    for (std::int32_t k = 0; k < locals; ++k) ClearValue(base[-k]);
    m_sp = base - (locals - 1);
    m_pc = reinterpret_cast<std::int32_t*>(fn->body->Code());
    m_frame = base;
}

// The release that may raise (no instance, or a count already at 0): the first error is kept.
[[gnu::noinline]] static void ReleaseDeadCell(TValue& cell, std::exception_ptr& error) {
    try {
        ReleaseValue(cell);
    } catch (...) {
        if (!error) error = std::current_exception();
    }
}

// Releases every cell of [from, to]; the caller raises the first release error, if any. Every return
// runs this, so a count that stays above 0 is lowered here without the guarded call.
static inline void ReleaseDeadCells(TValue* from, TValue* to, std::exception_ptr& error) {
    for (TValue* p = from; p <= to; ++p) {
        if (p->tag == vtObject) {
            TInstance* object = ObjectOf(*p);
            if (object && object->refCount != 0)
                --object->refCount;
            else
                ReleaseDeadCell(*p, error);
        }
        *p = TValue::Null();
    }
}

[[gnu::always_inline]] inline bool TProcess::leaveCall() {
    TValue* top = m_sp;
    TValue* base = m_frame;
    TFrameRecord r = record(base);
    TValue* receiver = m_stack + r.receiver;
    // Without a value on the stack (code the compiler did not make) the call returns null.
    bool hasValue = top <= base;
    TValue result = hasValue ? *top : TValue::Null();
    if (hasValue) *top = TValue::Null();
    TValue oldReceiver = *receiver;
    // The frame is taken down before anything is released, so a release error leaves a consistent
    // process: the dead slots lie below the new top and are never visited again.
    *receiver = result;
    m_sp = receiver;
    m_pc = const_cast<std::int32_t*>(r.returnPc);
    bool bottom = r.caller < 0;
    if (bottom) {
        m_frame = nullptr;
        m_result = receiver;
        Stop();
    } else {
        // The caller's last source position, as it was when it made the call.
        m_position[0] = r.savedPosition[0];
        m_position[1] = r.savedPosition[1];
        m_frame = m_stack + r.caller;
        m_receiver = m_stack + record(m_frame).receiver;
    }
    std::exception_ptr error;
    ReleaseDeadCells(hasValue ? top : base + 1, base, error);
    ReleaseDeadCells(receiver - r.argc, receiver - 1, error);
    ReleaseDeadCells(&oldReceiver, &oldReceiver, error);
    if (error) std::rethrow_exception(error);
    return bottom;
}

// ---- the dispatch loop ----

void TProcess::execute() {
    TInterpreter& in = *m_interp;
    TVm& vm = in.vm();
    std::int32_t* pc = m_pc;
    TValue* sp = m_sp;
    TValue* frame = m_frame;
    TValue* receiver = m_receiver;
    std::int32_t avail = m_avail;
    TValue* const stack = m_stack;

// Everything that can run other code (natives, object creation, warnings' message boxes) or change
// frames sees the registers in the process; the loop keeps them in locals otherwise.
#define STORE() (m_pc = pc, m_sp = sp, m_frame = frame, m_receiver = receiver, m_avail = avail)
#define LOAD() (pc = m_pc, sp = m_sp, frame = m_frame, receiver = m_receiver, avail = m_avail)
#define ROOM(n)                                                                                              \
    do {                                                                                                     \
        if (sp - (n) < stack) [[unlikely]]                                                                   \
            ThrowStackOverflow();                                                                            \
    } while (0)
#define STEP(name) (pc += kOpcodeSize[Op_##name] / 4)
#define JUMP(offset) (pc = reinterpret_cast<std::int32_t*>(reinterpret_cast<std::uint8_t*>(pc) + (offset)))

// The successor that compiled code nearly always puts after an instruction (Op_Pop after an
// assignment) is entered directly when the slice allows one more instruction: still one count per
// instruction, only the trip through the dispatch is saved.
#define PREDICT(name)                                                                                        \
    do {                                                                                                     \
        if (*pc == Op_##name && avail > 0) {                                                                 \
            --avail;                                                                                         \
            goto L_##name;                                                                                   \
        }                                                                                                    \
    } while (0)

// The step of a for loop is followed by the jump back to its condition: taken at once when the slice
// allows one more instruction.
#define LOOP_BACK()                                                                                          \
    do {                                                                                                     \
        if (*pc == Op_Jump && avail > 0) {                                                                   \
            --avail;                                                                                         \
            JUMP(pc[1]);                                                                                     \
        }                                                                                                    \
    } while (0)

#ifdef PLIMO_SWITCH_DISPATCH
// Only PREDICT jumps to the labels here, so most of them go unused.
#define CASE(name)                                                                                           \
    case Op_##name:                                                                                          \
        L_##name : __attribute__((unused));
#define NEXT() goto dispatch
#else
    static const void* const kDispatch[OpcodeCount] = {
#define PLIMO_OPCODE_LABEL(name, size, form, text) &&L_##name,
        PLIMO_OPCODES(PLIMO_OPCODE_LABEL)
#undef PLIMO_OPCODE_LABEL
    };
#define CASE(name) L_##name:
// The count goes below 0 only when the slice is spent: one decrement and one branch per instruction.
#define NEXT()                                                                                               \
    do {                                                                                                     \
        if (--avail < 0) [[unlikely]]                                                                        \
            goto slice_spent;                                                                                \
        std::uint32_t op_ = static_cast<std::uint32_t>(*pc);                                                 \
        if (op_ >= static_cast<std::uint32_t>(OpcodeCount)) [[unlikely]]                                     \
            goto invalid;                                                                                    \
        goto* kDispatch[op_];                                                                                \
    } while (0)
#endif

    try {
#ifdef PLIMO_SWITCH_DISPATCH
    dispatch:
        if (--avail < 0) [[unlikely]]
            goto slice_spent;
        switch (*pc) {
#else
        NEXT();
        {
#endif
            CASE(Pop) {
                ReleaseValue(*sp);
                ++sp;
                STEP(Pop);
                NEXT();
            }
            CASE(Push) {
                ROOM(1);
                // `e + c`, `e - c`, `e * c` on an int: Push c with the arithmetic after it, in one dispatch
                // under the rules of the super-instructions of Op_LocalValPtr.
                if (IsIntArith(pc[3]) && avail >= 1) {
                    std::uint64_t c, top = WordOf(*sp);
                    std::memcpy(&c, pc + 1, sizeof c);
                    if (WordIsInt(c) && WordIsInt(top)) {
                        --avail;
                        PutWord(sp[-1], c);
                        PutWord(*sp,
                                (top & 0xffffffffu) |
                                    std::uint64_t{IntArith(pc[3], WordPayload(top), WordPayload(c))} << 32);
                        pc += 4;
                        NEXT();
                    }
                }
                --sp;
                std::memcpy(sp, pc + 1, sizeof(TValue));
                STEP(Push);
                PREDICT(DCall); // the last argument of a call
                NEXT();
            }
            CASE(PushString) {
                ROOM(1);
                std::int32_t length = pc[1];
                const char* text = reinterpret_cast<const char*>(pc + 2);
                STORE();
                TInstance* s;
                {
                    TStepLimitGuard guard(in);
                    s = MakeString(std::string_view(text, strnlen(text, static_cast<std::size_t>(length))));
                }
                if (m_released) return; // a destructor run by the creation killed this process
                --sp;
                *sp = TValue::Null();
                SetObject(*sp, s);
                pc += (8 + length) / 4;
                NEXT();
            }
            CASE(PushThis) {
                ROOM(1);
                --sp;
                *sp = *receiver;
                RetainValue(*sp);
                STEP(PushThis);
                NEXT();
            }
            CASE(SMemberValPtr) {
                // The object here may be of any class, so the slot is checked against its block.
                if (IsLiveObject(*sp) && HasSlot(ObjectOf(*sp), pc[1])) [[likely]] {
                    TValue held = *sp;
                    *sp = RefTo(ObjectOf(held)->members() + pc[1]);
                    ReleaseValue(held);
                } else {
                    STORE();
                    TValue held = *sp;
                    *sp = StaticMemberMiss(in, held, codeOf(frame), pc[1], false);
                    ReleaseValue(held);
                }
                STEP(SMemberValPtr);
                NEXT();
            }
            CASE(DMemberValPtr) {
                if (TValue* cell = HintedMember(vm, *sp, pc)) [[likely]] {
                    TValue held = *sp;
                    *sp = RefTo(cell);
                    ReleaseValue(held);
                    STEP(DMemberValPtr);
                    NEXT();
                }
                STORE();
                DynamicMember(in, *sp, pc, false);
                STEP(DMemberValPtr);
                NEXT();
            }
            CASE(LocalValPtr) {
                ROOM(1);
                // Super-instructions for the statements of nearly every loop, on int locals. Each runs a
                // whole sequence in one dispatch only when the slice has room for all of it and the
                // stack for its temporaries; it counts every instruction of the sequence and leaves the
                // slots below the top as the sequence would. Anything else runs one by one.
                if (avail >= 3 && sp - 3 >= stack) {
                    TValue* cell = frame - pc[1];
                    // `x += c`, `x -= c`, `x++`, `x--`: LocalValPtr x; Push c; AddSubst|SubSubst; Pop.
                    if (pc[2] == Op_Push && (pc[5] == Op_AddSubst || pc[5] == Op_SubSubst) &&
                        pc[6] == Op_Pop) {
                        TValue c;
                        std::memcpy(&c, pc + 3, sizeof c);
                        if (cell->tag == vtInt && c.tag == vtInt) {
                            avail -= 3;
                            sp[-1] = RefTo(cell);
                            PutWord(sp[-2], 0);
                            SetPayload(*cell,
                                       pc[5] == Op_AddSubst ? cell->bits + c.bits : cell->bits - c.bits);
                            pc += 7;
                            LOOP_BACK();
                            NEXT();
                        }
                    }
                    // `x = a op b` with op one of + - *: LocalValPtr x; LocalValPtr_Deref a;
                    // LocalValPtr_Deref b | Push b; Add|Sub|Mul; Subst; Pop.
                    else if (pc[2] == Op_LocalValPtr_Deref &&
                             (pc[5] == Op_LocalValPtr_Deref || pc[5] == Op_Push) && IsIntArith(pc[8]) &&
                             pc[9] == Op_Subst && pc[10] == Op_Pop && avail >= 5) {
                        std::uint64_t a = WordOf(frame[-pc[3]]);
                        std::uint64_t b = OperandWord(pc + 5, frame);
                        if (WordIsInt(a) && WordIsInt(b) && cell->tag != vtObject) {
                            avail -= 5;
                            // The sum keeps the left operand's tag word, as the instruction Add does.
                            std::uint64_t v = (a & 0xffffffffu) |
                                              std::uint64_t{IntArith(pc[8], WordPayload(a), WordPayload(b))}
                                                  << 32;
                            PutWord(sp[-3], b);
                            PutWord(sp[-2], v);
                            PutWord(sp[-1], v);
                            PutWord(*cell, v);
                            pc += 11;
                            LOOP_BACK();
                            NEXT();
                        }
                    }
                }
                --sp;
                *sp = RefTo(frame - pc[1]);
                STEP(LocalValPtr);
                NEXT();
            }
            CASE(ArgValPtr) {
                ROOM(1);
                std::int32_t i = pc[1];
                TValue* cell;
                if (i >= 0 && i < record(frame).argc) {
                    cell = receiver - (i + 1);
                } else {
                    cell = in.ScratchCell();
                    SetNull(*cell);
                }
                --sp;
                *sp = RefTo(cell);
                STEP(ArgValPtr);
                NEXT();
            }
            CASE(PushThis_SMemberValPtr) {
                ROOM(1);
                TValue v = IsLiveObject(*receiver)
                               ? RefTo(ObjectOf(*receiver)->members() + pc[2])
                               : (STORE(), StaticMemberMiss(in, *receiver, codeOf(frame), pc[2], false));
                --sp;
                *sp = v;
                STEP(PushThis_SMemberValPtr);
                NEXT();
            }
            CASE(PushThis_SMemberValPtr_Deref) {
                ROOM(1);
                // Each branch writes the slot itself: a value merged from both would be assembled in
                // memory from partial stores and read back whole, which stalls on every call of an
                // Array method.
                if (IsLiveObject(*receiver)) [[likely]] {
                    --sp;
                    *sp = ObjectOf(*receiver)->members()[pc[2]];
                    RetainValue(*sp);
                } else {
                    STORE();
                    TValue v = StaticMemberMiss(in, *receiver, codeOf(frame), pc[2], true);
                    --sp;
                    *sp = v;
                }
                STEP(PushThis_SMemberValPtr_Deref);
                NEXT();
            }
            CASE(DMemberValPtr_Deref) {
                if (TValue* cell = HintedMember(vm, *sp, pc)) [[likely]] {
                    TValue held = *sp;
                    *sp = *cell;
                    RetainValue(*sp);
                    ReleaseValue(held);
                    STEP(DMemberValPtr_Deref);
                    NEXT();
                }
                STORE();
                DynamicMember(in, *sp, pc, true);
                STEP(DMemberValPtr_Deref);
                NEXT();
            }
            CASE(LocalValPtr_Deref) {
                ROOM(1);
                // A loop or if condition on an int local: LocalValPtr_Deref a; LocalValPtr_Deref b |
                // Push b; a comparison; JumpZero, in one dispatch under the rules of the super-instructions
                // of Op_LocalValPtr.
                if (avail >= 3 && (pc[3] == Op_LocalValPtr_Deref || pc[3] == Op_Push) && IsCompare(pc[6]) &&
                    pc[7] == Op_JumpZero && sp - 2 >= stack) {
                    std::uint64_t a = WordOf(frame[-pc[1]]);
                    std::uint64_t b = OperandWord(pc + 3, frame);
                    if (WordIsInt(a) && WordIsInt(b)) {
                        avail -= 3;
                        PutWord(sp[-1], a);
                        PutWord(sp[-2], b);
                        bool holds = IntCompareHolds(pc[6], WordPayload(a), WordPayload(b));
                        pc += 7;
                        if (holds)
                            STEP(JumpZero);
                        else
                            JUMP(pc[1]);
                        NEXT();
                    }
                }
                // Two locals pushed one after the other (the receiver and argument of a call, the operands
                // of an operator), in one dispatch under the same rules.
                if (pc[3] == Op_LocalValPtr_Deref && avail >= 1 && sp - 2 >= stack) {
                    --avail;
                    PutWord(sp[-1], WordOf(frame[-pc[1]]));
                    RetainValue(sp[-1]);
                    PutWord(sp[-2], WordOf(frame[-pc[4]]));
                    RetainValue(sp[-2]);
                    sp -= 2;
                    pc += 6;
                    PREDICT(DCall); // a receiver and its one argument
                    NEXT();
                }
                --sp;
                *sp = frame[-pc[1]];
                RetainValue(*sp);
                STEP(LocalValPtr_Deref);
                NEXT();
            }
            CASE(ArgValPtr_Deref) {
                ROOM(1);
                std::int32_t i = pc[1];
                // `o.x` on an argument, as a reference or a value: with the member instruction after it in
                // one dispatch when its cached slot holds (the argument's count would go up and straight
                // down again), under the rules of the super-instructions of Op_LocalValPtr.
                if ((pc[3] == Op_DMemberValPtr || pc[3] == Op_DMemberValPtr_Deref) && avail >= 1 && i >= 0 &&
                    i < record(frame).argc) {
                    if (TValue* cell = HintedMember(vm, receiver[-(i + 1)], pc + 3)) {
                        --avail;
                        --sp;
                        if (pc[3] == Op_DMemberValPtr) {
                            PutWord(*sp, WordOf(RefTo(cell)));
                            pc += 3 + kOpcodeSize[Op_DMemberValPtr] / 4;
                        } else {
                            PutWord(*sp, WordOf(*cell));
                            RetainValue(*sp);
                            pc += 3 + kOpcodeSize[Op_DMemberValPtr_Deref] / 4;
                        }
                        NEXT();
                    }
                }
                --sp;
                if (i >= 0 && i < record(frame).argc) {
                    *sp = receiver[-(i + 1)];
                    RetainValue(*sp);
                } else {
                    *sp = TValue::Null();
                }
                STEP(ArgValPtr_Deref);
                NEXT();
            }
            CASE(Push_Deref) {
                ROOM(1);
                TValue constant;
                std::memcpy(&constant, pc + 1, sizeof constant);
                --sp;
                if (constant.tag == vtRef && constant.bits) {
                    *sp = *RefTarget(constant);
                    RetainValue(*sp);
                } else {
                    *sp = constant;
                }
                STEP(Push_Deref);
                NEXT();
            }
            CASE(DCall) {
                STORE();
                std::int32_t argc = pc[1];
                if (argc < 0 || sp + argc >= stack + kStackSlots) ThrowStackOverflow();
                TNormalFunction* fn = NotedMethod(in, vm, sp[argc], pc);
                if (fn) [[likely]] {
                    // An Array wrapper run in place (see TWrapperShape): only when the slice has room for
                    // all its instructions, the stack for its frame, and the element access cannot fail;
                    // anything else enters the wrapper as usual.
                    TWrapperShape shape = CachedShape(vm, *fn);
                    if (shape >= kShapeArrayGet && argc == kWrapperArgs[shape] &&
                        avail >= kWrapperSteps[shape] && sp - (kFrameSlots + 8) >= stack) {
                        TElementList* list = WrapperList(vm, *fn, shape, sp[argc]);
                        if (list && shape == kShapeArrayAdd) {
                            avail -= kWrapperSteps[shape];
                            TValue v = sp[0];
                            list->Add(v);
                            PutWord(sp[0], 0);
                            ++sp;
                            ReleaseValue(v);
                            STEP(DCall);
                            PREDICT(Pop); // a statement's call: its value is dropped
                            NEXT();
                        }
                        const TValue& index = sp[argc - 1];
                        if (list && index.tag == vtInt && index.asInt() >= 0 &&
                            index.asInt() < list->Count()) {
                            avail -= kWrapperSteps[shape];
                            TValue* cell = list->CellAt(index.asInt());
                            TValue array = sp[argc];
                            // Whole-word moves and clears (see WordOf).
                            if (shape == kShapeArrayGet) {
                                PutWord(sp[1], WordOf(*cell));
                                RetainValue(sp[1]);
                                PutWord(sp[0], 0);
                                ++sp;
                            } else {
                                // The value moves from its argument slot into the result.
                                std::uint64_t v = WordOf(sp[0]);
                                AssignValue(*cell, sp[0]);
                                PutWord(sp[2], v);
                                PutWord(sp[1], 0);
                                PutWord(sp[0], 0);
                                sp += 2;
                            }
                            ReleaseValue(array);
                            STEP(DCall);
                            PREDICT(Pop);      // a.set(...) as a statement
                            PREDICT(JumpZero); // if (a.get(...))
                            NEXT();
                        }
                    }
                }
                enterCall(fn ? fn : FindDynamic(in, sp[argc], pc), argc, kOpcodeSize[Op_DCall]);
                LOAD();
                NEXT();
            }
            CASE(SCall) {
                STORE();
                std::int32_t argc = pc[1];
                if (argc < 0 || sp + argc >= stack + kStackSlots) ThrowStackOverflow();
                TRTTI* cls = ClassIn(vm, sp[argc]);
                TFunction* fn = cls ? cls->MethodAt(pc[2]) : nullptr;
                // The frame's code is looked up only for the messages of a miss.
                enterCall(fn && !fn->IsNative() ? static_cast<TNormalFunction*>(fn)
                                                : FindStatic(vm, sp[argc], pc[2], codeOf(frame)),
                          argc, kOpcodeSize[Op_SCall]);
                LOAD();
                NEXT();
            }
            CASE(SuperCall) {
                STORE();
                std::int32_t argc = pc[1];
                if (argc < 0 || sp + argc >= stack + kStackSlots) ThrowStackOverflow();
                TFunction* fn = FunctionFromWord(pc[2]);
                if (!fn) ThrowMethodMissing(std::string());
                enterCall(Callable(fn), argc, kOpcodeSize[Op_SuperCall]);
                LOAD();
                NEXT();
            }
            CASE(NativeCall) {
                std::int32_t argc = pc[1];
                if (argc < 0 || sp + argc >= stack + kStackSlots) ThrowStackOverflow();
                TFunction* fn = FunctionIn(vm, pc[2]);
                if (!fn) ThrowMethodMissing(std::string());
                if (!fn->IsNative()) ThrowNotCallable(fn->GetName());
                TValue* base = sp + argc;
                // The arguments stay on the stack for the call, so a kill or an error meanwhile releases
                // them.
                STORE();
                static_cast<TNativeFunction*>(fn)->proc(base, argc, 0);
                if (m_released) return; // the native killed this very process: its stack is gone
                avail = m_avail;        // the native may have suspended or stopped it
                for (TValue* arg = base - argc; arg < base; ++arg) {
                    TValue v = *arg;
                    *arg = TValue::Null();
                    sp = arg + 1;
                    ReleaseValue(v);
                }
                sp = base;
                STEP(NativeCall);
                NEXT();
            }
            CASE(Constructor) {
                STORE();
                std::int32_t argc = pc[1];
                if (argc < 0 || sp + argc >= stack + kStackSlots) ThrowStackOverflow();
                TRTTI* cls = ClassFromWord(pc[2]);
                if (!cls) ThrowMethodMissing("constructor");
                TInstance* instance;
                {
                    TStepLimitGuard guard(in);
                    instance = cls->NewInstance();
                }
                if (m_released) return;
                // The compiler pushed a placeholder into the receiver slot; it is overwritten, not released.
                sp[argc] = TValue::Make(vtObject, InstanceHandle(instance));
                RetainValue(sp[argc]);
                if (TFunction* ctor = cls->GetConstructor()) {
                    enterCall(Callable(ctor), argc, kOpcodeSize[Op_Constructor]);
                    LOAD();
                } else {
                    // No constructor: the new instance is the expression's value, as if one had returned it.
                    for (std::int32_t i = 0; i < argc; ++i) {
                        TValue v = *sp;
                        *sp++ = TValue::Null();
                        m_sp = sp;
                        ReleaseValue(v);
                    }
                    STEP(Constructor);
                }
                NEXT();
            }
            CASE(Add) {
                if (sp[0].tag == vtInt && sp[1].tag == vtInt) [[likely]] {
                    SetPayload(sp[1], sp[1].bits + sp[0].bits);
                } else {
                    STORE(); // a string result may reuse a pooled block and run a destructor
                    ArithValues(TArithOp::Add, sp[1], sp[0]);
                    if (m_released) return;
                }
                ++sp;
                STEP(Add);
                NEXT();
            }
            CASE(Sub) {
                if (sp[0].tag == vtInt && sp[1].tag == vtInt) [[likely]]
                    SetPayload(sp[1], sp[1].bits - sp[0].bits);
                else
                    ArithValues(TArithOp::Sub, sp[1], sp[0]);
                ++sp;
                STEP(Sub);
                NEXT();
            }
            CASE(Mul) {
                if (sp[0].tag == vtInt && sp[1].tag == vtInt) [[likely]]
                    SetPayload(sp[1], sp[1].bits * sp[0].bits);
                else
                    ArithValues(TArithOp::Mul, sp[1], sp[0]);
                ++sp;
                STEP(Mul);
                NEXT();
            }
            CASE(Div) {
                ArithValues(TArithOp::Div, sp[1], sp[0]);
                ++sp;
                STEP(Div);
                NEXT();
            }
            CASE(Mod) {
                ArithValues(TArithOp::Mod, sp[1], sp[0]);
                ++sp;
                STEP(Mod);
                NEXT();
            }
// A comparison followed by Op_JumpZero (every if and loop condition) branches on the outcome without
// making the truth value, when the slice allows the Op_JumpZero too; the two still count as two.
#define PLIMO_COMPARE_CASE(name, op)                                                                         \
    CASE(name) {                                                                                             \
        bool holds;                                                                                          \
        if (sp[0].tag == vtInt && sp[1].tag == vtInt) [[likely]] {                                           \
            /* the wrapped difference decides, as for every other pair of operands */                        \
            holds = static_cast<std::int32_t>(sp[1].bits - sp[0].bits) op 0;                                 \
        } else {                                                                                             \
            float d = CompareValues(sp[1], sp[0]);                                                           \
            TValue l = sp[1], r = sp[0];                                                                     \
            sp[1] = sp[0] = TValue::Null();                                                                  \
            ReleaseValue(l);                                                                                 \
            ReleaseValue(r);                                                                                 \
            holds = CompareHolds(TCompareOp::name, d);                                                       \
        }                                                                                                    \
        STEP(name);                                                                                          \
        if (*pc == Op_JumpZero && avail > 0) {                                                               \
            --avail;                                                                                         \
            sp += 2;                                                                                         \
            if (holds)                                                                                       \
                STEP(JumpZero);                                                                              \
            else                                                                                             \
                JUMP(pc[1]);                                                                                 \
            NEXT();                                                                                          \
        }                                                                                                    \
        sp[1] = TValue::Float(holds ? 1.0f : 0.0f);                                                          \
        ++sp;                                                                                                \
        NEXT();                                                                                              \
    }
            PLIMO_COMPARE_CASE(GT, >)
            PLIMO_COMPARE_CASE(GTE, >=)
            PLIMO_COMPARE_CASE(LT, <)
            PLIMO_COMPARE_CASE(LTE, <=)
            PLIMO_COMPARE_CASE(EQ, ==)
            PLIMO_COMPARE_CASE(NEQ, !=)
#undef PLIMO_COMPARE_CASE
            CASE(And) {
                STEP(And);
                NEXT();
            }
            CASE(Or) {
                STEP(Or);
                NEXT();
            }
            CASE(Is) {
                bool is = IsInstanceOf(*sp, ClassFromWord(pc[1]));
                TValue held = *sp;
                *sp = TValue::Int(is ? 1 : 0);
                ReleaseValue(held);
                STEP(Is);
                NEXT();
            }
            CASE(Not) {
                NotValue(*sp);
                STEP(Not);
                NEXT();
            }
            CASE(Neg) {
                NegValue(*sp);
                STEP(Neg);
                NEXT();
            }
            CASE(Subst) {
                TValue* target = sp[1].tag == vtRef ? RefTarget(sp[1]) : nullptr;
                TValue v = sp[0];
                if (target) {
                    TValue old = *target;
                    *target = v; // the top's count moves into the target
                    sp[1] = v;
                    RetainValue(sp[1]);
                    ++sp;
                    ReleaseValue(old);
                } else {
                    // Not a reference: nothing to assign to; the value stays as the expression's value.
                    TValue held = sp[1];
                    sp[1] = v;
                    ++sp;
                    ReleaseValue(held);
                }
                STEP(Subst);
                PREDICT(Pop);
                NEXT();
            }
            CASE(AddSubst)
            CASE(SubSubst) {
                TValue* target = sp[1].tag == vtRef ? RefTarget(sp[1]) : nullptr;
                if (target)
                    UpdateByAdding(*target, sp[0], *pc == Op_SubSubst);
                else
                    ReleaseValue(sp[0]);
                ++sp;
                static_assert(kOpcodeSize[Op_AddSubst] == kOpcodeSize[Op_SubSubst]);
                STEP(AddSubst);
                PREDICT(Pop);
                NEXT();
            }
            CASE(Deref) {
                if (sp->tag == vtRef && sp->bits) [[likely]] {
                    *sp = *RefTarget(*sp);
                    RetainValue(*sp);
                }
                STEP(Deref);
                NEXT();
            }
            CASE(Jump) {
                JUMP(pc[1]);
                NEXT();
            }
            CASE(JumpZero) {
                TValue v = *sp;
                ++sp;
                bool truth = v.tag == vtInt     ? v.bits != 0
                             : v.tag == vtFloat ? v.asFloat() < 0.0f || v.asFloat() > 0.0f // a NaN is false
                                                : IsTrue(v);
                ReleaseValue(v);
                if (truth)
                    STEP(JumpZero);
                else
                    JUMP(pc[1]);
                NEXT();
            }
            CASE(Jump_And) {
                if (!IsTrue(*sp)) {
                    JUMP(pc[1]);
                } else {
                    TValue v = *sp++;
                    ReleaseValue(v);
                    STEP(Jump_And);
                }
                NEXT();
            }
            CASE(Jump_Or) {
                if (IsTrue(*sp)) {
                    JUMP(pc[1]);
                } else {
                    TValue v = *sp++;
                    ReleaseValue(v);
                    STEP(Jump_Or);
                }
                NEXT();
            }
            CASE(Ret) {
                STORE();
                bool bottom = leaveCall();
                LOAD();
                if (bottom) goto slice_end;
                NEXT();
            }
            CASE(InitForIn) {
                ROOM(2);
                if (!vm.arrayClass || vm.arrayBodySlot < 0 || !IsInstanceOf(*sp, vm.arrayClass))
                    throw ERuntimeError(texts::kForInNotArray);
                TValue list = ObjectOf(*sp)->members()[vm.arrayBodySlot];
                sp[-1] = list;
                sp[-2] = TValue::Int(0);
                sp -= 2;
                STEP(InitForIn);
                NEXT();
            }
            CASE(DoForIn) {
                // Slots from the top: index, element list, array, variable reference.
                // The index and the list are the loop's own slots, nearly always an int and a list.
                std::int32_t index = sp[0].tag == vtInt ? sp[0].asInt() : ValueToInt(sp[0]);
                THostObject* host = sp[1].tag == vtHost ? vm.HostAt(sp[1].bits) : nullptr;
                TElementList* list = host && host->hostKind() == TElementList::kKind
                                         ? static_cast<TElementList*>(host)
                                         : nullptr;
                // The count is read at every step, so elements appended by the body are visited too.
                if (list && index >= 0 && index < list->Count()) {
                    if (TValue* var = sp[3].tag == vtRef ? RefTarget(sp[3]) : nullptr)
                        AssignValue(*var, *list->CellAt(index));
                    sp[0] = TValue::Int(index + 1);
                    STEP(DoForIn);
                } else {
                    JUMP(pc[1]);
                }
                NEXT();
            }
            CASE(ClearForIn) {
                TValue array = sp[2], var = sp[3];
                sp += 4;
                ReleaseValue(array);
                ReleaseValue(var);
                STEP(ClearForIn);
                NEXT();
            }
            CASE(Point) {
                m_position[0] = pc[1];
                m_position[1] = pc[2];
                m_position[2] = pc[3];
                STEP(Point);
                NEXT();
            }
            CASE(Halt) {
                STORE();
                Stop();
                LOAD();
                goto slice_end;
            }
#ifdef PLIMO_SWITCH_DISPATCH
        default:
            goto invalid;
#endif
        }
    // An opcode outside the table is not executed and pc stays: the slice runs out on it.
    invalid:
        NEXT();
    slice_spent:
        avail = 0;
    slice_end:
        STORE();
    } catch (...) {
        STORE();
        throw;
    }
#undef STORE
#undef LOAD
#undef ROOM
#undef STEP
#undef JUMP
#undef CASE
#undef NEXT
#undef PREDICT
#undef LOOP_BACK
}

} // namespace plimo
