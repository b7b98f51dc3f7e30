// A script process: one cooperative thread of execution with its value stack, call frames and code
// position, and the operations that drive it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.h"
#include "core/vm.h"

namespace plimo {

class TFunction;
class TNormalFunction;
class TInterpreter;
class TCompiledInfo;

// One entry of a call trace: the source file of the code and the source offset reached in it.
struct TTraceEntry {
    std::string file;
    std::int32_t offset = 0;
};
using TTraceList = std::vector<TTraceEntry>;

// The frame record: four stack slots directly above a frame's local 0 (its base). Slots are indices
// into the stack so the record fits in 32 bytes next to a 64-bit function and return position.
struct TFrameRecord {
    TFunction* function;          // none for a class's main code
    const std::int32_t* returnPc; // none in the bottom frame
    std::int32_t argc;
    std::int16_t receiver;         // slot of the receiver value
    std::int16_t caller;           // base slot of the calling frame; -1 in the bottom frame
    std::int32_t savedPosition[2]; // the caller's position registers (class word, source offset)
};
static_assert(sizeof(TFrameRecord) == 4 * sizeof(TValue), "a frame record fills four slots");

class TProcess : public THostObject {
public:
    static constexpr THostKind kKind = THostKind::Process;
    static constexpr std::int32_t kStackSlots = 128; // 1024 bytes
    static constexpr std::int32_t kFrameSlots = 4;

    // A process that runs `method` on `self`: "" runs the class's main code; "constructor" and
    // "destructor" run those (or the main code when the class has none); any other name must be a
    // bytecode method, else ERuntimeError "メソッド" + name + "は未定義です". The arguments are
    // copied below the receiver. Needs a live TInterpreter on the current TVm.
    static std::unique_ptr<TProcess> Create(TInstance* self, std::string_view method,
                                            const TValue* args = nullptr, std::int32_t argc = 0);
    // Destroy: kills the process, then frees its stack. A process that is running somewhere up the call
    // chain (a destructor freeing the process that caused it) must not be deleted directly: use Destroy.
    ~TProcess() override;
    // Deletes p, or, while p is inside its Run, kills it and deletes it when that Run returns.
    static void Destroy(TProcess* p);

    const char* HostTypeName() const override { return "TProcess"; }

    // Executes up to budget instructions (0 or less: the host budget, 123456). Runtime errors are
    // reported, end this process only and never reach the caller.
    void Run(std::int32_t budget);
    // Ends the current slice after the current instruction.
    void Suspend();
    // Ends the slice and the process for good.
    void Stop();
    // Stops and releases every value on the stack and the result; does nothing the second time.
    void Kill();
    // The collector's walk over the same values Kill releases.
    void MarkStack(const std::function<void(TValue&)>& mark);

    TTraceList GetTrace() const;
    void DumpStack(std::vector<std::string>& lines) const;

    bool Halted() const { return m_halted; }
    bool Suspended() const { return m_suspended; }
    bool Released() const { return m_released; }
    bool Running() const { return m_running; }
    std::int32_t ErrorState() const { return m_errorState; }
    std::int32_t Avail() const { return m_avail; }
    std::int32_t Ran() const { return m_ran; }
    // The value returned by the bottom frame, once it has returned.
    const TValue* Result() const { return m_result; }
    // The position registers written by Op_Point: class word, source offset, spare.
    const std::int32_t* Position() const { return m_position; }

    // For the debugger and tests: the code position (none when the process has no code), the top of
    // the stack as a slot index (0 = lowest slot), the code block the current frame runs.
    const std::int32_t* Pc() const { return m_pc; }
    std::int32_t StackTop() const { return static_cast<std::int32_t>(m_sp - m_stack); }
    const TCompiledInfo* CurrentCode() const;
    // The function the current frame runs; none for main code (and before the process has code).
    TFunction* CurrentFunction() const { return m_frame ? record(m_frame).function : nullptr; }
    // The byte offset of pc in CurrentCode(), or -1 (what the debugger lists from).
    std::int32_t PcOffset() const;
    TValue* Receiver() const { return m_receiver; }
    TValue* StackSlot(std::int32_t index) const { return m_stack + index; }

private:
    friend class TInterpreter;
    explicit TProcess(TInterpreter& interp);
    // Create's work; a spare process (see park) is taken from spare when given, instead of a new one.
    static std::unique_ptr<TProcess> create(std::unique_ptr<TProcess>* spare, TInstance* self,
                                            std::string_view method, const TValue* args, std::int32_t argc);
    // After its run: kills the process and sets it aside with its stack, counted and registered as gone.
    void park();
    // Takes a parked process up again as if freshly made.
    void unpark();

    // The dispatch loop of one slice; m_avail instructions at most.
    void execute();
    void reportError(const std::string& text);
    // Builds the callee's frame below the arguments and enters its code (registers in the members).
    void enterCall(TNormalFunction* fn, std::int32_t argc, std::int32_t size);
    // Op_Ret; true when the bottom frame returned and the process stopped.
    bool leaveCall();
    TFrameRecord& record(TValue* base) const { return *reinterpret_cast<TFrameRecord*>(base + 1); }
    // The code block a frame runs: its function's body, or the main code of its receiver's class.
    const TCompiledInfo* codeOf(TValue* base) const;
    // Visits, frame by frame, every slot that holds a value (not frame records), then the result.
    void forEachValue(const std::function<void(TValue&)>& visit) const;

    TInterpreter* m_interp;
    std::int32_t m_avail = 0;
    std::int32_t m_ran = 0;
    bool m_suspended = false;
    bool m_halted = false;
    bool m_released = false;
    std::uint8_t m_errorState = 0;
    bool m_running = false;
    bool m_destroyPending = false;
    bool m_parked = false;
    TValue* m_frame = nullptr; // base of the current frame
    TValue* m_sp = nullptr;
    TValue* m_receiver = nullptr;
    std::int32_t* m_pc = nullptr; // code words are written too: the hint words of dynamic lookups
    TValue* m_stack = nullptr;    // kStackSlots heap cells
    TValue* m_result = nullptr;
    std::int32_t m_position[3] = {0, 0, 0};
};

} // namespace plimo
