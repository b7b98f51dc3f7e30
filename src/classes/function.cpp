#include "classes/function.h"

#include "core/errors.h"
#include "core/symbols.h"
#include "core/vm.h"

namespace plimo {

TFunction::TFunction(TRTTI* owner, std::int32_t name, Kind kind)
    : THostObject(THostKind::Function), owner(owner), name(name), m_kind(kind) {
    if (TVm* vm = TVm::Current()) ++vm->stats().functions;
}

TFunction::~TFunction() {
    NoteCallTargetsChanged();
    if (vm()) --vm()->stats().functions; // the VM it was counted in, if that still lives
}

std::string TFunction::GetName() const {
    return SymbolName(name);
}

namespace {
constexpr const char* kKindNames[] = {"TNormalFunction", "TConstructor", "TDestructor", "TNativeFunction"};
}

const char* TFunction::KindName() const {
    return kKindNames[static_cast<int>(m_kind)];
}

std::unique_ptr<TFunction> MakeFunction(std::string_view kindName, TRTTI* owner, std::int32_t name) {
    if (kindName == kKindNames[0]) return std::make_unique<TNormalFunction>(owner, name);
    if (kindName == kKindNames[1]) return std::make_unique<TConstructor>(owner, name);
    if (kindName == kKindNames[2]) return std::make_unique<TDestructor>(owner, name);
    if (kindName == kKindNames[3]) return std::make_unique<TNativeFunction>(owner, name);
    return nullptr;
}

TNativeFunction::TNativeFunction(TRTTI* owner, std::int32_t name)
    : TFunction(owner, name, Kind::Native), proc(&TNativeFunction::Unbound) {}

void TNativeFunction::Unbound(TValue*, std::int32_t, std::int32_t) {
    throw ERuntimeError(texts::kNativeNotBound);
}

} // namespace plimo
