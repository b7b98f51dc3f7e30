// The 8-byte script value, its tags, and every operation the interpreter applies to values.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace plimo {

class TRTTI;
class THostObject;

enum TValueTag : std::uint8_t {
    vtNull = 0,
    vtInt = 1,
    vtFloat = 2,
    vtObject = 3, // payload: instance handle (heap offset of the block); counted
    vtRef = 4,    // payload: heap offset of another cell; not counted
    vtHost = 5,   // payload: host-table id; not counted, not owned
    vtError = 6,
    vtUnset = 7, // payload: symbol id of the member's name
};

// Byte 0 is the tag, bytes 1-3 are carried along but never read, bytes 4-7 the payload. Every cell a
// vtRef can point at lives in the VM heap (core/heap.h), which is what lets references fit in 32 bits.
struct TValue {
    std::uint8_t tag;
    std::uint8_t spare[3];
    std::uint32_t bits;

    std::int32_t asInt() const { return static_cast<std::int32_t>(bits); }
    float asFloat() const { return std::bit_cast<float>(bits); }

    static constexpr TValue Make(TValueTag t, std::uint32_t payload) { return TValue{t, {0, 0, 0}, payload}; }
    static constexpr TValue Null() { return Make(vtNull, 0); }
    static constexpr TValue Int(std::int32_t n) { return Make(vtInt, static_cast<std::uint32_t>(n)); }
    static TValue Float(float x) { return Make(vtFloat, std::bit_cast<std::uint32_t>(x)); }
    static constexpr TValue Error(std::int32_t n) { return Make(vtError, static_cast<std::uint32_t>(n)); }
    static constexpr TValue Unset(std::int32_t symbol) {
        return Make(vtUnset, static_cast<std::uint32_t>(symbol));
    }
};
static_assert(sizeof(TValue) == 8, "a value is exactly 8 bytes");
static_assert(alignof(TValue) == 4, "instance members sit at offset 12");

// A script object: one block of 12 + 8 x members bytes in its class's pool. refCount is -1 for a free
// block, 0 for an unreferenced instance not yet destroyed, above 0 when referenced. The class is held
// as its host-table id so that the header stays 12 bytes.
struct TInstance {
    std::int32_t refCount;
    std::int32_t mark;
    std::uint32_t classId;

    TValue* members() { return reinterpret_cast<TValue*>(this + 1); }
    const TValue* members() const { return reinterpret_cast<const TValue*>(this + 1); }
};
static_assert(sizeof(TInstance) == 12);

namespace detail {
// Base of the current VM's heap region; set and cleared by TVm. Decoding a vtObject or vtRef payload is
// one add to it.
inline std::byte* g_heapBase = nullptr;
} // namespace detail

inline TInstance* ObjectOf(const TValue& v) {
    return v.bits ? reinterpret_cast<TInstance*>(detail::g_heapBase + v.bits) : nullptr;
}
inline TValue* RefTarget(const TValue& v) {
    return v.bits ? reinterpret_cast<TValue*>(detail::g_heapBase + v.bits) : nullptr;
}
// A vtRef to a heap cell (a cell outside the heap is a fault of the caller; TVm::IsHeapCell checks).
inline TValue MakeRef(const TValue* cell) {
    return TValue::Make(
        vtRef, static_cast<std::uint32_t>(reinterpret_cast<const std::byte*>(cell) - detail::g_heapBase));
}
// The instance's handle: the number scripts see and the vtObject payload.
std::uint32_t InstanceHandle(const TInstance* instance);

// Reference counting. A counted reference is a vtObject stored in a member, a stack slot, a global's
// cell, an element cell or a result cell; every store goes through these so counts stay exact.
inline void ReleaseValue(TValue& v);
inline void RetainValue(TValue& v);
inline void AssignValue(TValue& dst, const TValue& src);
void SetNull(TValue& v);
void SetInt(TValue& v, std::int32_t n);
void SetFloat(TValue& v, float x);
void SetError(TValue& v, std::int32_t n);
void SetHost(TValue& v, const THostObject* host);
void SetObject(TValue& v, TInstance* instance);
void SetUnset(TValue& v, std::int32_t symbol);
// For cells whose old content is not a value (fresh memory): no release.
inline void ClearValue(TValue& v) {
    v = TValue::Null();
}

