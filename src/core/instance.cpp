#include "core/instance.h"

#include "classes/rtti.h"
#include "core/errors.h"
#include "core/vm.h"
#include "platform/report.h"
#include "resources/resource_system.h"

namespace plimo {

TRTTI* InstanceClass(const TInstance* instance) {
    THostObject* h = TVm::Get().HostAt(instance->classId);
    return h && h->hostKind() == THostKind::Class ? static_cast<TRTTI*>(h) : nullptr;
}

void ResetMembers(TInstance* instance) {
    TRTTI* cls = InstanceClass(instance);
    if (!cls || cls->blockSize < 0) return;
    std::int32_t count = (cls->blockSize - static_cast<std::int32_t>(sizeof(TInstance))) / 8;
    // A class recompiled with fewer members than its blocks were laid out for leaves the rest unset too.
    for (std::int32_t i = 0; i < count; ++i)
        instance->members()[i] = TValue::Unset(i < cls->memberNames.Count() ? cls->memberNames.IdAt(i) : -1);
}

void DestroyInstance(TInstance* instance) {
    TVm& vm = TVm::Get();
    TRTTI* cls = InstanceClass(instance);
    if (!cls) {
        instance->refCount = -1;
        return;
    }
    if (instance->refCount > 0) vm.TaintBlock(instance);
    if (cls->GetDestructor() && vm.methodRunner) {
        // Pinned while the destructor runs, so an instance the destructor creates cannot take this
        // block (and run this destructor again) before it is freed.
        std::int32_t before = instance->refCount;
        ++instance->refCount;
        vm.methodRunner->RunShortProcess(*instance, "destructor");
        --instance->refCount;
        // A destructor that stored `this` somewhere brought the instance back: destroying it now would
        // leave that reference naming whatever instance reuses the block next.
        if (instance->refCount > before) return;
    }
    std::int32_t count =
        cls->blockSize < 0 ? 0 : (cls->blockSize - static_cast<std::int32_t>(sizeof(TInstance))) / 8;
    for (std::int32_t i = 0; i < count; ++i) {
        try {
            ReleaseValue(instance->members()[i]);
        } catch (const ERuntimeError&) {
            TReporter* reporter = cls->System() ? cls->System()->reporter : vm.reporter;
            if (reporter)
                reporter->ReportProgress("Decref failed at " + cls->name + "." +
                                         (i < cls->memberNames.Count() ? cls->memberNames.NameAt(i) : ""));
            break;
        }
    }
    instance->refCount = -1;
}

} // namespace plimo
