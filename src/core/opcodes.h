// The instruction set: every opcode's number, name, size and listing form, written once.
#pragma once

#include <cstdint>
#include <string>

namespace plimo {

// How the listing renders an instruction's operands after its listing text.
enum class TListForm : std::uint8_t {
    Plain,         // no operands shown
    Value,         // the value operand's display text
    Text,          // the inline text of a string constant
    Index,         // word 1 in decimal
    SecondIndex,   // word 2 in decimal (fused PushThis forms: word 1 is the absorbed opcode)
    Symbol,        // the name of the symbol in word 1
    SymbolId,      // the symbol id in word 1, in decimal
    CountSymbol,   // word 1 "," name of the symbol in word 2
    CountIndex,    // word 1 "," word 2
    CountFunction, // word 1 "," name of the function in word 2
    CountClass,    // word 1 "," class tag of the class in word 2
    Class,         // class tag of the class in word 1
    Offset,        // word 1 in decimal, with no blank before it
    Point,         // class name in word 1 "/" source offset in word 2
    End,           // ends a listing
};

// X(name, size in bytes, listing form, listing text). The order is the opcode numbering.
// Op_PushString's size is its fixed part; its text adds the padded length held in word 1.
#define PLIMO_OPCODES(X)                                                                                     \
    X(Pop, 4, Plain, "Pop")                                                                                  \
    X(Push, 12, Value, "Push ")                                                                              \
    X(PushString, 8, Text, "PushString ")                                                                    \
    X(PushThis, 4, Plain, "PushThis")                                                                        \
    X(SMemberValPtr, 8, Index, "SMemberValPtr ")                                                             \
    X(DMemberValPtr, 12, Symbol, "DMemberValPtr ")                                                           \
    X(LocalValPtr, 8, Index, "LocalValPtr ")                                                                 \
    X(ArgValPtr, 8, Index, "ArgValPtr ")                                                                     \
    X(PushThis_SMemberValPtr, 12, SecondIndex, "PushThis_SMemberValPtr ")                                    \
    X(PushThis_SMemberValPtr_Deref, 16, SecondIndex, "PushThis_SMemberValPtr ")                              \
    X(DMemberValPtr_Deref, 16, SymbolId, "DMemberValPtr_Deref ")                                             \
    X(LocalValPtr_Deref, 12, Index, "LocalValPtr_Deref ")                                                    \
    X(ArgValPtr_Deref, 12, Index, "ArgValPtr_Deref ")                                                        \
    X(Push_Deref, 16, Value, "Push_Deref ")                                                                  \
    X(DCall, 16, CountSymbol, "DCall ")                                                                      \
    X(SCall, 12, CountIndex, "SCall ")                                                                       \
    X(SuperCall, 12, CountFunction, "SuperCall ")                                                            \
    X(NativeCall, 12, CountFunction, "NativeCall ")                                                          \
    X(Constructor, 12, CountClass, "Constructor ")                                                           \
    X(Add, 4, Plain, "Add")                                                                                  \
    X(Sub, 4, Plain, "Sub")                                                                                  \
    X(Mul, 4, Plain, "Mul")                                                                                  \
    X(Div, 4, Plain, "Div")                                                                                  \
    X(Mod, 4, Plain, "Mod")                                                                                  \
    X(GT, 4, Plain, "GT")                                                                                    \
    X(GTE, 4, Plain, "GTE")                                                                                  \
    X(LT, 4, Plain, "LT")                                                                                    \
    X(LTE, 4, Plain, "LTE")                                                                                  \
    X(EQ, 4, Plain, "EQ")                                                                                    \
    X(NEQ, 4, Plain, "NEQ")                                                                                  \
    X(And, 4, Plain, "And")                                                                                  \
    X(Or, 4, Plain, "Or")                                                                                    \
    X(Is, 8, Class, "Is ")                                                                                   \
    X(Not, 4, Plain, "Not")                                                                                  \
    X(Neg, 4, Plain, "Neg")                                                                                  \
    X(Subst, 4, Plain, "Subst")                                                                              \
    X(AddSubst, 4, Plain, "AddSubst")                                                                        \
    X(SubSubst, 4, Plain, "SubSubst")                                                                        \
    X(Deref, 4, Plain, "Deref")                                                                              \
    X(Jump, 8, Offset, "Jump")                                                                               \
    X(JumpZero, 8, Offset, "JumpZero")                                                                       \
    X(Jump_And, 8, Offset, "Jump_And")                                                                       \
    X(Jump_Or, 8, Offset, "Jump_Or")                                                                         \
    X(Ret, 4, Plain, "Ret")                                                                                  \
    X(InitForIn, 4, Plain, "InitForin")                                                                      \
    X(DoForIn, 8, Offset, "DoForin")                                                                         \
    X(ClearForIn, 4, Plain, "ClearForin")                                                                    \
    X(Point, 16, Point, "Point ")                                                                            \
    X(Halt, 4, End, "")

enum TOpcode : std::int32_t {
#define PLIMO_OPCODE_ENUM(name, size, form, text) Op_##name,
    PLIMO_OPCODES(PLIMO_OPCODE_ENUM)
#undef PLIMO_OPCODE_ENUM
        OpcodeCount
};

// Sizes in bytes, as constants the interpreter folds into its pc steps.
inline constexpr std::int32_t kOpcodeSize[OpcodeCount] = {
#define PLIMO_OPCODE_SIZE(name, size, form, text) size,
    PLIMO_OPCODES(PLIMO_OPCODE_SIZE)
#undef PLIMO_OPCODE_SIZE
};

struct TOpcodeInfo {
    const char* name; // "Op_Pop" ...
    std::int32_t size;
    TListForm form;
    const char* text;
};

// Indexed by opcode; OpcodeCount entries.
extern const TOpcodeInfo kOpcodeInfo[OpcodeCount];

constexpr bool IsValidOpcode(std::int32_t code) {
    return code >= 0 && code < OpcodeCount;
}

// The table's name of an opcode, "Invalid Code" for any other number.
std::string OpcodeName(std::int32_t code);

// A view of one instruction in a code block: the opcode word and the operand words after it.
struct TInstruction {
    const std::int32_t* words;

    std::int32_t Opcode() const { return words[0]; }
    std::int32_t Operand(int i) const { return words[1 + i]; }
    // The size in bytes; Op_PushString adds the padded length of its text. 0 for an unknown opcode.
    std::int32_t Size() const {
        if (!IsValidOpcode(words[0])) return 0;
        return kOpcodeSize[words[0]] + (words[0] == Op_PushString ? words[1] : 0);
    }
    // The inline text of Op_PushString (zero-terminated within its padded length).
    const char* Text() const { return reinterpret_cast<const char*>(words + 2); }
};

// The padded length of an inline text of n bytes: the text, its zero and 0-3 zero bytes of padding.
constexpr std::int32_t PaddedTextLength(std::int32_t n) {
    return (n + 4) & ~3;
}

} // namespace plimo
