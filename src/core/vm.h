// The owner of the script machine's process-wide state: the heap, the host-object table, the symbol
// table, the core class references, the statistics counters and the hooks other subsystems plug in.
//
// How 32-bit payloads name things: a vtObject payload (an instance's handle) and a vtRef payload are
// byte offsets into this VM's heap, decoded with one add; a handle stays the same for its block's life
// and no two live or pooled blocks share one. A vtHost payload is a host-table id (slot index in the
// low 24 bits, the slot's generation in the top 8). The instance header names its class by the class's
// host id. Only one VM is current at a time (the latest made and still alive).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/heap.h"
#include "core/symbols.h"
#include "core/value.h"

namespace plimo {

class TReporter;
class TAlias;
class TVm;
class TCollectorHooks;
class TClassCompiler;
class TResourceSystem;
class TBRegExp;
class TInterpreter;

// What a host object is, so that typed access from a vtHost value is one compare.
enum class THostKind : std::uint8_t { String, ElementList, Process, Class, Resource, Function, Other };

// A host-side object that scripts may hold as a vtHost value. It registers in the current VM's host
// table when made and unregisters when it dies, so a stale vtHost id reads as "none" instead of as
// freed memory. Made with no VM alive, it has id 0 and cannot be named by a value.
class THostObject {
public:
    explicit THostObject(THostKind kind);
    virtual ~THostObject();
    THostObject(const THostObject&) = delete;
    THostObject& operator=(const THostObject&) = delete;

    // The type name shown as the display text of a vtHost value ("TfString", "TProcess", ...).
    virtual const char* HostTypeName() const = 0;
    THostKind hostKind() const { return m_kind; }
    std::uint32_t hostId() const { return m_id; }
    // The VM it is registered with; none once that VM has ended.
    TVm* vm() const { return m_vm; }

private:
    friend class TVm;
    TVm* m_vm;
    std::uint32_t m_id;
    THostKind m_kind;
};

// Runs a method of an instance as a short-lived process ("destructor", "gc_mark"): create the process,
// run it once with the host budget, destroy it. Errors inside are that process's own and must not
// escape. The interpreter installs one; without it such methods do not run.
class TMethodRunner {
public:
    virtual ~TMethodRunner() = default;
    virtual void RunShortProcess(TInstance& self, std::string_view method) = 0;
};

// Counters the debugger's caption shows; each is raised on creation and lowered on release.
struct TStatistics {
    long blocks = 0, lexerElements = 0, parseResults = 0, stacks = 0, processes = 0;
    long elements = 0, cells = 0, stringBodies = 0, functions = 0;
    std::string Line() const;
};

class TVm {
public:
    explicit TVm(std::size_t heapReserve = THeap::kDefaultReserve);
    ~TVm();
    TVm(const TVm&) = delete;
    TVm& operator=(const TVm&) = delete;

    // The live VM, or none. Get() treats "none" as a logic error.
    static TVm* Current() { return s_current; }
    static TVm& Get();

    THeap& heap() { return m_heap; }
    TSymbolTable& symbols() { return m_symbols; }
    TAlias& aliases() { return *m_aliases; }
    TStatistics& stats() { return m_stats; }
    // The regular-expression engine of the value layer (its compiled patterns are cached in it).
    TBRegExp& regexp();

    // Value cells in the heap, zero-filled (vtNull). Stacks, globals' variables, element and result
    // cells live here so that a vtRef can point at them.
    TValue* AllocCells(std::uint32_t count);
    void FreeCells(TValue* cells, std::uint32_t count);
    std::uint32_t CellRef(const TValue* cell) const { return m_heap.OffsetOf(cell); }
    TValue* CellAt(std::uint32_t ref) const { return static_cast<TValue*>(m_heap.At(ref)); }
    bool IsHeapCell(const TValue* cell) const { return m_heap.Contains(cell, sizeof(TValue)); }

