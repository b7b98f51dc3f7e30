#include "core/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "classes/rtti.h"
#include "core/errors.h"
#include "core/instance.h"
#include "core/strings.h"
#include "core/vm.h"
#include "resources/resource_system.h"
#include "services/regexp.h"

namespace plimo {

std::uint32_t InstanceHandle(const TInstance* instance) {
    return static_cast<std::uint32_t>(reinterpret_cast<const std::byte*>(instance) - detail::g_heapBase);
}

void RaiseReleaseError(const TValue& v) {
    if (!v.bits) throw ERuntimeError("vtObject" + texts::kEmptyObjectRef.sjis());
    throw ERuntimeError(ValueToText(v) + texts::kNegativeRefCount.sjis());
}

void SetNull(TValue& v) {
    ReleaseValue(v);
    v = TValue::Null();
}
void SetInt(TValue& v, std::int32_t n) {
    ReleaseValue(v);
    v = TValue::Int(n);
}
void SetFloat(TValue& v, float x) {
    ReleaseValue(v);
    v = TValue::Float(x);
}
void SetError(TValue& v, std::int32_t n) {
    ReleaseValue(v);
    v = TValue::Error(n);
}
void SetUnset(TValue& v, std::int32_t symbol) {
    ReleaseValue(v);
    v = TValue::Unset(symbol);
}
void SetHost(TValue& v, const THostObject* host) {
    ReleaseValue(v);
    v = TValue::Make(vtHost, host ? host->hostId() : 0);
}
void SetObject(TValue& v, TInstance* instance) {
    // Retain first: the instance may be the one v already holds.
    TValue next = TValue::Make(vtObject, instance ? InstanceHandle(instance) : 0);
    RetainValue(next);
    try {
        ReleaseValue(v);
    } catch (...) {
        v = next;
        throw;
    }
    v = next;
}

// ---- conversions ----

bool IsTrue(const TValue& v) {
    switch (v.tag) {
    case vtInt:
        return v.asInt() != 0;
    case vtFloat:
        return v.asFloat() < 0.0f || v.asFloat() > 0.0f; // a NaN is false
    case vtObject:
    case vtHost:
        return true;
    default:
        return false;
    }
}

namespace {

// Truncation toward zero the way the hardware does it with masked traps: NaN and values out of range
// give the "integer indefinite" value.
std::int64_t TruncToInt64(long double x) {
    if (std::isnan(x) || x >= 9223372036854775808.0L || x < -9223372036854775808.0L)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

bool IsNumber(const TValue& v) {
    return v.tag == vtInt || v.tag == vtFloat;
}
long double Wide(const TValue& v) {
    return v.tag == vtInt ? v.asInt() : v.asFloat();
}
std::int32_t Wrap(std::uint32_t bits) {
    return static_cast<std::int32_t>(bits);
}

std::string TextOf(const TValue& v, int depth);

std::string ObjectText(const TValue& v) {
    if (!v.bits) return "";
    TInstance* inst = ObjectOf(v);
    if (IsStringObject(v)) return std::string(StringText(inst));
    TRTTI* cls = InstanceClass(inst);
    return (cls ? cls->name : std::string()) + "@" + std::to_string(v.asInt());
}

std::string TextOf(const TValue& v, int depth) {
    switch (v.tag) {
    case vtNull:
        return "null";
    case vtInt:
        return std::to_string(v.asInt());
    case vtFloat:
        return FloatToText(v.asFloat());
    case vtObject:
        return ObjectText(v);
    case vtRef: {
        // A cell may (through a script's mistake) refer back to itself; the text stops descending.
        TValue* target = RefTarget(v);
        if (!target || depth > 16) return "[]";
        return "[" + TextOf(*target, depth + 1) + "]";
    }
    case vtHost: {
        THostObject* h = HostOf(v);
        return h ? h->HostTypeName() : "";
    }
    case vtError:
        return "Error #" + std::to_string(v.asInt());
    case vtUnset:
        return texts::kUnsetPrefix.sjis() + SymbolName(v.asInt());
    default:
        return "";
    }
}

} // namespace

std::int32_t ValueToInt(const TValue& v) {
    switch (v.tag) {
    case vtInt:
        return v.asInt();
    case vtFloat:
        return Wrap(static_cast<std::uint32_t>(static_cast<std::uint64_t>(TruncToInt64(v.asFloat()))));
    case vtObject:
        return 1;
    default:
        return 0;
    }
}

float ValueToFloat(const TValue& v) {
    switch (v.tag) {
    case vtInt:
        return static_cast<float>(v.asInt());
    case vtFloat:
        return v.asFloat();
    default:
        return 0.0f;
    }
}

std::string ValueToText(const TValue& v) {
    return TextOf(v, 0);
}

std::string ValueToLiteral(const TValue& v) {
    if (v.tag == vtObject && v.bits) {
        if (IsStringObject(v)) return "\"" + std::string(StringText(ObjectOf(v))) + "\"";
        return "objectFromID(" + std::to_string(v.asInt()) + ")";
    }
    if (v.tag == vtUnset) return "";
    return ValueToText(v);
}

std::string FloatToText(float x) {
    if (std::isnan(x)) return "NAN";
    if (std::isinf(x)) return x > 0 ? "INF" : "-INF";
    if (x == 0.0f) return "0";
    // 15 significant digits of the exact value, rounded once.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", static_cast<double>(x));
    const char* p = buf;
    std::string out;
    if (*p == '-') {
        out += '-';
        ++p;
    }
    std::string digits;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p; // whatever the locale's decimal separator
    int exponent = std::atoi(p + 1);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    if (exponent >= -5 && exponent < 15) {
        if (exponent >= 0) {
            std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= intDigits) return out + digits + std::string(intDigits - digits.size(), '0');
            return out + digits.substr(0, intDigits) + "." + digits.substr(intDigits);
        }
        return out + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    return out + "E" + std::to_string(exponent);
}

// ---- objects ----

THostObject* HostOf(const TValue& v) {
    TVm* vm = TVm::Current();
    return v.tag == vtHost && vm ? vm->HostAt(v.bits) : nullptr;
}

bool IsStringObject(const TValue& v) {
    if (v.tag != vtObject || !v.bits) return false;
    TVm* vm = TVm::Current();
    return vm && vm->stringClass && ObjectOf(v)->classId == vm->stringClass->hostId();
}

std::string_view StringText(const TInstance* instance) {
    TVm& vm = TVm::Get();
    TValue* cell = MemberCell(const_cast<TInstance*>(instance), kSymBody, vm.stringBodyHint);
    if (!cell) return {};
    TfString* body = HostAs<TfString>(*cell);
    return body ? std::string_view(body->text()) : std::string_view();
}

TInstance* MakeString(std::string_view text) {
    TVm& vm = TVm::Get();
    if (!vm.stringClass)
        throw ERuntimeError(texts::kClassPrefix.sjis() + "classes.lang.String" + texts::kNotCompiled.sjis());
    TInstance* inst = vm.stringClass->NewInstance();
    if (TValue* cell = MemberCell(inst, kSymBody, vm.stringBodyHint)) SetHost(*cell, new TfString(text));
    return inst;
}

TValue* MemberCell(TInstance* instance, std::int32_t symbol, std::int32_t& hint) {
    TRTTI* cls = instance ? InstanceClass(instance) : nullptr;
    if (!cls || cls->blockSize < 0) return nullptr;
    std::int32_t slot = cls->memberNames.Find(symbol, hint);
    // A block laid out before a recompilation may be shorter than the current member list.
    if (slot < 0 || slot >= (cls->blockSize - static_cast<std::int32_t>(sizeof(TInstance))) / 8)
        return nullptr;
    return &instance->members()[slot];
}

TValue* MemberCell(TInstance* instance, std::int32_t symbol) {
    std::int32_t hint = -1;
    return MemberCell(instance, symbol, hint);
}

void SetMemberByName(TInstance* instance, std::string_view name, const TValue& value) {
    std::int32_t id = SymbolLookup(name);
    if (id < 0) return;
    if (TValue* cell = MemberCell(instance, id)) AssignValue(*cell, value);
}

// ---- arithmetic ----

namespace {

[[noreturn]] void ZeroDivide() {
    throw ERuntimeError(texts::kZeroDivide);
}

void IntArith(TArithOp op, TValue& l, std::int32_t a, std::int32_t b) {
    auto ua = static_cast<std::uint32_t>(a), ub = static_cast<std::uint32_t>(b);
    switch (op) {
    case TArithOp::Add:
        l = TValue::Int(Wrap(ua + ub));
        return;
    case TArithOp::Sub:
        l = TValue::Int(Wrap(ua - ub));
        return;
    case TArithOp::Mul:
        l = TValue::Int(Wrap(ua * ub));
        return;
    case TArithOp::Div:
        if (b == 0) ZeroDivide();
        // The one quotient that overflows wraps, like the rest of integer arithmetic.
        if (b == -1)
            l = TValue::Int(Wrap(0u - ua));
        else if (a % b == 0)
            l = TValue::Int(a / b);
        else
            l = TValue::Float(static_cast<float>(static_cast<long double>(a) / b));
        return;
    case TArithOp::Mod:
        if (b == 0) ZeroDivide();
        l = TValue::Int(b == -1 ? 0 : a % b);
        return;
    }
}

void FloatArith(TArithOp op, TValue& l, const TValue& r) {
    long double a = Wide(l), b = Wide(r);
    switch (op) {
    case TArithOp::Add:
        l = TValue::Float(static_cast<float>(a + b));
        return;
    case TArithOp::Sub:
        l = TValue::Float(static_cast<float>(a - b));
        return;
    case TArithOp::Mul:
        l = TValue::Float(static_cast<float>(a * b));
        return;
    case TArithOp::Div:
        l = TValue::Float(static_cast<float>(a / b));
        return;
    case TArithOp::Mod: {
        std::int64_t x = TruncToInt64(a), y = TruncToInt64(b);
        if (y == 0) ZeroDivide();
        std::int64_t m = y == -1 ? 0 : x % y;
        l = TValue::Int(Wrap(static_cast<std::uint32_t>(static_cast<std::uint64_t>(m))));
        return;
    }
    }
}

} // namespace

namespace {

// Appends v's text as ValueToText gives it, without the intermediate copies for the operands string
// building meets most: strings (their body) and ints.
void AppendText(std::string& out, const TValue& v) {
    if (v.tag == vtInt) {
        char digits[16];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, v.asInt()).ptr);
    } else if (IsStringObject(v)) {
        out += StringText(ObjectOf(v));
    } else {
        out += ValueToText(v);
    }
}

// l + r as text. Both texts are read before the new string is made: making it may reuse a pooled block
// and run a destructor.
TInstance* ConcatText(const TValue& l, const TValue* r) {
    std::string text;
    AppendText(text, l);
    if (r) AppendText(text, *r);
    return MakeString(text);
}

} // namespace

