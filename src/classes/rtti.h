// A compiled class: a resource that also holds the member layout, the method table, the main code and
// the pool of its instances.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classes/function.h"
#include "core/compiled_info.h"
#include "core/symbols.h"
#include "core/vm.h"
#include "resources/resource.h"

namespace plimo {

// The collector's part of a class's resource operations (installed on the VM by the collector).
class TCollectorHooks {
public:
    virtual ~TCollectorHooks() = default;
    virtual void MarkPool(TRTTI& cls) = 0;  // check mode: mark every block whose count is 0 or more
    virtual void SweepPool(TRTTI& cls) = 0; // SweepInstance on every block whose count is 0 or more
};

// The compiler's entry for one class, used by the class's initialisation step; installed on the VM by
// the compiler. Returns true when compilation failed (and then sets cls.failed).
class TClassCompiler {
public:
    virtual ~TClassCompiler() = default;
    virtual bool Compile(TRTTI& cls, std::string_view source, bool report) = 0;
};

class TRTTI : public TResource, public THostObject {
public:
    static constexpr THostKind kKind = THostKind::Class;

    // Registers the class in the alias table under its name (RegisterAlias) when the name is given.
    explicit TRTTI(std::string_view className, TResourceSystem* system = nullptr);
    // Enters the class under its name when registration is on and no class has the name yet.
    void RegisterAlias();
    // Refusing destruction is the owner's job (CheckDestroyable); instances still referenced when the
    // class dies anyway are handed to the VM so their holders never touch freed memory.
    ~TRTTI() override;

    const char* HostTypeName() const override { return "TRTTI"; }

    // ---- members ----
    std::int32_t FindMember(std::int32_t symbol, std::int32_t& hint) const {
        return memberNames.Find(symbol, hint);
    }
    bool HasMember(std::int32_t symbol) const { return memberNames.Find(symbol) >= 0; }
    std::int32_t MemberSlot(std::string_view memberName);
    void InheritMembers();

    // ---- methods ----
    void AddMethod(TFunction* f);
    void DefineMethod(TFunction* f);
    void AddMethod(std::unique_ptr<TFunction> f) { AddMethod(f.release()); }
    void DefineMethod(std::unique_ptr<TFunction> f) { DefineMethod(f.release()); }
    void InheritMethods();
    std::int32_t MethodCount() const { return static_cast<std::int32_t>(m_methods.size()); }
    TFunction* MethodAt(std::int32_t slot) const {
        return slot >= 0 && slot < MethodCount() ? m_methods[static_cast<std::size_t>(slot)] : nullptr;
    }
    TFunction* FindMethod(std::int32_t symbol, std::int32_t& hint) const;
    TFunction* FindMethodByName(std::string_view text) const;
    std::int32_t MethodSlot(std::string_view text) const;
    std::int32_t SlotOf(const TFunction* f) const;
    TFunction* GetConstructor();
    TFunction* GetDestructor();
    void ClearMethods();

    // ---- instances ----
    TInstance* NewInstance();
    std::vector<TInstance*> LiveInstances() const;
    bool HasLiveInstances() const;
    const std::vector<TInstance*>& Pool() const { return m_pool; }
    bool IsSubclassOf(const TRTTI* c) const {
        for (const TRTTI* k = this; k; k = k->superclass)
            if (k == c) return true;
        return false;
    }
    std::string ClassTag() const;

    // ---- life cycle ----
    void Reset();
    // Raises ClassTag + ":オブジェクトがまだ残っています" when referenced instances remain.
    void CheckDestroyable() const;

    // ---- resource operations ----
    TValue* VariableSlot() override { return m_classValue; }
    void InitStep(TInitContext& context) override;
    void SaveTo(TLines& lines, const std::string& indent) override;
    void ReleaseObjects() override;
    void MarkValues() override;
    void Sweep() override;

    TRTTI* superclass = nullptr;
    std::int32_t blockSize = -1;
    TRapidStringList memberNames;
    std::unique_ptr<TCompiledInfo> mainCode;
    bool compiled = false;
    bool failed = false;
    bool aliased = false;
    std::int32_t instancesMade = 0;

private:
    void freePool();
    void invalidateCaches() {
        m_constructorCache = m_destructorCache = nullptr;
        TFunction::NoteCallTargetsChanged(); // the interpreter's notes of call sites (TInterpreter)
    }
    static void dropUse(TFunction* f);

    std::vector<TFunction*> m_methods; // shared entries, counted by useCount
    TFunction* m_constructorCache = nullptr;
    TFunction* m_destructorCache = nullptr;
    std::vector<TInstance*> m_pool;
    TValue* m_classValue; // a heap cell, so that a vtRef can point at it
    TValue m_ownClassValue{};
};

// Makes the resource reader build a TRTTI for every "class" element.
void RegisterClassTag(TResourceSystem& system);

// The class of a vtHost value naming a class, else none.
TRTTI* ClassOf(const TValue& v);

} // namespace plimo
