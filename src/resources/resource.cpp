#include "resources/resource.h"

#include <algorithm>
#include <climits>

#include "platform/files.h"
#include "resources/paths.h"
#include "resources/resource_system.h"
#include "resources/sgml.h"

namespace plimo {

// ---- TResource ----

TResource::TResource(TResourceSystem* system) : m_system(system) {}

TResource::~TResource() {
    // The script object hears of its resource's end; not while the whole system is coming down, when
    // the globals the snippet needs may already be gone.
    if (scriptValue.tag != vtObject) return;
    try {
        if (m_system && m_system->runtime && !m_system->TearingDown()) {
            if (TResource* slot = m_system->Resolve("$_1"); slot && slot->VariableSlot()) {
                AssignValue(*slot->VariableSlot(), scriptValue);
                m_system->runtime->Eval("$_1.onDestroy();", true);
            }
        }
        SetInt(scriptValue, 0);
    } catch (const std::exception&) {
        // A destructor cannot raise; the value is dropped uncounted instead.
        ClearValue(scriptValue);
    }
}

bool TResource::IsRoot() const {
    return m_system && m_system->root.get() == this;
}

std::unique_ptr<TResListIterator> TResource::CreateIterator() {
    return nullptr;
}
void TResource::AddChild(std::unique_ptr<TResource>) {}
TResource* TResource::FindChild(std::string_view) {
    return nullptr;
}
TValue* TResource::VariableSlot() {
    return nullptr;
}

TValue* TResource::ScriptObject() {
    if (scriptValue.tag != vtObject && m_system && m_system->runtime)
        m_system->runtime->MakeScriptObject(*this, scriptValue);
    return &scriptValue;
}

TResource* TResource::Resolve(std::string_view path) {
    if (path.empty()) return this;
    std::size_t dot = path.find('.');
    std::string_view head = path.substr(0, dot);
    TResource* child = FindChild(head);
    if (dot != std::string_view::npos) return child ? child->Resolve(path.substr(dot + 1)) : nullptr;
    if (child || !IsRoot()) return child;
    // At the root a single name is also a short class name, or a global variable made on first use.
    if (TResource* cls = m_system->FindClassAlias(head)) return cls;
    if (head.empty() || head[0] != '$') return nullptr;
    TResourceList* globals = m_system->UsrGlobal();
    if (TResource* found = globals->FindChild(head)) return found;
    std::unique_ptr<TResource> made =
        m_system->ParseResourceText("<globalvalue name=\"" + TSGML::EscapeValue(head) + "\">");
    if (!made) return nullptr;
    TResource* raw = made.get();
    globals->AddChild(std::move(made));
    return raw;
}

void TResource::RemoveChild(TResource*) {}

bool TResource::Initialize() {
    return m_system ? m_system->InitializeResource(*this) : true;
}

void TResource::InitStep(TInitContext&) {}

void TResource::CommonFolder(std::string& folder) {
    if (!src.empty()) folder = CommonFolderOf(folder, FolderOf(src));
}

void TResource::Relocate(std::string_view, std::string_view) {}
void TResource::SaveTo(TLines&, const std::string&) {}

void TResource::ReleaseObjects() {
    if (scriptValue.tag != vtObject && scriptValue.tag != vtHost) return;
    try {
        SetNull(scriptValue);
    } catch (const std::exception&) {
        ClearValue(scriptValue);
    }
}

void TResource::Attached(TResource*) {}

void TResource::MarkValues() {
    if (m_system && m_system->runtime) m_system->runtime->MarkValue(scriptValue);
}

void TResource::Sweep() {}

void TResource::ListPaths(TLines& lines, const std::string& prefix) {
    lines.push_back(prefix);
}

void TResource::ForEach(TResourceIterator& visitor) {
    visitor.Visit(*this);
}

std::unique_ptr<TResource> TResource::Clone() {
    if (!m_system) return nullptr;
    TLines lines;
    SaveTo(lines, "");
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) text += "\r\n";
        text += lines[i];
    }
    return m_system->ParseResourceText(text);
}

std::string TResource::FullPath() const {
    std::vector<const TResource*> chain;
    for (const TResource* r = this; r->parent; r = r->parent) chain.push_back(r);
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!out.empty()) out += '.';
        out += (*it)->name;
    }
    return out;
}

// ---- TResourceList ----

TResourceList::~TResourceList() {
    if (m_system && m_system->usrglobal == this) m_system->usrglobal = nullptr;
    // Children go first, always the first remaining one, each seeing a consistent list.
    while (!children.empty()) {
        std::unique_ptr<TResource> first = std::move(children.front());
        children.erase(children.begin());
        first.reset();
    }
}