void ArithValuesGeneral(TArithOp op, TValue& l, TValue& r) {
    if (IsNumber(l)) {
        if (IsNumber(r)) {
            if (l.tag == vtInt && r.tag == vtInt)
                IntArith(op, l, l.asInt(), r.asInt());
            else
                FloatArith(op, l, r);
            ClearValue(r);
            return;
        }
        if (r.tag == vtObject && op == TArithOp::Add) {
            TInstance* s = ConcatText(l, &r);
            SetObject(l, s);
        }
        TValue operand = r;
        ClearValue(r);
        ReleaseValue(operand);
        return;
    }
    if (l.tag == vtObject) {
        if (op == TArithOp::Add) {
            TInstance* s = ConcatText(l, r.tag == vtNull || r.tag == vtUnset ? nullptr : &r);
            SetObject(l, s);
        }
        TValue operand = r;
        ClearValue(r);
        ReleaseValue(operand);
        return;
    }
    // l is neither a number nor an object: it takes r's place, and r's reference moves with it.
    TValue moved = r;
    ClearValue(r);
    if (op == TArithOp::Sub) {
        if (moved.tag == vtInt)
            moved = TValue::Int(Wrap(0u - moved.bits));
        else if (moved.tag == vtFloat)
            moved.bits ^= 0x80000000u;
    }
    l = moved;
}

