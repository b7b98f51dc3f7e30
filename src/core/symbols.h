// The symbol table that turns member, method and instruction names into integer ids, and the
// ordered member-name list with its hinted lookup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace plimo {

// Ids of the names entered before anything else, in this order.
enum : std::int32_t { kSymBody = 0, kSymGcMark = 1, kSymGenerator = 2, kSymErrorHook = 3 };

// Ids are handed out 0, 1, 2, ... in order of first use and never change. Lookup ignores the case of
// ASCII letters, but not inside double-byte characters: a trail byte that happens to be a letter is
// part of a Japanese character, and folding it would merge unrelated names.
class TSymbolTable {
public:
    TSymbolTable(); // enters the fixed names
    std::int32_t SymbolOf(std::string_view name);
    // The id of a known name, or -1 (nothing is entered).
    std::int32_t Lookup(std::string_view name) const;
    // The name as first spelled; empty for an unknown id.
    const std::string& SymbolName(std::int32_t id) const;
    std::int32_t Count() const { return static_cast<std::int32_t>(m_names.size()); }

    static std::string FoldCase(std::string_view name);

private:
    std::vector<std::string> m_names;
    std::unordered_map<std::string, std::int32_t> m_ids; // folded name -> id
};

// The current VM's table (the process-wide one). Calling these without a live TVm is a logic error.
std::int32_t SymbolOf(std::string_view name);
std::int32_t SymbolLookup(std::string_view name);
const std::string& SymbolName(std::int32_t id);

// A class's member names in slot order. Each entry is a symbol id and a word that is always 0 (kept
// for the class-file layout).
class TRapidStringList {
public:
    struct Entry {
        std::int32_t id;
        std::int32_t zero;
    };

    void Add(std::string_view name) { AddId(SymbolOf(name)); }
    void AddId(std::int32_t id) { m_entries.push_back({id, 0}); }
    std::int32_t Count() const { return static_cast<std::int32_t>(m_entries.size()); }
    std::int32_t IdAt(std::int32_t index) const { return m_entries[static_cast<std::size_t>(index)].id; }
    const std::string& NameAt(std::int32_t index) const { return SymbolName(IdAt(index)); }
    void Clear() { m_entries.clear(); }

    // The slot whose id is id: the hint first (left as is on a hit), then from the last entry down;
    // hint becomes the slot found, or -1.
    std::int32_t Find(std::int32_t id, std::int32_t& hint) const {
        if (hint >= 0 && hint < Count() && m_entries[static_cast<std::size_t>(hint)].id == id) return hint;
        for (std::int32_t i = Count() - 1; i >= 0; --i)
            if (m_entries[static_cast<std::size_t>(i)].id == id) return hint = i;
        return hint = -1;
    }
    std::int32_t Find(std::int32_t id) const {
        std::int32_t hint = -1;
        return Find(id, hint);
    }

private:
    std::vector<Entry> m_entries;
};

} // namespace plimo
