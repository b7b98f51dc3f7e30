// Host bodies of strings and arrays: the TfString text and the element list of value cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

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

// The cells of an element list, in one block that grows by doubling. A large block is mapped with huge
// pages where the system offers them, since a loop over a large array in strides otherwise pays an
// address-translation miss on nearly every access; it grows by moving its mapping, so the cells are
// neither copied nor the new pages cleared twice. TValue is a plain 8-byte word: cells move bytewise.
class TCellBlock {
public:
    TCellBlock() = default;
    TCellBlock(const TCellBlock&) = delete;
    TCellBlock& operator=(const TCellBlock&) = delete;
    ~TCellBlock();

    std::size_t size() const { return m_size; }
    TValue& operator[](std::size_t index) { return m_cells[index]; }
    // Opens a cell at index (0..size), which holds value; the cells after it move up by one. Value is a
    // copy, as it may be one of these cells, which growth moves.
    void Insert(std::size_t index, TValue value) {
        if (m_size == m_capacity) Grow();
        if (index < m_size)
            std::memmove(m_cells + index + 1, m_cells + index, (m_size - index) * sizeof(TValue));
        m_cells[index] = value;
        ++m_size;
    }
    // Closes the cell at index (below size); the cells after it move down by one.
    void Erase(std::size_t index) {
        std::memmove(m_cells + index, m_cells + index + 1, (m_size - index - 1) * sizeof(TValue));
        --m_size;
    }

private:
    void Grow();

    TValue* m_cells = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0; // in cells
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
    void Insert(std::int32_t index, const TValue& value) {
        place(index >= 0 && index <= Count() ? static_cast<std::size_t>(index) : m_cells.size(), value);
    }
    // Inline: appending is the common case (Array.add).
    void Add(const TValue& value) { place(m_cells.size(), value); }
    // Removes the element, then releases its value.
    void Delete(std::int32_t index);
    void Clear();

private:
    void place(std::size_t index, const TValue& value) {
        TVm* vm = TVm::Current();
        if (!vm) [[unlikely]]
            vm = &TVm::Get(); // raises: counts and statistics belong to a live VM
        m_cells.Insert(index, value);
        RetainValue(m_cells[index]);
        ++vm->stats().cells;
        ++vm->stats().elements;
    }

    TCellBlock m_cells;
};

// The host object of a vtHost value when it is of type T, else none.
template <class T> T* HostAs(const TValue& v) {
    THostObject* h = HostOf(v);
    return h && h->hostKind() == T::kKind ? static_cast<T*>(h) : nullptr;
}

} // namespace plimo
