// Printing, globals, reflection, numbers and arrays: the natives every script object has.
#include "classes/core_natives.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "classes/rtti.h"
#include "classes/runtime.h"
#include "compiler/eval.h"
#include "core/errors.h"
#include "core/instance.h"
#include "core/interpreter.h"
#include "core/process.h"
#include "core/strings.h"
#include "platform/report.h"
#include "resources/resource.h"
#include "services/regexp.h"

namespace plimo {

namespace {

using std::int32_t;

// ---- helpers ----

// The instance behind this, or none when the receiver is not an object.
TInstance* SelfObject(TValue* base) {
    return ArgObject(This(base));
}

int32_t MemberCountOf(const TInstance* inst) {
    TRTTI* cls = InstanceClass(inst);
    if (!cls || cls->blockSize < 0) return 0;
    return (cls->blockSize - static_cast<int32_t>(sizeof(TInstance))) / 8;
}

// The member cell at index i of this object, or none outside the instance.
TValue* MemberAt(TValue* base, int32_t i) {
    TInstance* self = SelfObject(base);
    if (!self || i < 0 || i >= MemberCountOf(self)) return nullptr;
    return &self->members()[i];
}

// Arguments marked as read without a count check still must not be read past the call's own cells.
const TValue& ArgOrNull(TValue* base, int32_t count, int32_t i) {
    static const TValue kNull = TValue::Null();
    return i <= count ? Arg(base, i) : kNull;
}

// ---- Object: general ----

// The progress line carries where the print came from (innermost call first), for hosts that log it.
void Print(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    std::string trace;
    TInterpreter* interp = TInterpreter::Current();
    if (TProcess* p = interp ? interp->currentProcess : nullptr)
        for (const TTraceEntry& e : p->GetTrace())
            trace += (trace.empty() ? "" : " < ") + e.file + ":" + std::to_string(e.offset);
    TRuntime::Get().Print(ArgText(Arg(base, 1)), trace);
}

void GetKey(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TRuntime& rt = TRuntime::Get();
    ResultInt(base, rt.keyState ? rt.keyState(ArgInt(Arg(base, 1))) : 0);
}

// Drawing natives whose sprites are not part of this host yet: they read nothing and change nothing.
void NoEffect(TValue*, int32_t, int32_t) {}

void GetGlobal(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TValue* cell = GlobalCell(ArgText(Arg(base, 1)));
    if (cell)
        ResultCopy(base, cell);
    else
        ResultInt(base, 0);
}

void SetGlobalNative(TValue* base, int32_t count, int32_t) {
    if (count < 2) return;
    SetGlobal(ArgText(Arg(base, 1)), Arg(base, 2));
}

void GetTime(TValue* base, int32_t, int32_t) {
    ResultInt(base, static_cast<int32_t>(TRuntime::Get().Milliseconds()));
}

void GetPageHashCode(TValue* base, int32_t, int32_t) {
    TRuntime& rt = TRuntime::Get();
    ResultInt(base, rt.pageHashCode ? rt.pageHashCode() : 0);
}

void Refresh(TValue*, int32_t, int32_t) {
    TRuntime& rt = TRuntime::Get();
    if (rt.refreshSound) rt.refreshSound();
}

void ErrorValue(TValue* base, int32_t, int32_t) {
    SetError(*base, 0);
}

// Turns a number back into a host value; a number that names no live host object gives null rather
// than a value that would point at nothing.
void TObjectNative(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    std::uint32_t id = static_cast<std::uint32_t>(ArgInt(Arg(base, 1)));
    THostObject* h = TRuntime::Get().vm.HostAt(id);
    if (h)
        ResultHost(base, h);
    else
        ResultNull(base);
}

// ---- Object: objects and reflection ----

void GetClassName(TValue* base, int32_t, int32_t) {
    TInstance* self = SelfObject(base);
    TRTTI* cls = self ? InstanceClass(self) : nullptr;
    if (cls) ResultString(base, cls->name);
}

void NativeIs(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TRTTI* cls = ClassOf(Arg(base, 1));
    ResultInt(base, cls && IsInstanceOf(This(base), cls) ? 1 : 0);
}

void NewInstanceNative(TValue* base, int32_t count, int32_t) {
    TResource* r = TRuntime::Get().Resolve(ArgText(ArgOrNull(base, count, 1)));
    TRTTI* cls = dynamic_cast<TRTTI*>(r);
    if (cls)
        ResultObject(base, cls->NewInstance());
    else
        ResultInt(base, 0);
}

void ClearAllValues(TValue* base, int32_t, int32_t) {
    TInstance* self = SelfObject(base);
    if (!self) return;
    int32_t n = MemberCountOf(self);
    for (int32_t i = 0; i < n; ++i) SetInt(self->members()[i], 0);
}

void GetValueCount(TValue* base, int32_t, int32_t) {
    TInstance* self = SelfObject(base);
    TRTTI* cls = self ? InstanceClass(self) : nullptr;
    if (cls) ResultInt(base, cls->memberNames.Count());
}

void GetValueName(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TInstance* self = SelfObject(base);
    TRTTI* cls = self ? InstanceClass(self) : nullptr;
    int32_t i = ArgInt(Arg(base, 1));
    if (!cls || i < 0 || i >= cls->memberNames.Count())
        ResultNull(base);
    else
        ResultString(base, cls->memberNames.NameAt(i));
}

void GetValueIndex(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TInstance* self = SelfObject(base);
    TRTTI* cls = self ? InstanceClass(self) : nullptr;
    if (!cls) return;
    int32_t symbol = TRuntime::Get().vm.symbols().Lookup(ArgText(Arg(base, 1)));
    ResultInt(base, symbol < 0 ? -1 : cls->memberNames.Find(symbol));
}

void GetValueByIndex(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    ResultCopy(base, MemberAt(base, ArgInt(Arg(base, 1))));
}

void SetValueByIndex(TValue* base, int32_t count, int32_t) {
    if (count < 2) return;
    if (TValue* cell = MemberAt(base, ArgInt(Arg(base, 1)))) AssignValue(*cell, Arg(base, 2));
}

void ObjHandle(TValue* base, int32_t count, int32_t) {
    const TValue& v = ArgOrNull(base, count, 1);
    ResultInt(base, v.tag == vtObject ? v.asInt() : 0);
}

// A number that is not the handle of an instance block is refused (null) without reading the heap.
void RefCount(TValue* base, int32_t count, int32_t) {
    std::uint32_t handle = static_cast<std::uint32_t>(ArgInt(ArgOrNull(base, count, 1)));
    TInstance* inst = TRuntime::Get().vm.InstanceAt(handle);
    if (inst)
        ResultInt(base, inst->refCount < -1 ? -1 : inst->refCount);
    else
        ResultNull(base);
}

void GcMark(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TRuntime& rt = TRuntime::Get();
    if (rt.markValue) rt.markValue(Arg(base, 1));
}

void IsIntNative(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    ResultInt(base, Arg(base, 1).tag == vtInt ? 1 : 0);
}

void IsFloatNative(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    ResultInt(base, Arg(base, 1).tag == vtFloat ? 1 : 0);
}

// ---- Object: resources ----

void InitResource(TValue* base, int32_t count, int32_t) {
    TResource* r = TRuntime::Get().Resolve(ArgText(ArgOrNull(base, count, 1)));
    if (!r) {
        ResultInt(base, 1);
        return;
    }
    bool ok;
    try {
        ok = r->Initialize();
    } catch (const std::exception&) {
        ok = false;
    }
    ResultInt(base, ok ? 1 : 0);
}

void GetResource(TValue* base, int32_t count, int32_t) {
    TResource* r = TRuntime::Get().Resolve(ArgText(ArgOrNull(base, count, 1)));
    TValue* cell = r ? r->ScriptObject() : nullptr;
    if (cell)
        ResultCopy(base, cell);
    else
        ResultInt(base, 0);
}

void SetGenAttr(TValue* base, int32_t count, int32_t) {
    if (count < 3) return;
    TRuntime& rt = TRuntime::Get();
    if (rt.setGenAttr) rt.setGenAttr(Arg(base, 1), ArgText(Arg(base, 2)), ValueToLiteral(Arg(base, 3)));
}

// ---- Object: numbers ----

void Rnd(TValue* base, int32_t count, int32_t) {
    TRuntime& rt = TRuntime::Get();
    if (count < 1) {
        // A state within 32 of 2^30 would round up to 1.0 in single precision; the range ends below 1.
        float x = static_cast<float>(static_cast<double>(rt.NextRandom()) / 1073741824.0);
        ResultFloat(base, std::min(x, std::nextafter(1.0f, 0.0f)));
    } else
        ResultInt(base, rt.RandomBelow(ArgInt(Arg(base, 1))));
}

void Randomize(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TRuntime::Get().Randomize(ArgInt(Arg(base, 1)));
}

void Sin(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    ResultFloat(base, static_cast<float>(TRuntime::Get().SinDeg(ArgInt(Arg(base, 1)))));
}

void Cos(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    ResultFloat(base, static_cast<float>(TRuntime::Get().CosDeg(ArgInt(Arg(base, 1)))));
}

// A piecewise-linear angle that is exact on the axes and diagonals; cheaper than atan2 and what
// scripts have always computed with.
double PseudoAngle(double x, double y) {
    if (std::fabs(x) < 0.0001 && std::fabs(y) < 0.0001) x = 1.0;
    double s = 1;
    if (y < 0 || std::isnan(y)) {
        y = std::fabs(y);
        s = -1;
    }
    double a;
    if (x > 0)
        a = x > y ? (y / x) * 45 : 90 - (x / y) * 45;
    else
        a = -x > y ? 180 - (y / -x) * 45 : (-x / y) * 45 + 90;
    return a * s;
}

void Angle(TValue* base, int32_t count, int32_t) {
    if (count < 2) return;
    double a = PseudoAngle(ArgFloat(Arg(base, 1)), ArgFloat(Arg(base, 2)));
    if (std::isnan(a)) {
        TRuntime::Get().reporter.ReportProgress("angle: invalid operands");
        return;
    }
    ResultFloat(base, static_cast<float>(a));
}

void Dist(TValue* base, int32_t count, int32_t) {
    if (count < 2) return;
    double x = ArgFloat(Arg(base, 1)), y = ArgFloat(Arg(base, 2));
    ResultFloat(base, static_cast<float>(std::sqrt(x * x + y * y)));
}

void Sqrt(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    float x = ArgFloat(Arg(base, 1));
    if (x >= 0)
        ResultFloat(base, std::sqrt(x));
    else
        ResultNull(base);
}

// Float to int as the host converts: values outside the int range (and NaN) are not representable;
// they saturate instead of being undefined.
int32_t TruncToInt(double t) {
    if (std::isnan(t)) return 0;
    if (t >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (t <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(t);
}

void Trunc(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    ResultInt(base, TruncToInt(std::trunc(ArgFloat(Arg(base, 1)))));
}

void Floor(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    double x = ArgFloat(Arg(base, 1));
    double t = std::trunc(x);
    ResultInt(base, TruncToInt(x - t < 0 ? t - 1 : t));
}

void ValueOfNative(TValue* base, int32_t count, int32_t) {
    std::string text = ArgText(ArgOrNull(base, count, 1));
    TBRegExp re;
    if (re.Match("/^-?[0-9]*\\.[0-9]+$/", text)) {
        ResultFloat(base, std::strtof(text.c_str(), nullptr));
    } else if (re.Match("/^-?[0-9]+$/", text)) {
        errno = 0;
        long long n = std::strtoll(text.c_str(), nullptr, 10);
        if (errno == ERANGE || n < std::numeric_limits<int32_t>::min() ||
            n > std::numeric_limits<int32_t>::max())
            throw ERuntimeError("'" + text + "' is not a valid integer value");
        ResultInt(base, static_cast<int32_t>(n));
    } else {
        ResultNull(base);
    }
}

// ---- Array ----

const SysText kNoElementList{"配列の要素リストがありません"};

// The element list in argument 1; a value that is not one is a runtime error of the caller, not a
// read of whatever the number points at.
TElementList& ListArg(TValue* base) {
    TElementList* list = HostAs<TElementList>(Arg(base, 1));
    if (!list) throw ERuntimeError(kNoElementList);
    return *list;
}

// Argument i as an index below limit; outside it, the host list's index error.
int32_t IndexArg(TValue* base, int32_t i, int32_t limit) {
    const TValue& arg = Arg(base, i);
    int32_t index = arg.tag == vtInt ? arg.asInt() : ArgInt(arg); // an int, in every array loop
    if (index < 0 || index >= limit)
        throw ERuntimeError("List index out of bounds (" + std::to_string(index) + ")");
    return index;
}

void ArrayInit(TValue* base, int32_t, int32_t) {
    ResultHost(base, new TElementList());
}

void ArrayFree(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    delete HostAs<TElementList>(Arg(base, 1));
}

void ArrayAdd(TValue* base, int32_t count, int32_t) {
    if (count < 2) return;
    ListArg(base).Add(Arg(base, 2));
}

void ArrayInsert(TValue* base, int32_t count, int32_t) {
    if (count < 3) return;
    TElementList& list = ListArg(base);
    list.Insert(IndexArg(base, 2, list.Count() + 1), Arg(base, 3));
}

void ArrayGet(TValue* base, int32_t count, int32_t) {
    if (count < 2) return;
    TElementList& list = ListArg(base);
    ResultCopy(base, list.CellAt(IndexArg(base, 2, list.Count())));
}

void ArraySet(TValue* base, int32_t count, int32_t) {
    if (count < 3) return;
    TElementList& list = ListArg(base);
    AssignValue(*list.CellAt(IndexArg(base, 2, list.Count())), Arg(base, 3));
}

void ArrayDelete(TValue* base, int32_t count, int32_t) {
    if (count < 2) return;
    TElementList& list = ListArg(base);
    int32_t i = IndexArg(base, 2, list.Count());
    // The value moves to the result before the cell goes, so an object held only here survives.
    ResultCopy(base, list.CellAt(i));
    list.Delete(i);
}

void ArraySize(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    ResultFloat(base, static_cast<float>(ListArg(base).Count()));
}

// Result: the first index whose element is the same as argument 2 by the test given, or -1.
template <class Same> void FindElement(TValue* base, int32_t count, Same same) {
    if (count < 2) return;
    TElementList& list = ListArg(base);
    const TValue& v = Arg(base, 2);
    int32_t found = -1;
    for (int32_t i = 0; i < list.Count() && found < 0; ++i)
        if (same(*list.CellAt(i), v)) found = i;
    ResultInt(base, found);
}

void ArrayIndexOf(TValue* base, int32_t count, int32_t) {
    FindElement(base, count, [](const TValue& e, const TValue& v) { return CompareValues(e, v) == 0; });
}

void ArrayLightIndexOf(TValue* base, int32_t count, int32_t) {
    FindElement(base, count,
                [](const TValue& e, const TValue& v) { return e.tag == v.tag && e.bits == v.bits; });
}

void ArrayPack(TValue* base, int32_t count, int32_t) {
    if (count < 2) return;
    TElementList& list = ListArg(base);
    for (int32_t i = list.Count() - 1; i >= 0; --i)
        if (ValueToInt(*list.CellAt(i)) == 0) list.Delete(i);
}

const TNativeEntry kObjectNatives[] = {
    {"print", Print},
    {"getkey", GetKey},
    {"pset", NoEffect},
    {"suspend", natives::Suspend},
    {"currentProcess", natives::CurrentProcess},
    {"getGlobal", GetGlobal},
    {"setGlobal", SetGlobalNative},
    {"_getClassName", GetClassName},
    {"_newInstance", NewInstanceNative},
    {"_n_clearAllValues", ClearAllValues},
    {"TObject", TObjectNative},
    {"native_is", NativeIs},
    {"native_gc_mark", GcMark},
    {"_n_refcount", RefCount},
    {"_n_objhandle", ObjHandle},
    {"breakExec", natives::BreakExec},
    {"currentFunc", natives::CurrentFunc},
    {"_n_refresh", Refresh},
    {"_n_errorValue", ErrorValue},
    {"setMapPat", NoEffect},
    {"setAdjust", NoEffect},
    {"getTime", GetTime},
    {"_n_randomize", Randomize},
    {"rnd", Rnd},
    {"sin", Sin},
    {"cos", Cos},
    {"angle", Angle},
    {"dist", Dist},
    {"trunc", Trunc},
    {"floor", Floor},
    {"sqrt", Sqrt},
    {"valueOf", ValueOfNative},
    {"getPageHashCode", GetPageHashCode},
    {"_n_initResource", InitResource},
    {"_n_getResource", GetResource},
    {"_inspect", NoEffect},
    {"_dynamicInspect", NoEffect},
    {"_n_setGenAttr", SetGenAttr},
    {"_n_getValueByIndex", GetValueByIndex},
    {"_n_setValueByIndex", SetValueByIndex},
    {"_n_getValueCount", GetValueCount},
    {"_n_getValueName", GetValueName},
    {"_n_getValueIndex", GetValueIndex},
    {"isInt", IsIntNative},
    {"isFloat", IsFloatNative},
};

const TNativeEntry kArrayNatives[] = {
    {"native_add", ArrayAdd},         {"_n_insert", ArrayInsert},
    {"native_init", ArrayInit},       {"native_get", ArrayGet},
    {"native_set", ArraySet},         {"native_size", ArraySize},
    {"native_free", ArrayFree},       {"native_delete", ArrayDelete},
    {"native_indexof", ArrayIndexOf}, {"native_lightindexof", ArrayLightIndexOf},
    {"_n_pack", ArrayPack},
};

} // namespace

std::span<const TNativeEntry> ObjectNatives() {
    return kObjectNatives;
}
std::span<const TNativeEntry> ArrayNatives() {
    return kArrayNatives;
}

} // namespace plimo
