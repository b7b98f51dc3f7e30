#include "classes/alias.h"

#include <strings.h>

#include "classes/rtti.h"

namespace plimo {

namespace {
bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}
} // namespace

void TAlias::Add(std::string_view name, TRTTI* cls) {
    for (Entry& e : m_entries)
        if (SameName(e.name, name)) {
            e.cls = cls;
            return;
        }
    m_entries.push_back({std::string(name), cls});
}

TRTTI* TAlias::Get(std::string_view name) const {
    for (const Entry& e : m_entries)
        if (SameName(e.name, name)) return e.cls;
    return nullptr;
}

void TAlias::Delete(const TRTTI* cls) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        if (SameName(it->name, cls->name)) {
            // A class of the same name registered later must not lose the entry it does not own.
            if (it->cls == cls) m_entries.erase(it);
            return;
        }
}

} // namespace plimo
