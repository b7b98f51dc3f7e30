#include "classes/rtti.h"

#include <stdexcept>

#include "classes/alias.h"
#include "core/errors.h"
#include "core/instance.h"
#include "platform/report.h"
#include "resources/paths.h"
#include "resources/resource_system.h"
#include "resources/sgml.h"

namespace plimo {

TRTTI::TRTTI(std::string_view className, TResourceSystem* system) : TResource(system), THostObject(kKind) {
    name = std::string(className);
    TVm* vm = TVm::Current();
    m_classValue = vm ? vm->AllocCells(1) : &m_ownClassValue;
    *m_classValue = TValue::Make(vtHost, hostId());
    if (!name.empty()) RegisterAlias();
}

void TRTTI::RegisterAlias() {
    TVm* vm = this->vm();
    if (aliased || !vm || !vm->aliasRegistration || vm->aliases().Get(name)) return;
    vm->aliases().Add(name, this);
    aliased = true;
}

void RegisterClassTag(TResourceSystem& system) {
    system.RegisterTag("class", [](TResourceSystem& sys, const TSGML& element, const std::string& base) {
        auto cls = std::make_unique<TRTTI>("", &sys);
        sys.ReadCommonAttributes(*cls, element, base);
        cls->RegisterAlias();
        return std::unique_ptr<TResource>(std::move(cls));
    });
}

TRTTI::~TRTTI() {
    Reset();
    if (TVm* vm = this->vm()) {
        if (aliased) vm->aliases().Delete(this);
        if (m_classValue != &m_ownClassValue) vm->FreeCells(m_classValue, 1);
    }
}

// ---- members ----

std::int32_t TRTTI::MemberSlot(std::string_view memberName) {
    std::int32_t id = SymbolOf(memberName);
    std::int32_t slot = memberNames.Find(id);
    if (slot >= 0) return slot;
    memberNames.AddId(id);
    return memberNames.Count() - 1;
}

void TRTTI::InheritMembers() {
    if (!superclass) return;
    for (std::int32_t i = 0; i < superclass->memberNames.Count(); ++i)
        memberNames.AddId(superclass->memberNames.IdAt(i));
}

// ---- methods ----

void TRTTI::dropUse(TFunction* f) {
    if (--f->useCount <= 0) delete f;
}

void TRTTI::AddMethod(TFunction* f) {
    m_methods.push_back(f);
    ++f->useCount;
    invalidateCaches();
}

void TRTTI::DefineMethod(TFunction* f) {
    for (TFunction*& entry : m_methods)
        if (entry->name == f->name) {
            if (entry == f) return;
            TFunction* old = entry;
            entry = f;
            ++f->useCount;
            dropUse(old);
            invalidateCaches();
            return;
        }
    AddMethod(f);
}

void TRTTI::InheritMethods() {
    if (!superclass) return;
    for (TFunction* f : superclass->m_methods) AddMethod(f);
}

TFunction* TRTTI::FindMethod(std::int32_t symbol, std::int32_t& hint) const {
    if (TFunction* f = MethodAt(hint); f && f->name == symbol) return f;
    for (std::int32_t i = MethodCount() - 1; i >= 0; --i)
        if (m_methods[static_cast<std::size_t>(i)]->name == symbol) {
            hint = i;
            return m_methods[static_cast<std::size_t>(i)];
        }
    hint = -1;
    return nullptr;
}

TFunction* TRTTI::FindMethodByName(std::string_view text) const {
    return MethodAt(MethodSlot(text));
}

std::int32_t TRTTI::MethodSlot(std::string_view text) const {
    std::int32_t id = SymbolLookup(text);
    if (id < 0) return -1;
    for (std::int32_t i = 0; i < MethodCount(); ++i)
        if (m_methods[static_cast<std::size_t>(i)]->name == id) return i;
    return -1;
}

std::int32_t TRTTI::SlotOf(const TFunction* f) const {
    for (std::int32_t i = 0; i < MethodCount(); ++i)
        if (m_methods[static_cast<std::size_t>(i)] == f) return i;
    return -1;
}

TFunction* TRTTI::GetConstructor() {
    if (m_constructorCache) return m_constructorCache;
    for (auto it = m_methods.rbegin(); it != m_methods.rend(); ++it)
        if ((*it)->IsConstructor()) return m_constructorCache = *it;
    return nullptr;
}

TFunction* TRTTI::GetDestructor() {
    if (m_destructorCache) return m_destructorCache;
    for (auto it = m_methods.rbegin(); it != m_methods.rend(); ++it)
        if ((*it)->IsDestructor()) return m_destructorCache = *it;
    return nullptr;
}

void TRTTI::ClearMethods() {
    std::vector<TFunction*> entries;
    entries.swap(m_methods);
    invalidateCaches();
    for (TFunction* f : entries) dropUse(f);
}

// ---- instances ----

TInstance* TRTTI::NewInstance() {
    if (!compiled) throw ERuntimeError(texts::kClassPrefix.sjis() + ClassTag() + texts::kNotCompiled.sjis());
    if (!vm()) throw std::logic_error("a class made without a script machine has no pool");
    TVm& vm = *this->vm();
    if (blockSize == -1) blockSize = static_cast<std::int32_t>(sizeof(TInstance)) + 8 * memberNames.Count();
    ++instancesMade;
    TInstance* block = nullptr;
    for (TInstance* b : m_pool)
        if (b->refCount <= 0) {
            block = b;
            break;
        }
    if (block && block->refCount == 0) {
        DestroyInstance(block);
        if (block->refCount > 0) block = nullptr; // its destructor kept it alive
    }
    if (!block) {
        block = vm.AllocInstanceBlock(static_cast<std::uint32_t>(blockSize));
        block->classId = hostId();
        block->refCount = -1;
        m_pool.push_back(block);
    }
    block->refCount = 0;
    block->mark = 0;
    block->classId = hostId();
    ResetMembers(block);
    return block;
}

std::vector<TInstance*> TRTTI::LiveInstances() const {
    std::vector<TInstance*> live;
    if (!compiled || blockSize < 0 || !vm()) return live;
    for (TInstance* b : m_pool)
        if (b->refCount > 0) live.push_back(b);
    return live;
}

bool TRTTI::HasLiveInstances() const {
    return !LiveInstances().empty();
}

std::string TRTTI::ClassTag() const {
    return name + "@" + std::to_string(hostId());
}

// ---- life cycle ----

void TRTTI::freePool() {
    if (TVm* vm = this->vm()) {
        for (TInstance* b : m_pool) {
            // A block that values still refer to (or did when it was destroyed) must stay readable: the
            // VM keeps it.
            if (b->refCount > 0 || vm->IsTainted(b))
                vm->AdoptOrphanBlock(b);
            else
                vm->FreeInstanceBlock(b, static_cast<std::uint32_t>(blockSize));
        }
    }
    m_pool.clear();
}

void TRTTI::Reset() {
    compiled = false;
    memberNames.Clear();
    ClearMethods();
    freePool();
    mainCode.reset();
    blockSize = -1;
    invalidateCaches();
}

void TRTTI::CheckDestroyable() const {
    if (HasLiveInstances()) throw ERuntimeError(ClassTag() + texts::kInstancesRemain.sjis());
}

// ---- resource operations ----

void TRTTI::InitStep(TInitContext& context) {
    TVm* vm = this->vm();
    if (!compiled && vm && vm->classCompiler && m_system) {
        Reset();
        std::string source = m_system->ReadTextFile(src);
        vm->classCompiler->Compile(*this, source, true);
    }
    if (failed)
        ++context.failed;
    else if (compiled)
        ++context.done;
    else
        ++context.pending;
}

void TRTTI::SaveTo(TLines& lines, const std::string& indent) {
    std::string rel = m_system ? RelativePath(src, m_system->baseFolder) : src;
    lines.push_back(indent + "<class name=\"" + TSGML::EscapeValue(name) + "\" src=\"" + TSGML::EscapeValue(rel) +
                    "\"/>");
}

void TRTTI::ReleaseObjects() {
    TResource::ReleaseObjects();
    if (blockSize < 0 || !vm()) return;
    // By index over the blocks present now: a destructor may create instances and grow the pool.
    const std::size_t count = m_pool.size();
    for (std::size_t i = 0; i < count && i < m_pool.size(); ++i)
        if (m_pool[i]->refCount >= 0) DestroyInstance(m_pool[i]);
}

void TRTTI::MarkValues() {
    TResource::MarkValues();
    TVm* vm = TVm::Current();
    if (vm && vm->collector) vm->collector->MarkPool(*this);
}

void TRTTI::Sweep() {
    TVm* vm = TVm::Current();
    TReporter* reporter = m_system ? m_system->reporter : vm ? vm->reporter : nullptr;
    if (reporter) reporter->ReportProgress("sweeping " + name);
    if (vm && vm->collector) vm->collector->SweepPool(*this);
}

TRTTI* ClassOf(const TValue& v) {
    if (v.tag != vtHost) return nullptr;
    THostObject* h = HostOf(v);
    return h && h->hostKind() == THostKind::Class ? static_cast<TRTTI*>(h) : nullptr;
}

} // namespace plimo
