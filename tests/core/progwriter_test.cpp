// The emitter: encodings, buffer growth, patching, recorded names, and the listing of emitted code.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "classes/function.h"
#include "classes/rtti.h"
#include "core/errors.h"
#include "core/progwriter.h"
#include "core/symbols.h"
#include "core/vm.h"

namespace plimo {
namespace {

class ProgWriterTest : public ::testing::Test {
protected:
    TVm vm{std::size_t(1) << 26};
};

TEST_F(ProgWriterTest, StringConstantsArePaddedToWholeWords) {
    struct Case {
        const char* text;
        std::int32_t padded;
    } cases[] = {{"", 4}, {"abc", 4}, {"abcd", 8}, {"abcdefg", 8}};
    for (const Case& c : cases) {
        TProgWriter w;
        w.WritePushString(c.text);
        w.WritePop();
        auto b = w.Finish();
        EXPECT_EQ(b->WordAt(0), Op_PushString);
        EXPECT_EQ(b->WordAt(4), c.padded) << c.text;
        EXPECT_EQ(b->WordAt(8 + c.padded), Op_Pop) << c.text;
        EXPECT_EQ(b->Size(), 8 + c.padded + 4);
        for (std::int32_t i = static_cast<std::int32_t>(std::strlen(c.text)); i < c.padded; ++i)
            EXPECT_EQ(b->Code()[8 + i], 0);
    }
}

TEST_F(ProgWriterTest, OperatorTextsMapByFirstCharacter) {
    struct Case {
        const char* text;
        std::int32_t op;
    } cases[] = {{"+", Op_Add},  {"+=", Op_AddSubst}, {"-", Op_Sub},  {"-=", Op_SubSubst},
                 {"*", Op_Mul},  {"/", Op_Div},       {"%", Op_Mod},  {">", Op_GT},
                 {">=", Op_GTE}, {"<", Op_LT},        {"<=", Op_LTE}, {"=", Op_Subst},
                 {"==", Op_EQ},  {"!=", Op_NEQ},      {"&", Op_And},  {"|", Op_Or}};
    for (const Case& c : cases) {
        TProgWriter w;
        w.WriteOperator(c.text);
        auto b = w.Finish();
        ASSERT_EQ(b->Size(), 4) << c.text;
        EXPECT_EQ(b->WordAt(0), c.op) << c.text;
    }
}

TEST_F(ProgWriterTest, InstructionWordsAndRecordedNames) {
    TRTTI cls("Foo");
    cls.compiled = true;
    TNativeFunction native(&cls, SymbolOf("nat"));
    TProgWriter w(&cls);
    w.WritePushInt(-5);                         // 0
    w.WritePushFloat(2.5f);                     // 12
    w.WriteDMemberValPtr("x");                  // 24
    w.WriteDCall("m", 2);                       // 36
    w.WriteDCall("m", 0);                       // 52: same (opcode, name) -> same element
    w.WriteSMemberValPtr(3, "y");               // 68
    w.WriteNativeCall(&native, 1, "nat");       // 76
    w.WriteConstructor(&cls, 0, "classes.Foo"); // 88
    w.WritePoint(&cls, 123);                    // records at 100, writes nothing
    w.WriteHalt();                              // 100
    auto b = w.Finish();
    EXPECT_EQ(b->Owner(), &cls);
    EXPECT_EQ(b->Size(), 104);
    EXPECT_EQ(b->WordAt(4), vtInt);
    EXPECT_EQ(b->WordAt(8), -5);
    EXPECT_EQ(b->WordAt(16), vtFloat);
    EXPECT_EQ(b->WordAt(28), SymbolLookup("x"));
    EXPECT_EQ(b->WordAt(32), 0); // the spare hint word
    EXPECT_EQ(b->WordAt(40), 2);
    EXPECT_EQ(b->WordAt(44), SymbolLookup("m"));
    EXPECT_EQ(FunctionFromWord(b->WordAt(84)), &native);
    EXPECT_EQ(ClassFromWord(b->WordAt(96)), &cls);

    const auto& elems = b->Symbols().Elems();
    ASSERT_EQ(elems.size(), 6u);
    EXPECT_EQ(elems[0].opcode, Op_Push);
    EXPECT_EQ(elems[0].name, "");
    EXPECT_EQ(elems[0].positions, (std::vector<std::int32_t>{0, 12}));
    EXPECT_EQ(elems[2].opcode, Op_DCall);
    EXPECT_EQ(elems[2].positions, (std::vector<std::int32_t>{36, 52}));
    EXPECT_EQ(elems[5].name, "classes.Foo");
    ASSERT_EQ(b->Symbols().Points().size(), 1u);
    EXPECT_EQ(b->Symbols().Points()[0].text, "123");
    EXPECT_EQ(b->Symbols().Points()[0].position, 100);

    std::vector<std::string> lines;
    ListCode(*b, lines);
    std::vector<std::string> expected = {
        "00000000:Push -5",          "0000000C:Push 2.5",
        "00000018:DMemberValPtr x",  "00000024:DCall 2,m",
        "00000034:DCall 0,m",        "00000044:SMemberValPtr 3",
        "0000004C:NativeCall 1,nat", "00000058:Constructor 0," + cls.ClassTag()};
    EXPECT_EQ(lines, expected);
}

TEST_F(ProgWriterTest, BufferDoublesAndKeepsBytes) {
    TProgWriter w;
    EXPECT_EQ(w.Capacity(), 256);
    for (int i = 0; i < 70; ++i) w.WriteLocalValPtr(i); // 560 bytes
    EXPECT_EQ(w.Capacity(), 1024);
    EXPECT_EQ(w.Length(), 560);
    w.SetPosition(8);
    w.WriteLocalValPtr(99); // rewriting in place does not change the length
    EXPECT_EQ(w.Length(), 560);
    w.SeekEnd();
    EXPECT_EQ(w.GetPosition(), 560);
    auto b = w.Finish();
    EXPECT_EQ(b->Size(), 560);
    EXPECT_EQ(b->WordAt(12), 99);
    EXPECT_EQ(b->WordAt(8 * 69 + 4), 69);
}

TEST_F(ProgWriterTest, PatchedJumpHoldsDistanceFromItsFirstByte) {
    TProgWriter w;
    for (int i = 0; i < 10; ++i) w.WritePop(); // 40 bytes
    std::int32_t jump = w.GetPosition();
    w.WriteJumpZero(0);
    while (w.GetPosition() < 100) w.WritePop();
    std::int32_t target = w.GetPosition();
    w.SetPosition(jump);
    w.WriteJumpZero(target - jump);
    w.SeekEnd();
    w.WriteHalt();
    auto b = w.Finish();
    EXPECT_EQ(b->WordAt(40), Op_JumpZero);
    EXPECT_EQ(b->WordAt(44), 60);
    std::vector<std::string> lines;
    ListCode(*b, lines, 40);
    EXPECT_EQ(lines.front(), "00000028:JumpZero60");
}

TEST_F(ProgWriterTest, PushRefusesObjects) {
    TProgWriter w;
    EXPECT_THROW(w.WritePush(TValue::Make(vtObject, 8), "o"), ECodeError);
    EXPECT_EQ(w.Length(), 0);
}

TEST_F(ProgWriterTest, FusedCodeListsAndFusesWithTheWriter) {
    TProgWriter w;
    w.WritePushThis();
    w.WriteSMemberValPtr(2, "a");
    w.WriteDeref(); // -> 9, 16 bytes
    w.WritePushThis();
    w.WriteSMemberValPtr(1, "b"); // -> 8, 12 bytes
    w.WriteLocalValPtr(0);        // last before Op_Halt: not fused
    w.WriteHalt();
    auto b = w.Finish();
    FuseCode(*b);
    std::vector<std::string> lines;
    ListCode(*b, lines);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"00000000:PushThis_SMemberValPtr 2",
                                        "00000010:PushThis_SMemberValPtr 1", "0000001C:LocalValPtr 0"}));
    // The name recorded for the member stays at the offset of the absorbed instruction.
    EXPECT_EQ(b->Symbols().Elems()[0].positions[0], 4);
    EXPECT_EQ(b->WordAt(8), 2);
}

