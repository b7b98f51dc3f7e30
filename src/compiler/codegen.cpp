#include "compiler/codegen.h"

#include <cxxabi.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "classes/function.h"
#include "classes/rtti.h"
#include "compiler/texts.h"
#include "core/symbols.h"
#include "core/value.h"
#include "lang/syntax.h"
#include "platform/files.h"
#include "platform/report.h"
#include "resources/resource.h"
#include "resources/values.h"

namespace plimo {

void TContext::Fail(std::string_view text) const {
    throw ECmpError(cls ? std::string_view(cls->name) : "", text);
}

namespace {

// Local and argument names compare ignoring ASCII case (not inside double-byte characters).
std::int32_t IndexOfName(const std::vector<std::string>& names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (SameText(names[i], name)) return static_cast<std::int32_t>(i);
    return -1;
}

// The class name of a resource as the system names its kinds ("TResourceList", "TGlobalValue").
std::string KindName(const TResource& resource) {
    const char* mangled = typeid(resource).name();
    int status = 0;
    char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && plain ? plain : mangled;
    std::free(plain);
    std::size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

// The operands of a repeated group (token, node, token, node, ...) are at its odd positions.
template <class F> void ForEachOperand(const TResultList* group, F&& f) {
    if (!group) return;
    for (int k = 1; k < group->Count(); k += 2) f(k);
}

// Each node class's Generate lands in the overload for its class.
class TGenerator final : public TSyntaxVisitor {
public:
    explicit TGenerator(TContext& ctx) : ctx(ctx) {}

    std::int32_t Gen(const TResultList* node) {
        return node ? static_cast<TResList*>(const_cast<TResultList*>(node))->Generate(*this) : 0;
    }

    int Generate(G_Program& n) override { return Program(n), 0; }
    int Generate(G_Extends& n) override { return Extends(n), 0; }
    int Generate(G_FuncDecl& n) override { return FuncDecl(n), 0; }
    int Generate(G_NativeDecl& n) override { return NativeDecl(n), 0; }
    int Generate(G_VArgList& n) override {
        if (ctx.function) AppendNames(&n, ctx.function->argNames);
        return 0;
    }
    int Generate(G_VarBlock& n) override {
        GenItems(n.List(1));
        GenItems(n.List(2));
        return 0;
    }
    int Generate(G_VarDecl& n) override {
        if (ctx.function) AppendNames(n.List(1), ctx.function->localNames);
        return 0;
    }
    int Generate(G_Block& n) override { return GenItems(n.List(1)), 0; }
    int Generate(G_ExprS& n) override { return ExprS(n), 0; }
    int Generate(G_Expr& n) override { return Expr(n), 0; }
    int Generate(G_RVal& n) override { return ShortCircuit(n, Op_Jump_Or), 0; }
    int Generate(G_OrEx& n) override { return ShortCircuit(n, Op_Jump_And), 0; }
    int Generate(G_AndEx& n) override { return BinaryChain(n), 0; }
    int Generate(G_CompEx& n) override { return BinaryChain(n), 0; }
    int Generate(G_ASEx& n) override { return BinaryChain(n), 0; }
    int Generate(G_IsEx& n) override { return IsEx(n), 0; }
    int Generate(G_MDEx& n) override { return MDEx(n), 0; }
    int Generate(G_IncEx& n) override { return IncEx(n), 0; }
    int Generate(G_Par& n) override { return Gen(n.List(1)); }
    int Generate(G_Const& n) override { return Const(n), 0; }
    int Generate(G_NewObj& n) override { return NewObj(n), 0; }
    int Generate(G_ArgList& n) override { return ArgList(n); }
    int Generate(G_While& n) override { return ConditionLoop(n.List(2), n.List(4), nullptr), 0; }
    int Generate(G_For& n) override {
        Gen(n.List(2));
        W().WritePop();
        return ConditionLoop(n.List(4), n.List(8), n.List(6)), 0;
    }
    int Generate(G_Forin& n) override { return Forin(n), 0; }
    int Generate(G_If& n) override { return If(n), 0; }
    int Generate(G_Break&) override { return Break(), 0; }
    int Generate(G_Return& n) override { return Return(n), 0; }
    int Generate(G_ResourceVal& n) override { return ResourceVal(n), 0; }
    int Generate(G_LVal& n) override { return LVal(n), 0; }
    int Generate(G_LValE& n) override { return LValE(n), 0; }
    // Unnamed groups are walked by their owners, never generated themselves; reaching one is a fault of
    // the generator, shown rather than passed over.
    int Generate(G_Err&) override {
        if (ctx.reporter) ctx.reporter->ReportMessage(kErrNodeMessage);
        return 0;
    }

private:
    TProgWriter& W() { return *ctx.writer; }
    std::int32_t Pos() { return ctx.writer->GetPosition(); }

    void GenItems(const TResultList* group) {
        if (!group) return;
        for (int i = 0; i < group->Count(); ++i)
            if (TResultList* item = group->List(i)) Gen(item);
    }

    void Program(const TResultList& n);
    void Extends(const TResultList& n);
    void FuncDecl(const TResultList& n);
    void NativeDecl(const TResultList& n);
    void AppendNames(const TResultList* varArgs, std::vector<std::string>& names);
    void ExprS(const TResultList& n);
    void Expr(const TResultList& n);
    void ShortCircuit(const TResultList& n, TOpcode jump);
    void BinaryChain(const TResultList& n);
    void IsEx(const TResultList& n);
    void MDEx(const TResultList& n);
    void IncEx(const TResultList& n);
    void Const(const TResultList& n);
    void NewObj(const TResultList& n);
    std::int32_t ArgList(const TResultList& n);
    void ConditionLoop(const TResultList* condition, const TResultList* body, const TResultList* step);
    void Forin(const TResultList& n);
    void If(const TResultList& n);
    void Break();
    void Return(const TResultList& n);
    void ResourceVal(const TResultList& n);
    void LVal(const TResultList& n);
    void LValE(const TResultList& n);
    void Call(std::string_view name, const TResultList* args);
    void Name(std::string_view name);

    // Finishes the current block and hands it over, fused unless fusion is switched off.
    std::unique_ptr<TCompiledInfo> FinishBlock();
    // Patches the placeholder jump at `at` (opcode op) to reach `target`; the position is left at `at` + 8.
    void Patch(TOpcode op, std::int32_t at, std::int32_t target);

    // Starts a loop's own break list; the destructor brings back the enclosing one.
    class TLoopScope {
    public:
        explicit TLoopScope(TContext& ctx) : m_ctx(ctx), m_saved(ctx.breakList) { ctx.breakList = &breaks; }
        ~TLoopScope() { m_ctx.breakList = m_saved; }
        std::vector<std::int32_t> breaks;

    private:
        TContext& m_ctx;
        std::vector<std::int32_t>* m_saved;
    };
    void PatchBreaks(const TLoopScope& loop, std::int32_t end) {
        for (std::int32_t b : loop.breaks) Patch(Op_Jump, b, end);
    }

    TContext& ctx;
};

std::unique_ptr<TCompiledInfo> TGenerator::FinishBlock() {
    std::unique_ptr<TCompiledInfo> block = ctx.writer->Finish();
    ctx.writer.reset();
    if (ctx.options.fuse) FuseCode(*block);
    return block;
}

void TGenerator::Patch(TOpcode op, std::int32_t at, std::int32_t target) {
    W().SetPosition(at);
    switch (op) {
    case Op_Jump:
        W().WriteJump(target - at);
        break;
    case Op_JumpZero:
        W().WriteJumpZero(target - at);
        break;
    case Op_Jump_And:
        W().WriteJumpAnd(target - at);
        break;
    case Op_Jump_Or:
        W().WriteJumpOr(target - at);
        break;
    case Op_DoForIn:
        W().WriteDoForIn(target - at);
        break;
    default:
        break;
    }
}

// ---- declarations ----

void TGenerator::Program(const TResultList& n) {
    TRTTI& cls = *ctx.cls;
    ctx.function = nullptr;
    ctx.pass = 1;
    // A recompiled class whose source no longer names a parent must not keep the old one.
    cls.superclass = nullptr;
    Gen(n.List(0));
    if (ctx.found) {
        auto* parent = dynamic_cast<TRTTI*>(ctx.found);
        // A class among its own ancestors would make every walk up the superclass chain endless. It
        // waits, uncompiled and without a parent, like a class whose parent is not compiled yet, so
        // that initialisation finds no progress and reports the cycle.
        for (const TRTTI* k = parent; k; k = k->superclass)
            if (k == &cls) return;
        cls.superclass = parent;
        // An uncompiled parent leaves this class uncompiled too; it is compiled again once the
        // parent is.
        if (!parent->compiled) return;
        cls.InheritMethods();
    }
    GenItems(n.List(1));
    ctx.pass = 2;
    cls.InheritMembers();
    GenItems(n.List(1));

    ctx.writer = std::make_unique<TProgWriter>(&cls);
    ctx.function = nullptr;
    GenItems(n.List(2));
    W().WritePushFloat(0.0f);
    W().WriteHalt();
    cls.mainCode = FinishBlock();
    cls.compiled = true;
}

void TGenerator::Extends(const TResultList& n) {
    ctx.found = nullptr;
    if (n.Empty()) return;
    Gen(n.List(1));
    if (!ctx.found) ctx.Fail(ctx.foundName + texts::kUndefined.sjis());
    // Naming something that is not a class would make it the superclass of a class; refuse it.
    if (!dynamic_cast<TRTTI*>(ctx.found))
        ctx.Fail(ctx.foundName + "(" + KindName(*ctx.found) + ")" + texts::kNotAClass.sjis());
}

void TGenerator::FuncDecl(const TResultList& n) {
    TRTTI& cls = *ctx.cls;
    std::string_view kind = n.Text(0);
    std::string_view name = n.Text(1);
    if (ctx.pass == 1) {
        std::int32_t symbol = SymbolOf(name);
        std::unique_ptr<TFunction> f;
        if (kind == "constructor")
            f = std::make_unique<TConstructor>(&cls, symbol);
        else if (kind == "destructor")
            f = std::make_unique<TDestructor>(&cls, symbol);
        else
            f = std::make_unique<TNormalFunction>(&cls, symbol);
        cls.DefineMethod(std::move(f));
        return;
    }
    auto* f = dynamic_cast<TNormalFunction*>(cls.FindMethodByName(name));
    // Pass 1 put this declaration's function in the first slot of its name; anything else there
    // (a native, or a parent's function) must not receive this body.
    if (!f || f->owner != &cls)
        ctx.Fail(texts::kMethodPrefix.sjis() + std::string(name) + texts::kNotBytecodeFunction.sjis());
    // A second declaration of the same name compiles into the same function; its names start afresh
    // so the slots are those of the body that is kept.
    f->argNames.clear();
    f->localNames.clear();
    ctx.function = f;
    ctx.writer = std::make_unique<TProgWriter>(&cls);
    Gen(n.List(3));
    Gen(n.List(5));
    W().WritePushThis();
    W().WriteRet();
    W().WriteHalt();
    f->body = FinishBlock();
    ctx.function = nullptr;
}

void TGenerator::NativeDecl(const TResultList& n) {
    if (ctx.pass != 1) return;
    ctx.cls->AddMethod(std::make_unique<TNativeFunction>(ctx.cls, SymbolOf(n.Text(1))));
}

void TGenerator::AppendNames(const TResultList* varArgs, std::vector<std::string>& names) {
    if (!varArgs || varArgs->Empty()) return;
    names.emplace_back(varArgs->Text(0));
    const TResultList* rest = varArgs->List(1);
    ForEachOperand(rest, [&](int k) { names.emplace_back(rest->Text(k)); });
}

// ---- statements ----

void TGenerator::ExprS(const TResultList& n) {
    ctx.lvalue = false;
    ctx.statementPosition = static_cast<std::int32_t>(n.Token(1)->Position());
    W().WritePoint(ctx.cls, ctx.statementPosition);
    Gen(n.List(0));
    W().WritePop();
}

// L: [condition]; JumpZero E; [body]; [step]; Pop; Jump L; E: (no step part for while).
void TGenerator::ConditionLoop(const TResultList* condition, const TResultList* body,
                               const TResultList* step) {
    TLoopScope loop(ctx);
    std::int32_t head = Pos();
    Gen(condition);
    std::int32_t exitJump = Pos();
    W().WriteJumpZero(0);
    Gen(body);
    if (step) {
        Gen(step);
        W().WritePop();
    }
    W().WriteJump(head - Pos());
    std::int32_t end = Pos();
    Patch(Op_JumpZero, exitJump, end);
    PatchBreaks(loop, end);
    W().SeekEnd();
}

void TGenerator::Forin(const TResultList& n) {
    TLoopScope loop(ctx);
    bool saved = ctx.lvalue;
    ctx.lvalue = true;
    Gen(n.List(2));
    ctx.lvalue = saved;
    Gen(n.List(4));
    W().WriteInitForIn();
    std::int32_t head = Pos();
    W().WriteDoForIn(0);
    Gen(n.List(6));
    W().WriteJump(head - Pos());
    std::int32_t end = Pos();
    Patch(Op_DoForIn, head, end);
    PatchBreaks(loop, end);
    W().SeekEnd();
    W().WriteClearForIn();
}

void TGenerator::If(const TResultList& n) {
    Gen(n.List(2));
    std::int32_t elseJump = Pos();
    W().WriteJumpZero(0);
    Gen(n.List(4));
    std::int32_t endJump = Pos();
    W().WriteJump(0);
    Patch(Op_JumpZero, elseJump, Pos());
    W().SeekEnd();
    const TResultList* elsePart = n.List(5);
    if (elsePart && !elsePart->Empty()) Gen(elsePart->List(1));
    Patch(Op_Jump, endJump, Pos());
    W().SeekEnd();
}

void TGenerator::Break() {
    // Outside any loop a break has nowhere to go and is dropped.
    if (!ctx.breakList) return;
    ctx.breakList->push_back(Pos());
    W().WriteJump(0);
}

void TGenerator::Return(const TResultList& n) {
    const TResultList* value = n.List(1);
    if (value && !value->Empty())
        Gen(value->List(0));
    else
        W().WritePushThis();
    W().WriteRet();
}

// ---- expressions ----

void TGenerator::Expr(const TResultList& n) {
    const TResultList* target = n.List(0);
    if (target && !target->Empty()) {
        bool saved = ctx.lvalue;
        ctx.lvalue = true;
        Gen(target->List(0));
        ctx.lvalue = saved;
        Gen(n.List(1));
        W().WriteOperator(target->Text(1));
        return;
    }
    Gen(n.List(1));
}

void TGenerator::ShortCircuit(const TResultList& n, TOpcode jump) {
    Gen(n.List(0));
    const TResultList* rest = n.List(1);
    if (!rest || rest->Empty()) return;
    std::vector<std::int32_t> jumps;
    auto placeholder = [&] {
        jumps.push_back(Pos());
        if (jump == Op_Jump_Or)
            W().WriteJumpOr(0);
        else
            W().WriteJumpAnd(0);
    };
    placeholder();
    ForEachOperand(rest, [&](int k) {
        Gen(rest->List(k));
        if (k + 2 < rest->Count()) placeholder();
    });
    std::int32_t end = Pos();
    for (std::int32_t j : jumps) Patch(jump, j, end);
    W().SeekEnd();
}

void TGenerator::BinaryChain(const TResultList& n) {
    Gen(n.List(0));
    const TResultList* rest = n.List(1);
    ForEachOperand(rest, [&](int k) {
        Gen(rest->List(k));
        W().WriteOperator(rest->Text(k - 1));
    });
}

void TGenerator::IsEx(const TResultList& n) {
    Gen(n.List(0));
    const TResultList* test = n.List(1);
    if (!test || test->Empty()) return;
    Gen(test->List(1));
    auto* cls = dynamic_cast<TRTTI*>(ctx.found);
    if (!cls) ctx.Fail(texts::kIsNotClass.sjis());
    W().WriteIs(cls, cls->FullPath());
}

void TGenerator::MDEx(const TResultList& n) {
    Gen(n.List(1));
    const TResultList* op = n.List(0);
    if (!op || op->Empty()) return;
    if (op->Text(0) == "-")
        W().WriteNeg();
    else
        W().WriteNot();
}

void TGenerator::IncEx(const TResultList& n) {
    const TResultList* op = n.List(1);
    if (!op || op->Empty()) {
        Gen(n.List(0));
        return;
    }
    bool saved = ctx.lvalue;
    ctx.lvalue = true;
    Gen(n.List(0));
    W().WritePushInt(1);
    W().WriteOperator(op->Text(0) == "++" ? "+=" : "-=");
    ctx.lvalue = saved;
}

void TGenerator::Const(const TResultList& n) {
    std::string_view text = n.Text(0);
    if (text == "null") {
        W().WritePush(TValue::Null(), "");
    } else if (!text.empty() && text[0] == '"') {
        W().WritePushString(DecodeStringLiteral(text));
    } else if (text.find('.') != std::string_view::npos) {
        std::string digits(text);
        errno = 0;
        char* end = nullptr;
        float x = std::strtof(digits.c_str(), &end);
        // An underflow to zero or a denormal keeps the value strtof gives; only an overflow fails.
        if (end == digits.c_str() || *end != 0 || !std::isfinite(x))
            throw ENumberError("'" + digits + texts::kInvalidFloat.sjis());
        W().WritePushFloat(x);
    } else {
        std::string digits(text);
        errno = 0;
        char* end = nullptr;
        long long v = std::strtoll(digits.c_str(), &end, 10);
        if (digits.empty() || end == digits.c_str() || *end != 0 || errno == ERANGE || v > INT32_MAX ||
            v < INT32_MIN)
            throw ENumberError("'" + digits + texts::kInvalidInteger.sjis());
        W().WritePushInt(static_cast<std::int32_t>(v));
    }
}

void TGenerator::NewObj(const TResultList& n) {
    W().WritePushFloat(0.0f);
    std::int32_t count = Gen(n.List(3));
    Gen(n.List(1));
    if (!ctx.found) ctx.Fail(ctx.foundName + texts::kNotDefined.sjis());
    auto* cls = dynamic_cast<TRTTI*>(ctx.found);
    if (!cls) ctx.Fail(ctx.foundName + "(" + KindName(*ctx.found) + ")" + texts::kNotAClass.sjis());
    W().WriteConstructor(cls, count, cls->FullPath());
}

std::int32_t TGenerator::ArgList(const TResultList& n) {
    if (n.Empty()) return 0;
    std::int32_t count = 1;
    Gen(n.List(0));
    const TResultList* rest = n.List(1);
    ForEachOperand(rest, [&](int k) {
        Gen(rest->List(k));
        ++count;
    });
    return count;
}

// ---- names ----

void TGenerator::ResourceVal(const TResultList& n) {
    std::string path(n.Text(0));
    if (const TResultList* rest = n.List(1))
        for (int i = 0; i < rest->Count(); ++i) path += rest->Text(i);
    ctx.found = ctx.root ? ctx.root->Resolve(path) : nullptr;
    ctx.foundName = std::move(path);
}

void TGenerator::LVal(const TResultList& n) {
    bool target = ctx.lvalue;
    ctx.chainState = TChainState::Start;
    const TResultList* rest = n.List(1);
    int last = rest ? rest->Count() - 1 : -1;
    ctx.lvalue = target && last < 0;
    Gen(n.List(0));
    ForEachOperand(rest, [&](int k) {
        ctx.lvalue = target && k == last;
        Gen(rest->List(k));
    });
    if (ctx.chainState == TChainState::AtResource) ctx.Fail(texts::kResourceNotValue.sjis());
    // A bare `super` pushes nothing: the code around it would read below the stack.
    if (ctx.chainState == TChainState::AfterSuper) ctx.Fail("super" + texts::kSuperMemberSuffix.sjis());
    ctx.lvalue = target;
}

void TGenerator::LValE(const TResultList& n) {
    std::string_view name = n.Text(0);
    const TResultList* call = n.List(1);
    if (call && !call->Empty())
        Call(name, call->List(1));
    else
        Name(name);
}

void TGenerator::Call(std::string_view name, const TResultList* args) {
    if (ctx.lvalue) ctx.Fail(texts::kCallAsTarget.sjis());
    TRTTI& cls = *ctx.cls;
    // The arguments contain chains of their own, so the state is read before they are generated.
    TChainState state = ctx.chainState;
    switch (state) {
    case TChainState::Value: {
        std::int32_t count = Gen(args);
        W().WritePoint(&cls, ctx.statementPosition);
        W().WriteDCall(name, count);
        break;
    }
    case TChainState::Start:
    case TChainState::AfterThis:
        if (name == "super") {
            if (!cls.superclass) ctx.Fail(texts::kNoParentClass.sjis());
            TFunction* f = cls.superclass->GetConstructor();
            if (!f) ctx.Fail(texts::kNoParentConstructor.sjis());
            if (state == TChainState::Start) W().WritePushThis();
            std::int32_t count = Gen(args);
            W().WritePoint(&cls, ctx.statementPosition);
            W().WriteSuperCall(f, count, "constructor");
        } else {
            TFunction* f = cls.FindMethodByName(name);
            if (!f) ctx.Fail(texts::kMethodPrefix.sjis() + std::string(name) + texts::kUndefined.sjis());
            if (state == TChainState::Start) W().WritePushThis();
            std::int32_t count = Gen(args);
            W().WritePoint(&cls, ctx.statementPosition);
            if (f->IsNative())
                W().WriteNativeCall(f, count, name);
            else
                W().WriteSCall(cls.SlotOf(f), count, name);
        }
        break;
    case TChainState::AfterSuper: {
        TFunction* f = cls.superclass ? cls.superclass->FindMethodByName(name) : nullptr;
        std::string qualified = texts::kSuperMethodPrefix.sjis() + std::string(name);
        if (!f) ctx.Fail(qualified + texts::kUndefined.sjis());
        if (f->IsNative()) ctx.Fail(qualified + texts::kSuperNative.sjis());
        W().WritePushThis();
        std::int32_t count = Gen(args);
        W().WritePoint(&cls, ctx.statementPosition);
        W().WriteSuperCall(f, count, name);
        break;
    }
    case TChainState::AtResource:
        ctx.Fail(texts::kResourceCall.sjis());
    }
    ctx.chainState = TChainState::Value;
}

void TGenerator::Name(std::string_view name) {
    TRTTI& cls = *ctx.cls;
    switch (ctx.chainState) {
    case TChainState::AtResource: {
        TResource* child = ctx.found->FindChild(name);
        if (!child) ctx.Fail(cls.ClassTag() + ":" + std::string(name) + texts::kUndefined.sjis());
        ctx.found = child;
        break;
    }
    case TChainState::Value:
        if (name != "this") W().WriteDMemberValPtr(name);
        break;
    case TChainState::Start: {
        if (name == "super") {
            ctx.chainState = TChainState::AfterSuper;
            break;
        }
        ctx.chainState = TChainState::Value;
        if (ctx.function) {
            if (std::int32_t i = IndexOfName(ctx.function->localNames, name); i >= 0) {
                W().WriteLocalValPtr(i);
                break;
            }
            if (std::int32_t i = IndexOfName(ctx.function->argNames, name); i >= 0) {
                W().WriteArgValPtr(i);
                break;
            }
        }
        TResource* global = ctx.root ? ctx.root->Resolve(name) : nullptr;
        if (global && dynamic_cast<TGlobalValue*>(global)) {
            ctx.found = global;
            ctx.chainState = TChainState::AtResource;
            break;
        }
        if (name == "this") {
            W().WritePushThis();
            ctx.chainState = TChainState::AfterThis;
            break;
        }
        std::int32_t slot = cls.MemberSlot(name);
        W().WritePushThis();
        W().WriteSMemberValPtr(slot, name);
        break;
    }
    case TChainState::AfterSuper:
        ctx.Fail("super." + std::string(name) + texts::kSuperMemberSuffix.sjis());
    case TChainState::AfterThis:
        W().WriteSMemberValPtr(cls.MemberSlot(name), name);
        ctx.chainState = TChainState::Value;
        break;
    }
    if (ctx.chainState == TChainState::AtResource) {
        if (TValue* cell = ctx.found->VariableSlot()) {
            W().WritePush(MakeRef(cell), ctx.found->name);
            ctx.chainState = TChainState::Value;
        }
    }
    if (!ctx.lvalue && ctx.chainState == TChainState::Value) W().WriteDeref();
}

} // namespace

std::int32_t Generate(TContext& ctx, const TResultList* node) {
    return TGenerator(ctx).Gen(node);
}

namespace {
bool IsLeadByte(unsigned char c) {
    return (c >= 0x80 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
} // namespace

std::string DecodeStringLiteral(std::string_view literal) {
    std::string_view body = literal;
    if (!body.empty() && body.front() == '"') body.remove_prefix(1);
    if (!body.empty() && body.back() == '"') body.remove_suffix(1);
    std::string out;
    out.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(body[i]);
        if (IsLeadByte(c)) {
            out += body[i];
            if (i + 1 < body.size()) out += body[++i];
        } else if (c == '\\') {
            if (++i >= body.size()) break;
            switch (body[i]) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            default:
                out += body[i];
                break;
            }
        } else {
            out += body[i];
        }
    }
    return out;
}

std::string EncodeStringLiteral(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(c) && i + 1 < text.size()) {
            out += text[i];
            out += text[++i];
        } else if (c == '\\' || c == '"') {
            out += '\\';
            out += text[i];
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c >= 0x20) {
            out += text[i];
        }
    }
    return out + "\"";
}

} // namespace plimo