float CompareValues(const TValue& l, const TValue& r) {
    switch (l.tag) {
    case vtNull:
    case vtUnset:
        return r.tag == vtNull || r.tag == vtUnset ? 0.0f : 1.0f;
    case vtInt:
        if (r.tag == vtInt) return static_cast<float>(Wrap(l.bits - r.bits));
        if (r.tag == vtFloat) return static_cast<float>(Wide(l) - Wide(r));
        return 1.0f;
    case vtFloat:
        if (IsNumber(r)) return static_cast<float>(Wide(l) - Wide(r));
        return 1.0f;
    case vtObject:
        if (IsStringObject(l)) return ValueToText(l) == ValueToText(r) ? 0.0f : 1.0f;
        return r.tag == vtObject && r.bits == l.bits ? 0.0f : 1.0f;
    default:
        return 1.0f;
    }
}

bool CompareHolds(TCompareOp op, float d) {
    switch (op) {
    case TCompareOp::GT:
        return d > 0;
    case TCompareOp::GTE:
        return d >= 0;
    case TCompareOp::LT:
        return d < 0;
    case TCompareOp::LTE:
        return d <= 0;
    case TCompareOp::EQ:
        return d == 0;
    case TCompareOp::NEQ:
        return !(d == 0);
    }
    return false;
}

