// The class alias table: short class names to classes, for resource paths without dots.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace plimo {

class TRTTI;

// Not sorted; names compared ignoring ASCII case. One table per VM (TVm::aliases()).
class TAlias {
public:
    // Replaces the class when the name is present.
    void Add(std::string_view name, TRTTI* cls);
    TRTTI* Get(std::string_view name) const;
    // Removes the entry named like the class (only when it is this class).
    void Delete(const TRTTI* cls);
    std::size_t Count() const { return m_entries.size(); }

private:
    struct Entry {
        std::string name;
        TRTTI* cls;
    };
    std::vector<Entry> m_entries;
};

} // namespace plimo
