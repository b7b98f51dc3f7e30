// The functions of a class's method table: bytecode functions, constructors, destructors and natives.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/compiled_info.h"
#include "core/value.h"
#include "core/vm.h"

namespace plimo {

class TRTTI;
class TNativeFunction;

// A native procedure: the receiver cell (which also takes the result), the argument count, and a word
// that is always 0. Argument i lies i cells below the receiver cell.
using TNativeProc = void (*)(TValue* receiver, std::int32_t argc, std::int32_t zero);

// Shared between the method tables of a class and its subclasses; useCount is the number of tables
// holding it, and the table that lets go of the last use frees it (TRTTI::ClearMethods, DefineMethod).
// A host object so that code words can name it by its 32-bit host id, and a stale word reads as none.
class TFunction : public THostObject {
public:
    enum class Kind : std::uint8_t { Normal, Constructor, Destructor, Native };

    TFunction(TRTTI* owner, std::int32_t name, Kind kind);
    virtual ~TFunction();
    TFunction(const TFunction&) = delete;
    TFunction& operator=(const TFunction&) = delete;

    virtual std::string GetName() const;
    // The class name a class file records for the function ("TNormalFunction", "TConstructor", ...).
    const char* KindName() const;
    const char* HostTypeName() const override { return "TFunction"; }
    static constexpr THostKind kKind = THostKind::Function;

    Kind kind() const { return m_kind; }
    bool IsConstructor() const { return m_kind == Kind::Constructor; }
    bool IsDestructor() const { return m_kind == Kind::Destructor; }
    bool IsNative() const { return m_kind == Kind::Native; }

    TRTTI* owner;
    std::int32_t useCount = 0;
    std::int32_t name; // symbol id

    // Counts every destruction of a function and every change of a class's method table, in any VM:
    // a pointer to a function, or the function a class's method slot holds, noted while this stays the
    // same still holds.
    static std::uint64_t CallTargetsEpoch() { return s_epoch.load(std::memory_order_relaxed); }
    static void NoteCallTargetsChanged() { s_epoch.fetch_add(1, std::memory_order_relaxed); }

private:
    Kind m_kind;
    static inline std::atomic<std::uint64_t> s_epoch{0};
};

class TNormalFunction : public TFunction {
public:
    TNormalFunction(TRTTI* owner, std::int32_t name) : TNormalFunction(owner, name, Kind::Normal) {}

    std::vector<std::string> argNames;
    // Its count is the number of local slots a call reserves.
    std::vector<std::string> localNames;
    std::unique_ptr<TCompiledInfo> body;
    // The interpreter's note of what the body does (TProcess::execute), with the body it was made for:
    // a replaced body is looked at afresh.
    mutable const TCompiledInfo* shapeBody = nullptr;
    mutable std::uint8_t shape = 0;
    // The native the body's code names by the host id shapeNativeId, as found when
    // TFunction::CallTargetsEpoch() was shapeNativeEpoch; valid only while that count is unchanged.
    mutable const TNativeFunction* shapeNative = nullptr;
    mutable std::uint32_t shapeNativeId = 0;
    mutable std::uint64_t shapeNativeEpoch = ~std::uint64_t{0};

protected:
    TNormalFunction(TRTTI* owner, std::int32_t name, Kind kind) : TFunction(owner, name, kind) {}
};

class TConstructor : public TNormalFunction {
public:
    TConstructor(TRTTI* owner, std::int32_t name) : TNormalFunction(owner, name, Kind::Constructor) {}
};

class TDestructor : public TNormalFunction {
public:
    TDestructor(TRTTI* owner, std::int32_t name) : TNormalFunction(owner, name, Kind::Destructor) {}
};

class TNativeFunction : public TFunction {
public:
    // Starts with the procedure that reports the declaration as unbound.
    TNativeFunction(TRTTI* owner, std::int32_t name);
    TNativeProc proc;

    // Raises "native関数が実装されていません".
    static void Unbound(TValue* receiver, std::int32_t argc, std::int32_t zero);
};

// A function of the kind a class file names, owned by owner; none for a kind not in the family.
std::unique_ptr<TFunction> MakeFunction(std::string_view kindName, TRTTI* owner, std::int32_t name);

} // namespace plimo
