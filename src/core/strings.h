// Host bodies of strings and arrays: the TfString text and the element list of value cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/vm.h"

namespace plimo {

// Ownership of bodies: a body made with new belongs to the instance whose member names it (the String
// and Array destructors free it through their natives). Bodies still alive when their VM ends are
// deleted by the VM, as the instances are gone with its heap; so never keep one in an owning pointer
// that outlives the VM.

// The text of a String object (CP932 bytes, any length); never changed after creation.
class TfString : public THostObject {
public:
    static constexpr THostKind kKind = THostKind::String;
    explicit TfString(std::string_view text);
    ~TfString() override;
    const char* HostTypeName() const override { return "TfString"; }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

// Blocks for the cells of an element list; a large one is mapped with huge pages where the system
// offers them, since a loop over a large array in strides otherwise pays an address-translation miss
// on nearly every access.
void* AllocElementBlock(std::size_t bytes);
void FreeElementBlock(void* block, std::size_t bytes);

template <class T> struct TElementAllocator {
    using value_type = T;
    TElementAllocator() = default;
    template <class U> TElementAllocator(const TElementAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(AllocElementBlock(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) { FreeElementBlock(p, n * sizeof(T)); }
    template <class U> bool operator==(const TElementAllocator<U>&) const { return true; }
};

// The elements of an Array object, each a counted value. They are held in one block, in order: no
// reference to an element cell is ever handed out (natives and for-in copy values in and out), so
// cells may move when elements come and go, and a loop over a large array touches one place per
// element instead of a pointer and the cell it names. Statistics still count one cell per element.
class TElementList : public THostObject {
public:
    static constexpr THostKind kKind = THostKind::ElementList;
    TElementList();
    ~TElementList() override; // releases every element
    const char* HostTypeName() const override { return "TElementList"; }

    std::int32_t Count() const { return static_cast<std::int32_t>(m_cells.size()); }
    // Valid until the list next changes: use it at once, and never keep it across a call that may
    // add or delete elements.
    TValue* CellAt(std::int32_t index) { return &m_cells[static_cast<std::size_t>(index)]; }
    // A retained copy of value at index (0..Count; anything else appends).
    void Insert(std::int32_t index, const TValue& value);
    void Add(const TValue& value) { Insert(Count(), value); }
    // Removes the element, then releases its value.
    void Delete(std::int32_t index);
    void Clear();

private:
    std::vector<TValue, TElementAllocator<TValue>> m_cells;
};

// The host object of a vtHost value when it is of type T, else none.
template <class T> T* HostAs(const TValue& v) {
    THostObject* h = HostOf(v);
    return h && h->hostKind() == T::kKind ? static_cast<T*>(h) : nullptr;
}

} // namespace plimo
