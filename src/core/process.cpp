#include "core/process.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "classes/function.h"
#include "classes/rtti.h"
#include "core/errors.h"
#include "core/instance.h"
#include "core/interpreter.h"
#include "core/symbols.h"

namespace plimo {

namespace {

// Whether a names the ASCII word b, ignoring case as symbols do. Without the folded copies: this runs
// for every destructor. (A double-byte character in a never equals an ASCII letter of b.)
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(static_cast<unsigned char>(a[i])) != upper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

} // namespace

TProcess::TProcess(TInterpreter& interp) : THostObject(kKind), m_interp(&interp) {
    TVm& vm = interp.vm();
    m_stack = vm.AllocCells(kStackSlots);
    ++vm.stats().processes;
    ++vm.stats().stacks;
    ++vm.stats().blocks;
    ++interp.m_liveProcesses;
}

TProcess::~TProcess() {
    TVm& vm = m_interp->vm();
    Kill();
    vm.FreeCells(m_stack, kStackSlots);
    if (m_parked) return; // counted out (and its id retired) when it was set aside
    --vm.stats().processes;
    --vm.stats().stacks;
    --vm.stats().blocks;
    --m_interp->m_liveProcesses;
}

void TProcess::Destroy(TProcess* p) {
    if (!p) return;
    if (p->m_running) {
        p->Kill();
        p->m_destroyPending = true;
        return;
    }
    delete p;
}

std::unique_ptr<TProcess> TProcess::Create(TInstance* self, std::string_view method, const TValue* args,
                                           std::int32_t argc) {
    return create(nullptr, self, method, args, argc);
}

void TProcess::park() {
    Kill();
    TVm& vm = m_interp->vm();
    vm.RetireHostId(*this);
    --vm.stats().processes;
    --vm.stats().stacks;
    --vm.stats().blocks;
    --m_interp->m_liveProcesses;
    m_parked = true;
}

void TProcess::unpark() {
    TVm& vm = m_interp->vm();
    vm.RenewHostId(*this);
    ++vm.stats().processes;
    ++vm.stats().stacks;
    ++vm.stats().blocks;
    ++m_interp->m_liveProcesses;
    m_parked = false;
    // The state of a new process: zeroed stack (as the heap hands out), no frame, nothing run.
    std::memset(static_cast<void*>(m_stack), 0, kStackSlots * sizeof(TValue));
    m_avail = m_ran = 0;
    m_suspended = m_halted = m_released = m_running = m_destroyPending = false;
    m_errorState = 0;
    m_frame = m_sp = m_receiver = m_result = nullptr;
    m_pc = nullptr;
    m_position[0] = m_position[1] = m_position[2] = 0;
}

std::unique_ptr<TProcess> TProcess::create(std::unique_ptr<TProcess>* spare, TInstance* self,
                                           std::string_view method, const TValue* args, std::int32_t argc) {
    TInterpreter* interp = TInterpreter::Current();
    if (!interp) throw std::logic_error("a process needs a live TInterpreter");
    TRTTI* cls = self ? InstanceClass(self) : nullptr;

    TFunction* fn = nullptr;
    if (!method.empty()) {
        if (SameName(method, "constructor"))
            fn = cls ? cls->GetConstructor() : nullptr;
        else if (SameName(method, "destructor"))
            fn = cls ? cls->GetDestructor() : nullptr;
        else if (!cls || !(fn = cls->FindMethodByName(method)))
            throw ERuntimeError(texts::kMethodPrefix.sjis() + std::string(method) +
                                texts::kUndefinedMethod.sjis());
        if (fn && fn->IsNative())
            throw ERuntimeError(texts::kNativePrefix.sjis() + fn->GetName() + texts::kCannotCall.sjis());
    }
    const TCompiledInfo* code = fn    ? static_cast<TNormalFunction*>(fn)->body.get()
                                : cls ? cls->mainCode.get()
                                      : nullptr;
    std::int32_t locals =
        fn ? static_cast<std::int32_t>(static_cast<TNormalFunction*>(fn)->localNames.size()) : 0;
    if (argc < 0) argc = 0;
    // Receiver, arguments, frame record and locals must fit, with room left for the code's temporaries.
    if (1 + argc + kFrameSlots + locals >= kStackSlots) throw ERuntimeError(texts::kStackOverflow);

    std::unique_ptr<TProcess> p;
    if (spare && *spare && (*spare)->m_interp == interp) {
        p = std::move(*spare);
        p->unpark();
    } else {
        p.reset(new TProcess(*interp));
    }
    TValue* receiver = p->m_stack + (kStackSlots - 1);
    p->m_receiver = receiver;
    if (self) SetObject(*receiver, self);
    for (std::int32_t i = 0; i < argc; ++i) AssignValue(receiver[-(i + 1)], args[i]);
    if (!code) return p; // nothing to run: the process has no frame and Run does nothing

    TValue* base = receiver - argc - (kFrameSlots + 1);
    TFrameRecord& r = p->record(base);
    r.function = fn;
    r.returnPc = nullptr;
    r.argc = argc;
    r.receiver = static_cast<std::int16_t>(receiver - p->m_stack);
    r.caller = -1;
    r.savedPosition[0] = r.savedPosition[1] = 0;
    p->m_frame = base;
    p->m_sp = base - (locals - 1);
    // Code words are rewritten in place (hints), so the process holds the block's words mutably.
    p->m_pc = reinterpret_cast<std::int32_t*>(const_cast<std::uint8_t*>(code->Code()));
    return p;
}

void TProcess::Suspend() {
    m_suspended = true;
    m_ran -= m_avail;
    m_avail = 0;
}

void TProcess::Stop() {
    m_halted = true;
    m_ran -= m_avail;
    m_avail = 0;
}

void TProcess::forEachValue(const std::function<void(TValue&)>& visit) const {
    TValue* from = m_sp;
    for (TValue* base = m_frame; base;) {
        const TFrameRecord& r = record(base);
        if (from)
            for (TValue* p = from; p <= base; ++p) visit(*p);
        TValue* receiver = m_stack + r.receiver;
        for (TValue* p = receiver - r.argc; p <= receiver; ++p) visit(*p);
        from = receiver + 1;
        base = r.caller >= 0 ? m_stack + r.caller : nullptr;
    }
    if (m_result) {
        visit(*m_result);
    } else if (!m_frame && m_receiver) {
        visit(*m_receiver); // a process that never had code still holds its receiver
    }
}

void TProcess::Kill() {
    if (m_released) return;
    Stop();
    forEachValue([](TValue& v) {
        // A count already wrong must not stop the rest of the stack from being released.
        try {
            ReleaseValue(v);
        } catch (const ERuntimeError&) {
        }
        v = TValue::Null();
    });
    m_released = true;
}

void TProcess::MarkStack(const std::function<void(TValue&)>& mark) {
    if (!m_released) forEachValue(mark);
}

const TCompiledInfo* TProcess::codeOf(TValue* base) const {
    const TFrameRecord& r = record(base);
    if (r.function)
        return r.function->IsNative() ? nullptr : static_cast<TNormalFunction*>(r.function)->body.get();
    const TValue& self = m_stack[r.receiver];
    TRTTI* cls = self.tag == vtObject && self.bits ? InstanceClass(ObjectOf(self)) : nullptr;
    return cls ? cls->mainCode.get() : nullptr;
}

const TCompiledInfo* TProcess::CurrentCode() const {
    return m_frame ? codeOf(m_frame) : nullptr;
}

std::int32_t TProcess::PcOffset() const {
    const TCompiledInfo* code = CurrentCode();
    if (!code || !m_pc) return -1;
    return static_cast<std::int32_t>(reinterpret_cast<const std::uint8_t*>(m_pc) - code->Code());
}

TTraceList TProcess::GetTrace() const {
    TTraceList trace;
    if (m_released) return trace;
    const std::int32_t* position = m_pc;
    for (TValue* base = m_frame; base;) {
        const TFrameRecord& r = record(base);
        const TCompiledInfo* code = codeOf(base);
        if (code && position) {
            auto at = reinterpret_cast<const std::uint8_t*>(position) - code->Code();
            const TSourcePoint* best = nullptr;
            for (const TSourcePoint& point : code->Symbols().Points())
                if (point.position < at && (!best || point.position > best->position)) best = &point;
            if (best && code->Owner()) {
                std::size_t comma = best->text.rfind(',');
                std::string digits = comma == std::string::npos ? best->text : best->text.substr(comma + 1);
                trace.push_back({code->Owner()->src,
                                 static_cast<std::int32_t>(std::strtol(digits.c_str(), nullptr, 10))});
            }
        }
        position = r.returnPc;
        base = r.caller >= 0 ? m_stack + r.caller : nullptr;
    }
    return trace;
}

void TProcess::DumpStack(std::vector<std::string>& lines) const {
    if (m_released) return;
    TValue* from = m_sp;
    for (TValue* base = m_frame; base;) {
        const TFrameRecord& r = record(base);
        lines.emplace_back("stacks");
        for (TValue* p = from; p <= base; ++p) lines.push_back(ValueToText(*p));
        lines.push_back("args/this " + std::to_string(r.argc));
        TValue* receiver = m_stack + r.receiver;
        for (TValue* p = receiver - r.argc; p <= receiver; ++p) lines.push_back(ValueToText(*p));
        from = receiver + 1;
        base = r.caller >= 0 ? m_stack + r.caller : nullptr;
    }
    lines.emplace_back("-----------");
    lines.push_back(ValueToText(m_stack[kStackSlots - 1]));
}

} // namespace plimo
