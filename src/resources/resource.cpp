#include "resources/resource.h"

#include "resources/resource_system.h"

namespace plimo {

TResourceSystem::~TResourceSystem() {
    usrglobal = nullptr;
    root.reset();
}

TResource::TResource(TResourceSystem* system) : m_system(system) {}
TResource::~TResource() = default;

bool TResource::IsRoot() const { return m_system && m_system->root.get() == this; }

std::unique_ptr<TResListIterator> TResource::CreateIterator() { return nullptr; }
void TResource::AddChild(std::unique_ptr<TResource>) {}
TResource* TResource::FindChild(std::string_view) { return nullptr; }
TValue* TResource::VariableSlot() { return nullptr; }
TValue* TResource::ScriptObject() { return nullptr; }
TResource* TResource::Resolve(std::string_view) { return nullptr; }
void TResource::RemoveChild(TResource*) {}
bool TResource::Initialize() { return true; }
void TResource::InitStep(TInitContext&) {}
void TResource::CommonFolder(std::string&) {}
void TResource::Relocate(std::string_view, std::string_view) {}
void TResource::SaveTo(TLines&, const std::string&) {}
void TResource::ReleaseObjects() {}
void TResource::Attached(TResource*) {}
void TResource::MarkValues() {}
void TResource::Sweep() {}
void TResource::ListPaths(TLines& lines, const std::string& prefix) { lines.push_back(prefix); }
void TResource::ForEach(TResourceIterator& visitor) { visitor.Visit(*this); }
std::unique_ptr<TResource> TResource::Clone() { return nullptr; }
std::string TResource::FullPath() const { return {}; }

TResourceList::~TResourceList() {}
std::unique_ptr<TResListIterator> TResourceList::CreateIterator() { return std::make_unique<TResListIterator>(*this); }
void TResourceList::AddChild(std::unique_ptr<TResource> child) {}
TResource* TResourceList::FindChild(std::string_view) { return nullptr; }
void TResourceList::RemoveChild(TResource*) {}
void TResourceList::InitStep(TInitContext&) {}
void TResourceList::CommonFolder(std::string&) {}
void TResourceList::Relocate(std::string_view, std::string_view) {}
void TResourceList::SaveTo(TLines&, const std::string&) {}
void TResourceList::ReleaseObjects() {}
void TResourceList::MarkValues() {}
void TResourceList::Sweep() {}
void TResourceList::ListPaths(TLines&, const std::string&) {}
void TResourceList::ForEach(TResourceIterator&) {}
std::string TResourceList::UniqueChildName(std::string_view wanted) const { return std::string(wanted); }

bool TResListIterator::HasNext() const { return index < list->children.size(); }
TResource* TResListIterator::Next() { return list->children[index++].get(); }
void TResListIterator::Remove() {}

} // namespace plimo