std::unique_ptr<TResListIterator> TResourceList::CreateIterator() {
    return std::make_unique<TResListIterator>(*this);
}

void TResourceList::AddChild(std::unique_ptr<TResource> child) {
    if (!child) return;
    TResource* raw = child.get();
    raw->parent = this;
    children.push_back(std::move(child));
    raw->Attached(this);
}

TResource* TResourceList::FindChild(std::string_view childName) {
    for (const auto& child : children)
        if (SameText(child->name, childName)) return child.get();
    return nullptr;
}

std::size_t TResourceList::IndexOf(const TResource* child) const {
    for (std::size_t i = 0; i < children.size(); ++i)
        if (children[i].get() == child) return i;
    return children.size();
}

void TResourceList::RemoveChild(TResource* child) {
    std::size_t index = IndexOf(child);
    if (index == children.size()) return;
    std::unique_ptr<TResource> owned = std::move(children[index]);
    children.erase(children.begin() + static_cast<std::ptrdiff_t>(index));
    owned.reset();
}

void TResourceList::InitStep(TInitContext& context) {
    for (std::size_t i = 0; i < children.size(); ++i) children[i]->InitStep(context);
}

void TResourceList::CommonFolder(std::string& folder) {
    TResource::CommonFolder(folder);
    for (std::size_t i = 0; i < children.size(); ++i) children[i]->CommonFolder(folder);
}

void TResourceList::Relocate(std::string_view oldFolder, std::string_view newFolder) {
    TResource::Relocate(oldFolder, newFolder);
    for (std::size_t i = 0; i < children.size(); ++i) children[i]->Relocate(oldFolder, newFolder);
}

void TResourceList::SaveTo(TLines& lines, const std::string& indent) {
    lines.push_back(indent + "<resourcelist name=\"" + TSGML::EscapeValue(name) + "\">");
    std::string inner = indent + " ";
    for (std::size_t i = 0; i < children.size(); ++i) children[i]->SaveTo(lines, inner);
    lines.push_back(indent + "</resourcelist>");
}

void TResourceList::ReleaseObjects() {
    TResource::ReleaseObjects();
    for (std::size_t i = 0; i < children.size(); ++i) children[i]->ReleaseObjects();
}

void TResourceList::MarkValues() {
    TResource::MarkValues();
    for (std::size_t i = 0; i < children.size(); ++i) children[i]->MarkValues();
}

void TResourceList::Sweep() {
    for (std::size_t i = 0; i < children.size(); ++i) children[i]->Sweep();
}

void TResourceList::ListPaths(TLines& lines, const std::string& prefix) {
    lines.push_back(prefix.empty() ? std::string("<root>") : prefix);
    for (std::size_t i = 0; i < children.size(); ++i) {
        TResource& child = *children[i];
        child.ListPaths(lines, prefix.empty() ? child.name : prefix + "." + child.name);
    }
}

void TResourceList::ForEach(TResourceIterator& visitor) {
    TResource::ForEach(visitor);
    for (std::size_t i = 0; i < children.size(); ++i) children[i]->ForEach(visitor);
}

namespace {

// The number after a trailing "_", or -1 when the name does not end in "_" and digits.
long long trailingNumber(std::string_view text) {
    std::size_t end = text.size(), start = end;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
    if (start == end || start == 0 || text[start - 1] != '_') return -1;
    long long n = 0;
    for (std::size_t i = start; i < end; ++i) n = std::min<long long>(n * 10 + (text[i] - '0'), INT_MAX);
    return n;
}

} // namespace

std::string TResourceList::UniqueChildName(std::string_view wanted) const {
    bool taken = std::any_of(children.begin(), children.end(),
                             [&](const auto& c) { return SameText(c->name, wanted); });
    if (!taken) return std::string(wanted);
    std::string stem(wanted);
    if (trailingNumber(stem) >= 0) stem.erase(stem.rfind('_'));
    std::string lowerStem = LowerText(stem);
    long long max = 0;
    for (const auto& child : children) {
        if (LowerText(child->name).find(lowerStem) == std::string::npos) continue;
        max = std::max(max, trailingNumber(child->name));
    }
    return stem + "_" + std::to_string(max + 1);
}

// ---- TResListIterator ----

bool TResListIterator::HasNext() const {
    return index < list->children.size();
}

TResource* TResListIterator::Next() {
    return HasNext() ? list->children[index++].get() : nullptr;
}

void TResListIterator::Remove() {
    if (index == 0 || index > list->children.size()) return;
    --index;
    list->RemoveChild(list->children[index].get());
}

} // namespace plimo
