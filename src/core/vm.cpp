#include "core/vm.h"

#include <stdexcept>

#include "classes/alias.h"
#include "core/errors.h"
#include "services/regexp.h"

namespace plimo {

THostObject::THostObject(THostKind kind) : m_vm(TVm::Current()), m_id(0), m_kind(kind) {
    if (m_vm) m_id = m_vm->RegisterHost(this);
}

THostObject::~THostObject() {
    if (m_vm) m_vm->UnregisterHost(m_id);
}

std::string TStatistics::Line() const {
    auto n = [](long v) { return std::to_string(v); };
    return "// GC=" + n(blocks) + " gar=" + n(lexerElements) + " resgar=" + n(parseResults) +
           " stk=" + n(stacks) + " prc=" + n(processes) + "list=" + n(elements) + "/" + n(cells) +
           "// tfstr=" + n(stringBodies) + " func=" + n(functions);
}

TVm::TVm(std::size_t heapReserve)
    : m_previous(s_current), m_heap(heapReserve), m_aliases(std::make_unique<TAlias>()) {
    s_current = this;
    detail::g_heapBase = m_heap.base();
}

TVm::~TVm() {
    // Host objects that outlive the VM must not reach back into it. String bodies and element lists
    // belong to instances in the heap, which ends with the VM, so they end here too.
    std::vector<THostObject*> bodies;
    for (HostSlot& s : m_hosts)
        if (s.object) {
            s.object->m_vm = nullptr;
            if (s.object->hostKind() == THostKind::String || s.object->hostKind() == THostKind::ElementList)
                bodies.push_back(s.object);
        }
    for (THostObject* body : bodies) delete body;
    m_aliases.reset();
    s_current = m_previous;
    detail::g_heapBase = m_previous ? m_previous->m_heap.base() : nullptr;
}

TVm& TVm::Get() {
    if (!s_current) throw std::logic_error("no script machine (TVm) is alive");
    return *s_current;
}

TBRegExp& TVm::regexp() {
    if (!m_regexp) m_regexp = std::make_unique<TBRegExp>();
    return *m_regexp;
}

TValue* TVm::AllocCells(std::uint32_t count) {
    return static_cast<TValue*>(m_heap.At(m_heap.Alloc(count * sizeof(TValue))));
}

void TVm::FreeCells(TValue* cells, std::uint32_t count) {
    if (cells) m_heap.Free(m_heap.OffsetOf(cells), count * sizeof(TValue));
}

TInstance* TVm::AllocInstanceBlock(std::uint32_t bytes) {
    std::uint32_t offset = m_heap.Alloc(bytes);
    m_heap.SetBlockStart(offset, true);
    ++m_stats.blocks;
    return static_cast<TInstance*>(m_heap.At(offset));
}

void TVm::FreeInstanceBlock(TInstance* block, std::uint32_t bytes) {
    std::uint32_t offset = m_heap.OffsetOf(block);
    m_heap.SetBlockStart(offset, false);
    m_heap.Free(offset, bytes);
    --m_stats.blocks;
}

TInstance* TVm::InstanceAt(std::uint32_t handle) const {
    return m_heap.IsBlockStart(handle) ? static_cast<TInstance*>(m_heap.At(handle)) : nullptr;
}

std::uint32_t TVm::RegisterHost(THostObject* object) {
    std::uint32_t index = m_freeHost;
    if (index) {
        m_freeHost = m_hosts[index].nextFree;
    } else {
        if (m_hosts.size() > kHostIndexMask) throw ERuntimeError(texts::kHeapExhausted);
        index = static_cast<std::uint32_t>(m_hosts.size());
        m_hosts.emplace_back();
    }
    HostSlot& s = m_hosts[index];
    std::uint32_t generation = ((s.id >> 24) + 1) & 0xFF;
    s.id = (generation << 24) | index;
    s.object = object;
    ++m_liveHosts;
    return s.id;
}

void TVm::UnregisterHost(std::uint32_t id) {
    std::uint32_t index = id & kHostIndexMask;
    if (index == 0 || index >= m_hosts.size() || m_hosts[index].id != id) return;
    HostSlot& s = m_hosts[index];
    s.object = nullptr;
    s.id &= ~kHostIndexMask; // keep the generation, so the next owner of the slot gets a new id
    s.nextFree = m_freeHost;
    m_freeHost = index;
    --m_liveHosts;
}

} // namespace plimo