void NotValue(TValue& v) {
    SetInt(v, IsTrue(v) ? 0 : 1);
}

void NegValue(TValue& v) {
    if (v.tag == vtInt)
        v = TValue::Int(Wrap(0u - v.bits));
    else if (v.tag == vtFloat)
        v.bits ^= 0x80000000u;
}

bool IsInstanceOf(const TValue& v, const TRTTI* cls) {
    if (v.tag != vtObject || !v.bits) return false;
    TRTTI* own = InstanceClass(ObjectOf(v));
    return own && own->IsSubclassOf(cls);
}

// ---- globals ----

bool IsGlobalName(std::string_view text) {
    // The pattern's "$" would also accept a final line break, which no name may end in.
    if (!text.empty() && text.back() == '\n') return false;
    static constexpr std::string_view kPattern = "/^\\$([\\_A-Za-z0-9]|([\\x80-\\x9f\\xa0-\\xff].))*$/";
    if (TVm* vm = TVm::Current()) return vm->regexp().Match(kPattern, text);
    return TBRegExp().Match(kPattern, text);
}

void DeclareGlobal(std::string_view name, bool present) {
    TResourceSystem* system = TVm::Get().resources;
    TResource* usr = system ? system->Resolve("usr") : nullptr;
    if (!usr) return;
    TResource* list = usr->FindChild("global");
    if (!list) {
        if (!present) return;
        if (auto made = system->ParseResourceText("<resourcelist name=\"global\"></resourcelist>"))
            usr->AddChild(std::move(made));
        list = usr->FindChild("global");
        if (!list) return;
    }
    TResource* existing = list->FindChild(name);
    if (present && !existing) {
        // A name the markup cannot hold is no global's name.
        if (name.find_first_of("\"<>") != std::string_view::npos) return;
        if (auto made =
                system->ParseResourceText("<globalvalue name=\"" + std::string(name) + "\" value=\"\">"))
            list->AddChild(std::move(made));
    } else if (!present && existing)
        list->RemoveChild(existing);
}

} // namespace plimo
