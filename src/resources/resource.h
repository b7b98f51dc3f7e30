// The resource tree: the base of everything loaded (classes, globals, parameters, lists) and the
// lists that hold them, addressed by dotted paths from the root.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.h"

namespace plimo {

class TResource;
class TResourceList;
class TResourceSystem;

// The tally of one initialisation pass; each resource's InitStep adds 1 to at most one field.
struct TInitContext {
    std::int32_t pending = 0;
    std::int32_t done = 0;
    std::int32_t failed = 0;
};

// Walks the children of one list; Remove destroys the child last returned.
class TResListIterator {
public:
    explicit TResListIterator(TResourceList& list) : list(&list) {}
    bool HasNext() const;
    TResource* Next();
    void Remove();

    TResourceList* list;
    std::size_t index = 0;
};

// A visitor driven by ForEach: depth first, parent before children.
class TResourceIterator {
public:
    virtual ~TResourceIterator() = default;
    virtual void Visit(TResource& resource) = 0;
};

using TLines = std::vector<std::string>;

class TResource {
public:
    // A resource belongs to one resource system (root, folders, globals); tests may pass none.
    explicit TResource(TResourceSystem* system = nullptr);
    virtual ~TResource();
    TResource(const TResource&) = delete;
    TResource& operator=(const TResource&) = delete;

    // The virtual operations, in slot order; subclasses override them by these names.
    virtual std::unique_ptr<TResListIterator> CreateIterator();                    // 0
    virtual void AddChild(std::unique_ptr<TResource> child);                       // 1
    virtual TResource* FindChild(std::string_view childName);                      // 2
    virtual TValue* VariableSlot();                                                // 3
    virtual TValue* ScriptObject();                                                // 4
    virtual TResource* Resolve(std::string_view path);                             // 5
    virtual void RemoveChild(TResource* child);                                    // 6
    virtual bool Initialize();                                                     // 7
    virtual void InitStep(TInitContext& context);                                  // 8
    virtual void CommonFolder(std::string& folder);                                // 9
    virtual void Relocate(std::string_view oldFolder, std::string_view newFolder); // 10
    virtual void SaveTo(TLines& lines, const std::string& indent);                 // 11
    virtual void ReleaseObjects();                                                 // 12
    virtual void Attached(TResource* newParent);                                   // 13
    virtual void MarkValues();                                                     // 14
    virtual void Sweep();                                                          // 15
    virtual void ListPaths(TLines& lines, const std::string& prefix);              // 16
    virtual void ForEach(TResourceIterator& visitor);                              // 17
    virtual std::unique_ptr<TResource> Clone();                                    // 18

    // Names from the topmost resource below the root down to this one, joined by ".".
    std::string FullPath() const;
    TResourceSystem* System() const { return m_system; }
    bool IsRoot() const;

    std::string src;             // absolute path of the file read from or saved to; empty when none
    std::string name;            // keeps its case; lookups ignore case
    TResource* parent = nullptr; // the list holding this resource
    TValue scriptValue{};        // the script object standing for this resource; null until asked for

protected:
    TResourceSystem* m_system;
};

class TResourceList : public TResource {
public:
    // Lists nested deeper than this are not built from markup, so that no walk of the tree can run
    // out of stack.
    static constexpr int kMaxDepth = 1000;

    using TResource::TResource;
    ~TResourceList() override;

    std::unique_ptr<TResListIterator> CreateIterator() override;
    void AddChild(std::unique_ptr<TResource> child) override;
    TResource* FindChild(std::string_view childName) override;
    void RemoveChild(TResource* child) override;
    void InitStep(TInitContext& context) override;
    void CommonFolder(std::string& folder) override;
    void Relocate(std::string_view oldFolder, std::string_view newFolder) override;
    void SaveTo(TLines& lines, const std::string& indent) override;
    void ReleaseObjects() override;
    void MarkValues() override;
    void Sweep() override;
    void ListPaths(TLines& lines, const std::string& prefix) override;
    void ForEach(TResourceIterator& visitor) override;

    // name itself when no child has it, otherwise the stem with "_" and one more than the highest
    // number a similar child carries.
    std::string UniqueChildName(std::string_view wanted) const;

    std::size_t Count() const { return children.size(); }
    std::size_t IndexOf(const TResource* child) const;
    TResource* At(std::size_t index) const { return children[index].get(); }

    std::vector<std::unique_ptr<TResource>> children;
};

} // namespace plimo
