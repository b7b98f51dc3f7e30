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

// Blocks for the pointer list of an element list; a large one is mapped with huge pages where the system
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

// The elements of an Array object: separately allocated heap cells, each holding a counted value, so a
// vtRef to an element stays valid while other elements come and go.
class TElementList : public THostObject {
public:
    static constexpr THostKind kKind = THostKind::ElementList;
    TElementList();
    ~TElementList() override; // releases every element
    const char* HostTypeName() const override { return "TElementList"; }

    std::int32_t Count() const { return static_cast<std::int32_t>(m_cells.size()); }
    TValue* CellAt(std::int32_t index) const { return m_cells[static_cast<std::size_t>(index)]; }
    // A new cell at index (0..Count) holding a retained copy of value.
    TValue* Insert(std::int32_t index, const TValue& value);
    TValue* Add(const TValue& value) { return Insert(Count(), value); }
    // Releases the element and frees its cell.
    void Delete(std::int32_t index);
    void Clear();

private:
    std::vector<TValue*, TElementAllocator<TValue*>> m_cells;
};

// The host object of a vtHost value when it is of type T, else none.
template <class T> T* HostAs(const TValue& v) {
    THostObject* h = HostOf(v);
    return h && h->hostKind() == T::kKind ? static_cast<T*>(h) : nullptr;
}

} // namespace plimo
