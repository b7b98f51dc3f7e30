// The bridge between script classes and host procedures: binding a procedure to a declared native,
// and the small set of operations every native uses to read its arguments and write its result.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "classes/function.h"
#include "core/value.h"

namespace plimo {

class TRTTI;
class TReporter;

// One row of a binding table: the native's name as the class declares it, and its procedure.
struct TNativeEntry {
    const char* name;
    TNativeProc proc;
};

// Sets the procedure of the first method named name. A class that does not declare it gets the message
// "クラス" + class + "のnative関数" + name + "は未定義です" (through the reporter) and binding goes on.
// Returns whether the name was found.
bool BindNative(TRTTI& cls, std::string_view name, TNativeProc proc, TReporter& reporter);
// Binds every row of a table, in order.
void BindNatives(TRTTI& cls, std::span<const TNativeEntry> table, TReporter& reporter);

// ---- support operations for native procedures (cells of the calling process's stack) ----

// Argument i (1 ... count) lies i cells below the receiver cell.
inline TValue& Arg(TValue* base, std::int32_t i) {
    return base[-i];
}
inline TValue& This(TValue* base) {
    return *base;
}

inline std::int32_t ArgInt(const TValue& cell) {
    return ValueToInt(cell);
}
inline float ArgFloat(const TValue& cell) {
    return ValueToFloat(cell);
}
inline bool ArgBool(const TValue& cell) {
    return IsTrue(cell);
}
inline TInstance* ArgObject(const TValue& cell) {
    return cell.tag == vtObject ? ObjectOf(cell) : nullptr;
}
THostObject* ArgHost(const TValue& cell);
// The display text of an argument.
inline std::string ArgText(const TValue& cell) {
    return ValueToText(cell);
}

inline void ResultNull(TValue* base) {
    SetNull(*base);
}
inline void ResultInt(TValue* base, std::int32_t n) {
    SetInt(*base, n);
}
inline void ResultFloat(TValue* base, float x) {
    SetFloat(*base, x);
}
inline void ResultObject(TValue* base, TInstance* instance) {
    SetObject(*base, instance);
}
inline void ResultHost(TValue* base, const THostObject* p) {
    SetHost(*base, p);
}
void ResultString(TValue* base, std::string_view text);
// A copy of cell, or null when there is none.
void ResultCopy(TValue* base, const TValue* cell);
inline void Retain(TValue& cell) {
    RetainValue(cell);
}

} // namespace plimo
