// The syntax-tree node classes of the Plimo language, the rule name -> class mapping that the grammar
// component asks for, and a debug dump of trees.
//
// Walking a tree (what the compiler relies on):
// - every node is a TResList; Kind() says which G_ class it is; Count() and Item(i) give its items in
//   input order, each a token (Token(i): TLexElem with Text() and Position(), the byte offset in the
//   source) or a nested node (List(i), or As<G_x>(i) for a typed one);
// - unnamed groups (repetitions, optional parts) are G_Err lists; an absent optional part is an empty
//   group, an absent named optional rule (Extends, ArgList, VArgList) an empty node of its class;
// - choice rules (Sentence, Una) add no node: the item is the node of the alternative that matched;
// - Generate(visitor) dispatches to the visitor's overload for the node's class (TResList itself
//   generates nothing and returns 0).
// Items of each class, by index (tokens in quotes):
//   Program      0 Extends, 1 group of FuncDecl/NativeDecl, 2 group of statements
//   Extends      empty, or 0 'extends', 1 ResourceVal, 2 ';'
//   ExprS        0 Expr, 1 ';'
//   Expr         0 group: empty or (0 LVal, 1 '=' '+=' '-='), 1 RVal
//   RVal OrEx    0 operand, 1 group: '||' (or '&&'), operand, ...
//   AndEx        0 IsEx, 1 group: comparison token, IsEx, ...
//   IsEx         0 CompEx, 1 group: empty or (0 'is', 1 ResourceVal)
//   CompEx ASEx  0 operand, 1 group: '+' '-' (or '*' '/' '%'), operand, ...
//   MDEx         0 group: empty or (0 '-' or '!'), 1 IncEx, Const, Par or NewObj
//   IncEx        0 LVal, 1 group: empty or (0 '++' or '--')
//   NewObj       0 'new', 1 ResourceVal, 2 '(', 3 ArgList, 4 ')'
//   Par          0 '(', 1 Expr, 2 ')'
//   Const        0 'null', NUM or STRING
//   LVal         0 LValE, 1 group: '.', LValE, ...
//   LValE        0 SYMBOL or 'constructor', 1 group: empty or (0 '(', 1 ArgList, 2 ')')
//   ResourceVal  0 SYMBOL, 1 group: '.', SYMBOL, ...
//   ArgList      empty, or 0 Expr, 1 group: ',', Expr, ...
//   Block        0 '{', 1 group of statements, 2 '}'
//   While        0 'while', 1 '(', 2 Expr, 3 ')', 4 statement
//   For          0 'for', 1 '(', 2 Expr, 3 ';', 4 Expr, 5 ';', 6 Expr, 7 ')', 8 statement
//   Forin        0 'for', 1 '(', 2 LVal, 3 'in', 4 Expr, 5 ')', 6 statement
//   If           0 'if', 1 '(', 2 Expr, 3 ')', 4 statement, 5 group: empty or (0 'else', 1 statement)
//   Break        0 'break', 1 ';'
//   Return       0 'return', 1 group: empty or (0 Expr), 2 ';'
//   FuncDecl     0 'function' 'constructor' or 'destructor', 1 SYMBOL, 2 '(', 3 VArgList, 4 ')', 5 VarBlock
//   NativeDecl   0 'native', 1 SYMBOL, 2 ';'
//   VArgList     empty, or 0 SYMBOL, 1 group: ',', SYMBOL, ...
//   VarBlock     0 '{', 1 group of VarDecl, 2 group of statements, 3 '}'
//   VarDecl      0 'var', 1 VArgList, 2 ';'
// A tree nests at most kMaxParseDepth rules deep (deeper texts are syntax errors), so recursive walks
// of it are safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "lang/yup.h"