bool IsTrue(const TValue& v);
std::int32_t ValueToInt(const TValue& v);
float ValueToFloat(const TValue& v);
std::string ValueToText(const TValue& v);
std::string ValueToLiteral(const TValue& v);
// The general float format: the exact single value, at most 15 significant digits.
std::string FloatToText(float x);

// The host object a vtHost value names, or none (also none for a stale id).
THostObject* HostOf(const TValue& v);
// Whether the value is an object of exactly the core String class.
bool IsStringObject(const TValue& v);
// The text of a string object; empty when its body is missing.
std::string_view StringText(const TInstance* instance);

// Arithmetic: the result replaces l. r is an operand being consumed (a popped stack slot): a counted
// reference in it is either moved into l or released; r is left null.
enum class TArithOp { Add, Sub, Mul, Div, Mod };
inline void ArithValues(TArithOp op, TValue& l, TValue& r);
void ArithValuesGeneral(TArithOp op, TValue& l, TValue& r);

// The comparison difference; NaN when a float operand is NaN (then only NEQ holds).
float CompareValues(const TValue& l, const TValue& r);
enum class TCompareOp { GT, GTE, LT, LTE, EQ, NEQ };
bool CompareHolds(TCompareOp op, float difference);

// Unary rules; the argument is replaced by the result.
void NotValue(TValue& v);
void NegValue(TValue& v);
// The class test: an object whose class is cls or inherits from it.
bool IsInstanceOf(const TValue& v, const TRTTI* cls);

// A new String instance (count 0) holding the text.
TInstance* MakeString(std::string_view text);
// The member cell with the symbol id, or none. The hint is the caller's cache of the slot.
TValue* MemberCell(TInstance* instance, std::int32_t symbol);
TValue* MemberCell(TInstance* instance, std::int32_t symbol, std::int32_t& hint);
void SetMemberByName(TInstance* instance, std::string_view name, const TValue& value);

// "$" followed by letters, digits, "_" and double-byte characters.
bool IsGlobalName(std::string_view text);
// Keeps the resource list usr.global of the VM's resource tree in step with a global's existence:
// present adds <globalvalue name="NAME" value=""> when no child has the name, absent removes it.
void DeclareGlobal(std::string_view name, bool present);

// ---- inline fast paths ----

// Raises the error of a release that found no instance or brought a count from 0 to -1.
[[noreturn]] void RaiseReleaseError(const TValue& v);

inline void RetainValue(TValue& v) {
    if (v.tag == vtObject && v.bits) ++ObjectOf(v)->refCount;
}

// A count below -1 (a reference to a destroyed instance) is lowered further without an error.
inline void ReleaseValue(TValue& v) {
    if (v.tag != vtObject) return;
    if (!v.bits || --ObjectOf(v)->refCount == -1) RaiseReleaseError(v);
}

// Replaces the payload with one 8-byte store. The next read of the cell is nearly always a copy of the
// whole value; after a 4-byte write of the payload alone that read cannot be served from the pending
// store and waits for it to reach the cache (many cycles in a tight loop). The tag and spare bytes stay.
inline void SetPayload(TValue& v, std::uint32_t bits) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t word;
        std::memcpy(&word, &v, sizeof word);
        word = (word & 0xffffffffu) | (std::uint64_t{bits} << 32);
#if defined(__GNUC__)
        // Without this the compiler sees the unchanged low half and narrows the store back to 4 bytes.
        __asm__("" : "+r"(word));
#endif
        std::memcpy(&v, &word, sizeof word);
    } else {
        v.bits = bits;
    }
}

// Two ints added, subtracted or multiplied (wrapping) stay inline; everything else takes the general road.
inline void ArithValues(TArithOp op, TValue& l, TValue& r) {
    if (l.tag == vtInt && r.tag == vtInt && op <= TArithOp::Mul) {
        SetPayload(l, op == TArithOp::Add   ? l.bits + r.bits
                      : op == TArithOp::Sub ? l.bits - r.bits
                                            : l.bits * r.bits);
        r = TValue::Null();
        return;
    }
    ArithValuesGeneral(op, l, r);
}

inline void AssignValue(TValue& dst, const TValue& src) {
    if (&dst == &src) return;
    ReleaseValue(dst);
    dst = src;
    RetainValue(dst);
}

} // namespace plimo
