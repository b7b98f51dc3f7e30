#include "classes/native_bridge.h"

#include "classes/rtti.h"
#include "platform/report.h"
#include "platform/text.h"

namespace plimo {

namespace {
const SysText kClassWord{"クラス"};
const SysText kNativeOf{"のnative関数"};
const SysText kUndefined{"は未定義です"};
} // namespace

bool BindNative(TRTTI& cls, std::string_view name, TNativeProc proc, TReporter& reporter) {
    TFunction* f = cls.FindMethodByName(name);
    // A bytecode method of that name is not a native declaration: binding it would change nothing the
    // interpreter calls, so it is reported like a missing one.
    if (!f || !f->IsNative()) {
        reporter.ReportMessage(kClassWord.sjis() + cls.name + kNativeOf.sjis() + std::string(name) +
                               kUndefined.sjis());
        return false;
    }
    static_cast<TNativeFunction*>(f)->proc = proc;
    return true;
}

void BindNatives(TRTTI& cls, std::span<const TNativeEntry> table, TReporter& reporter) {
    for (const TNativeEntry& e : table) BindNative(cls, e.name, e.proc, reporter);
}

THostObject* ArgHost(const TValue& cell) {
    return HostOf(cell);
}

void ResultString(TValue* base, std::string_view text) {
    SetObject(*base, MakeString(text));
}

void ResultCopy(TValue* base, const TValue* cell) {
    if (cell)
        AssignValue(*base, *cell);
    else
        SetNull(*base);
}

} // namespace plimo
