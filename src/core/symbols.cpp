#include "core/symbols.h"

#include <stdexcept>

#include "core/vm.h"
#include "platform/text.h"

namespace plimo {

TSymbolTable::TSymbolTable() {
    for (const char* name : {"_body", "gc_mark", "_generator", "_errorHook"}) SymbolOf(name);
}

std::string TSymbolTable::FoldCase(std::string_view name) {
    std::string folded(name);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        auto c = static_cast<unsigned char>(folded[i]);
        if (IsSjisLeadByte(c))
            ++i;
        else if (c >= 'a' && c <= 'z')
            folded[i] = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

std::int32_t TSymbolTable::SymbolOf(std::string_view name) {
    auto [it, added] = m_ids.try_emplace(FoldCase(name), Count());
    if (added) m_names.emplace_back(name);
    return it->second;
}

std::int32_t TSymbolTable::Lookup(std::string_view name) const {
    auto it = m_ids.find(FoldCase(name));
    return it == m_ids.end() ? -1 : it->second;
}

const std::string& TSymbolTable::SymbolName(std::int32_t id) const {
    static const std::string empty;
    return id >= 0 && id < Count() ? m_names[static_cast<std::size_t>(id)] : empty;
}

std::int32_t SymbolOf(std::string_view name) {
    return TVm::Get().symbols().SymbolOf(name);
}
std::int32_t SymbolLookup(std::string_view name) {
    return TVm::Get().symbols().Lookup(name);
}
const std::string& SymbolName(std::int32_t id) {
    return TVm::Get().symbols().SymbolName(id);
}

} // namespace plimo