namespace plimo {

// The named rules that have node classes of their own, in grammar order.
// clang-format off
#define PLIMO_SYNTAX_NODES(X) \
    X(Program) X(Extends) X(ExprS) X(Expr) X(RVal) X(OrEx) X(AndEx) X(IsEx) X(CompEx) X(ASEx) \
    X(MDEx) X(IncEx) X(NewObj) X(Par) X(Const) X(LVal) X(LValE) X(ResourceVal) X(ArgList) X(Block) \
    X(Forin) X(While) X(For) X(Break) X(If) X(Return) X(FuncDecl) X(NativeDecl) X(VArgList) \
    X(VarBlock) X(VarDecl)
// clang-format on

enum class GKind : std::uint8_t {
    Plain, // TResList itself (the Comment rule)
    Err,   // G_Err: unnamed groups and every name without a class
#define PLIMO_NODE_KIND(name) name,
    PLIMO_SYNTAX_NODES(PLIMO_NODE_KIND)
#undef PLIMO_NODE_KIND
};

// "Program" for GKind::Program, "Err", "Plain".
const char* GKindName(GKind kind);

class TResList;
class G_Err;
#define PLIMO_NODE_DECLARE(name) class G_##name;
PLIMO_SYNTAX_NODES(PLIMO_NODE_DECLARE)
#undef PLIMO_NODE_DECLARE

// Code generation is the compiler's: its context implements one overload per node class, and a node's
// Generate calls the overload for its own class.
class TSyntaxVisitor {
public:
    virtual ~TSyntaxVisitor() = default;
#define PLIMO_NODE_VISIT(name) virtual int Generate(G_##name& node) = 0;
    PLIMO_SYNTAX_NODES(PLIMO_NODE_VISIT)
#undef PLIMO_NODE_VISIT
    virtual int Generate(G_Err& node) = 0;
};

// Base of every syntax-tree node class.
class TResList : public TResultList {
public:
    TResultList* NewInstance(TNodeArena& arena) const override { return arena.New<TResList>(); }
    virtual GKind Kind() const { return GKind::Plain; }
    virtual int Generate(TSyntaxVisitor& ctx) { return 0; }

    // Item i as a node, null when it is a token.
    TResList* Node(int i) const { return static_cast<TResList*>(List(i)); }
    // Item i as a node of class T, null when it is a token or a node of another class.
    template <class T> T* As(int i) const {
        TResList* n = Node(i);
        return n && n->Kind() == T::kKind ? static_cast<T*>(n) : nullptr;
    }
};

class G_Err final : public TResList {
public:
    static constexpr GKind kKind = GKind::Err;
    TResultList* NewInstance(TNodeArena& arena) const override { return arena.New<G_Err>(); }
    GKind Kind() const override { return kKind; }
    int Generate(TSyntaxVisitor& ctx) override { return ctx.Generate(*this); }
};

#define PLIMO_NODE_CLASS(name)                                                                               \
    class G_##name final : public TResList {                                                                 \
    public:                                                                                                  \
        static constexpr GKind kKind = GKind::name;                                                          \
        TResultList* NewInstance(TNodeArena& arena) const override { return arena.New<G_##name>(); }         \
        GKind Kind() const override { return kKind; }                                                        \
        int Generate(TSyntaxVisitor& ctx) override { return ctx.Generate(*this); }                           \
    };
PLIMO_SYNTAX_NODES(PLIMO_NODE_CLASS)
#undef PLIMO_NODE_CLASS

// What G_Err's code generation shows: the compiler never generates an unnamed group itself.
inline constexpr const char* kErrNodeMessage = "Error!? Usrsub";

// A new object of the class a rule name stands for: the G_ class of that name, TResList for "Comment",
// G_Err for every other name (unnamed groups included).
std::unique_ptr<TResList> CreateSyntaxList(std::string_view name);

// The OnCreateList handler of the Plimo grammar component.
void CreateSyntaxListHandler(TResListGetter& p);

// One-line dump for tests and debugging: a named list as Name(items), an unnamed one as [items], a token
// as its text ("(" and ")" quoted). compact drops empty groups and replaces an expression-chain node
// (Expr down to Const, LVal, LValE, ResourceVal) that is left with one item by that item, so
// "x = a + 1;" dumps as ExprS(Expr([x =] CompEx(a [+ 1])) ;).
std::string DumpTree(const TResultList& list, bool compact = false);

} // namespace plimo