TEST_F(ProgWriterTest, VerifyCodeRefusesWhatTheLoopTakesOnTrust) {
    TRTTI cls("Foo");
    cls.MemberSlot("a");
    TValue* cell = vm.AllocCells(1);
    auto make = [&](const std::function<void(TProgWriter&)>& emit, bool halt = true) {
        TProgWriter w(&cls);
        emit(w);
        if (halt) w.WriteHalt();
        auto b = w.Finish();
        FuseCode(*b);
        return b;
    };
    struct Case {
        const char* what;
        std::function<void(TProgWriter&)> emit;
        bool halt, ok;
    } cases[] = {
        {"good",
         [&](TProgWriter& w) {
             w.WriteLocalValPtr(1);
             w.WriteDeref();
             w.WritePushThis();
             w.WriteSMemberValPtr(0, "a");
             w.WriteJump(-12); // back to PushThis (after fusion the first instruction spans 12 bytes)
             w.WritePush(MakeRef(cell), "$g");
             w.WriteDeref();
         },
         true, true},
        {"no halt", [](TProgWriter& w) { w.WritePop(); }, false, false},
        {"local beyond the frame", [](TProgWriter& w) { w.WriteLocalValPtr(2); }, true, false},
        {"member of this beyond the class",
         [](TProgWriter& w) {
             w.WritePushThis();
             w.WriteSMemberValPtr(1, "b");
         },
         true, false},
        {"jump into an instruction",
         [](TProgWriter& w) {
             w.WritePushInt(1);
             w.WriteJump(-8);
         },
         true, false},
        {"jump out of the block", [](TProgWriter& w) { w.WriteJumpZero(400); }, true, false},
        {"reference outside the heap",
         [](TProgWriter& w) { w.WritePush(TValue::Make(vtRef, 0x7ffffff0), ""); }, true, false},
    };
    for (const Case& c : cases) {
        auto b = make(c.emit, c.halt);
        if (c.ok)
            EXPECT_NO_THROW(VerifyCode(*b, 2)) << c.what;
        else
            EXPECT_THROW(VerifyCode(*b, 2), ECodeError) << c.what;
    }
}

TEST_F(ProgWriterTest, ListingRejectsUnknownOpcodes) {
    std::int32_t words[] = {Op_Pop, 77, Op_Halt};
    TCompiledInfo b(reinterpret_cast<const std::uint8_t*>(words), sizeof words, {}, nullptr);
    std::vector<std::string> lines;
    EXPECT_THROW(ListCode(b, lines), ECodeError);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(ProgWriterTest, StringLengthThatOverflowsTheSizeIsRefused) {
    // A length word near the top of the int range must not wrap the instruction size to a negative step.
    std::int32_t words[] = {Op_PushString, 0x7FFFFFFC, 0, Op_Halt};
    TCompiledInfo b(reinterpret_cast<const std::uint8_t*>(words), sizeof words, {}, nullptr);
    EXPECT_EQ(InstructionSize(b, 0), 0);
    EXPECT_THROW(FuseCode(b), ECodeError);
    EXPECT_THROW(VerifyCode(b, 0), ECodeError);
    std::vector<std::string> lines;
    EXPECT_THROW(ListCode(b, lines), ECodeError);
}

} // namespace
} // namespace plimo