    // Instance blocks: zero-filled, registered as block starts so InstanceAt can check raw handles.
    TInstance* AllocInstanceBlock(std::uint32_t bytes);
    void FreeInstanceBlock(TInstance* block, std::uint32_t bytes);
    // The block a raw handle from a script names, or none when it names no instance block.
    TInstance* InstanceAt(std::uint32_t handle) const;
    // The same, but only for an instance that exists (count 0 or more), not a free block.
    TInstance* LiveInstanceAt(std::uint32_t handle) const {
        TInstance* block = InstanceAt(handle);
        return block && block->refCount >= 0 ? block : nullptr;
    }

    // The host table; ids carry a generation in their top byte so a reused slot is not mistaken for
    // the object that had it before.
    std::uint32_t RegisterHost(THostObject* object);
    void UnregisterHost(std::uint32_t id);
    // For an object set aside for reuse: its id dies now, and it gets a fresh one when taken up again,
    // exactly as if it had been destroyed and a new one made.
    void RetireHostId(THostObject& object) { UnregisterHost(object.m_id); }
    void RenewHostId(THostObject& object) { object.m_id = RegisterHost(&object); }
    THostObject* HostAt(std::uint32_t id) const {
        std::uint32_t index = id & kHostIndexMask;
        if (index == 0 || index >= m_hosts.size()) return nullptr;
        const HostSlot& s = m_hosts[index];
        return s.id == id ? s.object : nullptr;
    }
    std::size_t LiveHostObjects() const { return m_liveHosts; }

    // Keeps a block that is still referenced after its class let go of it (a recompiled or destroyed
    // class): it stays allocated until the VM ends, so releases through old values stay harmless.
    void AdoptOrphanBlock(TInstance* block) {
        m_tainted.erase(m_heap.OffsetOf(block));
        m_orphans.push_back(block);
    }
    // A block destroyed while values still referred to it: those values will be released later, so
    // the block must never go back to the heap (its class orphans it instead of freeing it).
    void TaintBlock(const TInstance* block) { m_tainted.insert(m_heap.OffsetOf(block)); }
    bool IsTainted(const TInstance* block) const { return m_tainted.count(m_heap.OffsetOf(block)) != 0; }
    const std::vector<TInstance*>& OrphanBlocks() const { return m_orphans; }

    // The core classes, set at start-up (or by a test), and the cached slots that go with them.
    TRTTI* objectClass = nullptr;
    TRTTI* stringClass = nullptr;
    TRTTI* arrayClass = nullptr;
    std::int32_t arrayBodySlot = -1;
    std::int32_t stringBodyHint = -1;

    // Whether new classes enter the alias table (off while a page's resources are read).
    bool aliasRegistration = true;
    // Where progress lines of the value layer go ("Decref failed at ..."); none drops them.
    TReporter* reporter = nullptr;
    TMethodRunner* methodRunner = nullptr;
    // The interpreter's process-wide state (current process, step limit, warnings); it installs itself.
    TInterpreter* interpreter = nullptr;
    TCollectorHooks* collector = nullptr;
    TClassCompiler* classCompiler = nullptr;
    // The resource tree DeclareGlobal keeps in step (set at start-up; none in most tests).
    TResourceSystem* resources = nullptr;

private:
    static constexpr std::uint32_t kHostIndexMask = 0x00FFFFFF;
    struct HostSlot {
        THostObject* object = nullptr;
        std::uint32_t id = 0; // the full id while in use; generation kept while free
        std::uint32_t nextFree = 0;
    };

    static inline TVm* s_current = nullptr;
    TVm* m_previous;
    THeap m_heap;
    TSymbolTable m_symbols;
    std::unique_ptr<TAlias> m_aliases;
    std::unique_ptr<TBRegExp> m_regexp;
    TStatistics m_stats;
    std::vector<HostSlot> m_hosts{1}; // slot 0 is never used
    std::uint32_t m_freeHost = 0;
    std::size_t m_liveHosts = 0;
    std::vector<TInstance*> m_orphans;
    std::unordered_set<std::uint32_t> m_tainted;
};

} // namespace plimo
