// The interpreter's process-wide state — the current process, the debugger's step allowance,
// preemption, shown warnings — gathered in one owner that a test can create afresh, and the host's
// ways of running processes to their end.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "core/process.h"
#include "core/vm.h"

namespace plimo {

class TReporter;
class TInterpreter;
class TNormalFunction;

namespace texts {
inline const SysText kStackOverflow{"スタックがあふれました"};
inline const SysText kMethodPrefix{"メソッド"};
inline const SysText kNotDefined{"は定義されていません"};
inline const SysText kUndefinedMethod{"は未定義です"};
inline const SysText kNativePrefix{"Native関数"};
inline const SysText kCannotCall{"は呼び出せません"};
inline const SysText kVariablePrefix{"変数"};
inline const SysText kNotInitialised{"は初期化されていないため"};
inline const SysText kNotObject{"はオブジェクトではないため"};
inline const SysText kMemberVariable{"、メンバ変数"};
inline const SysText kCannotRefer{"を参照できません"};
inline const SysText kMethodComma{"、メソッド"};
inline const SysText kCannotInvoke{"を呼び出せません"};
inline const SysText kForInNotArray{"inの後ろの値が配列でありません"};
} // namespace texts

// The debugger's side of a break: called inside Run when the step allowance reaches 0. It holds
// execution (pumping window messages) until it sets GlobalStepLimit above 0 again.
class TBreakHook {
public:
    virtual ~TBreakHook() = default;
    virtual void WaitForDebugger(TInterpreter& interp) = 0;
};

class TInterpreter : public TMethodRunner {
public:
    // Budget of every Run the host or a native starts.
    static constexpr std::int32_t kHostBudget = 123456;

    // Installs itself on the VM (interpreter and method runner) until destroyed. Messages go to the
    // reporter given, or the VM's when none.
    explicit TInterpreter(TVm& vm, TReporter* reporter = nullptr);
    ~TInterpreter() override;
    TInterpreter(const TInterpreter&) = delete;
    TInterpreter& operator=(const TInterpreter&) = delete;

    // The interpreter of the current VM, or none.
    static TInterpreter* Current() {
        TVm* vm = TVm::Current();
        return vm ? vm->interpreter : nullptr;
    }

    TVm& vm() { return *m_vm; }
    TReporter* reporter() const { return m_reporter ? m_reporter : m_vm->reporter; }
    void SetReporter(TReporter* reporter) { m_reporter = reporter; }

    // The process whose Run is executing (innermost when nested); none at top level.
    TProcess* currentProcess = nullptr;
    // Below kHostBudget every slice is charged against it, and reaching 0 breaks into the debugger.
    std::int32_t globalStepLimit = kHostBudget;
    // Set when a Run ends with its whole budget used (while recordPreemption is on).
    bool preempted = false;
    bool recordPreemption = true;
    TBreakHook* breakHook = nullptr;

    // A warning: shown with ReportMessage the first time its text occurs since the last ClearWarnings.
    void Warn(const std::string& text);
    const std::string& LastWarning() const { return m_lastWarning; }
    // A page load starts afresh.
    void ClearWarnings();

    // The cell that references to missing members and arguments point at.
    TValue* ScratchCell() const { return m_scratch; }

    // Runs the process until it halts; preempted is the same afterwards as before.
    void RunToEnd(TProcess& process);
    // The destructor and gc_mark processes: one host-budget Run, then destroyed. Errors stay inside.
    void RunShortProcess(TInstance& self, std::string_view method) override;

    // Numbers of live processes and allocated stacks (also counted in the VM's statistics).
    std::int32_t LiveProcesses() const { return m_liveProcesses; }

    // How deeply runs may nest (a native running a process that runs another ...): each level takes
    // host stack, and a script that nests without end must get a runtime error, not a crash.
    static constexpr std::int32_t kMaxRunDepth = 256;
    static constexpr std::size_t kMaxRememberedWarnings = 4096;

private:
    friend class TProcess;
    void waitForDebugger();

    TVm* m_vm;
    TReporter* m_reporter;
    TMethodRunner* m_previousRunner;
    TInterpreter* m_previousInterpreter;
    TValue* m_scratch;
    std::string m_lastWarning;
    std::set<std::string> m_shownWarnings;
    std::int32_t m_liveProcesses = 0;
    std::int32_t m_runDepth = 0; // Runs in progress, the outermost included
    // The last short process, parked with its stack: destructors run by the hundred thousand, and
    // making and freeing a process each time cost more than the destructor's own code.
    std::unique_ptr<TProcess> m_spareProcess;

public:
    // Which function an Op_DCall reached for a receiver's class through its cached method slot, so
    // the next call from that site finds it without the look-up; a note holds while
    // TFunction::CallTargetsEpoch() is unchanged. Kept by the dispatch loop, indexed by the site.
    struct TCallSiteNote {
        const std::int32_t* site = nullptr;
        std::uint32_t classId = 0;
        std::int32_t slot = 0;
        std::uint64_t epoch = 0;
        TNormalFunction* function = nullptr;
    };
    static constexpr std::size_t kCallSiteNotes = 64;
    std::array<TCallSiteNote, kCallSiteNotes> callSiteNotes{};
};

// For the host's snippets and generator scripts: creates a process on self for method, runs it to its
// end and destroys it; returns 0 when it ran, 2 when it ended with a runtime error. A method the class
// lacks raises ERuntimeError as Create does.
std::int32_t RunProcessToEnd(TInstance* self, std::string_view method);

} // namespace plimo
