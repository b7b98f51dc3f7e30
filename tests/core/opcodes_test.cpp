// The opcode table, the fusion pass over raw words, and the listing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/compiled_info.h"
#include "core/opcodes.h"

namespace plimo {
namespace {

std::unique_ptr<TCompiledInfo> Block(const std::vector<std::int32_t>& words) {
    std::vector<std::uint8_t> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.data(), bytes.size());
    return std::make_unique<TCompiledInfo>(bytes.data(), static_cast<std::int32_t>(bytes.size()),
                                           TSymInfoList{}, nullptr);
}

TEST(Opcodes, NumberingNamesAndSizes) {
    struct Case {
        std::int32_t code;
        const char* name;
        std::int32_t size;
    } cases[] = {
        {Op_Pop, "Op_Pop", 4},
        {Op_Push, "Op_Push", 12},
        {Op_PushThis_SMemberValPtr_Deref, "Op_PushThis_SMemberValPtr_Deref", 16},
        {Op_Push_Deref, "Op_Push_Deref", 16},
        {Op_DCall, "Op_DCall", 16},
        {Op_Constructor, "Op_Constructor", 12},
        {Op_Is, "Op_Is", 8},
        {Op_Deref, "Op_Deref", 4},
        {Op_DoForIn, "Op_DoForIn", 8},
        {Op_Point, "Op_Point", 16},
        {Op_Halt, "Op_Halt", 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OpcodeName(c.code), c.name);
        EXPECT_EQ(kOpcodeInfo[c.code].size, c.size) << c.name;
    }
    EXPECT_EQ(Op_Pop, 0);
    EXPECT_EQ(Op_DMemberValPtr_Deref, 10);
    EXPECT_EQ(Op_Add, 19);
    EXPECT_EQ(Op_Deref, 38);
    EXPECT_EQ(Op_Point, 47);
    EXPECT_EQ(Op_Halt, 48);
    EXPECT_EQ(OpcodeCount, 49);
    EXPECT_EQ(OpcodeName(49), "Invalid Code");
    EXPECT_EQ(OpcodeName(-1), "Invalid Code");
}

TEST(Opcodes, InstructionViewSizes) {
    std::int32_t pushString[] = {Op_PushString, 8, 0x64636261, 0};
    std::int32_t dcall[] = {Op_DCall, 2, 7, 0};
    std::int32_t bad[] = {60};
    EXPECT_EQ(TInstruction{pushString}.Size(), 16);
    EXPECT_STREQ(TInstruction{pushString}.Text(), "abcd");
    EXPECT_EQ(TInstruction{dcall}.Size(), 16);
    EXPECT_EQ(TInstruction{dcall}.Operand(1), 7);
    EXPECT_EQ(TInstruction{bad}.Size(), 0);
}

TEST(Opcodes, PaddedTextLength) {
    EXPECT_EQ(PaddedTextLength(0), 4);
    EXPECT_EQ(PaddedTextLength(3), 4);
    EXPECT_EQ(PaddedTextLength(4), 8);
    EXPECT_EQ(PaddedTextLength(7), 8);
}

TEST(FuseCode, RewritesEachPairInPlace) {
    auto b = Block({Op_Push,
                    1,
                    5,
                    Op_Deref, // 0: Push+Deref -> 13
                    Op_PushThis,
                    Op_SMemberValPtr,
                    2,
                    Op_Deref, // 16: -> 9
                    Op_PushThis,
                    Op_SMemberValPtr,
                    3, // 32: -> 8
                    Op_DMemberValPtr,
                    7,
                    0,
                    Op_Deref, // 44: -> 10
                    Op_LocalValPtr,
                    1,
                    Op_Deref, // 60: -> 11
                    Op_ArgValPtr,
                    0,
                    Op_Deref, // 72: -> 12
                    Op_PushThis,
                    Op_Pop, // 84: stays
                    Op_LocalValPtr,
                    0,
                    Op_Halt}); // 92: not fused at the end
    FuseCode(*b);
    EXPECT_EQ(b->WordAt(0), Op_Push_Deref);
    EXPECT_EQ(b->WordAt(16), Op_PushThis_SMemberValPtr_Deref);
    EXPECT_EQ(b->WordAt(20), Op_SMemberValPtr); // absorbed words stay in place
    EXPECT_EQ(b->WordAt(28), Op_Deref);
    EXPECT_EQ(b->WordAt(32), Op_PushThis_SMemberValPtr);
    EXPECT_EQ(b->WordAt(44), Op_DMemberValPtr_Deref);
    EXPECT_EQ(b->WordAt(60), Op_LocalValPtr_Deref);
    EXPECT_EQ(b->WordAt(72), Op_ArgValPtr_Deref);
    EXPECT_EQ(b->WordAt(84), Op_PushThis);
    EXPECT_EQ(b->WordAt(92), Op_LocalValPtr);
}

TEST(FuseCode, StepsOverStringTextAndStopsAtHalt) {
    // The text "ab" padded to 4 bytes holds the byte 38 where an opcode would be misread.
    auto b = Block(
        {Op_PushString, 4, 0x00002626, Op_LocalValPtr, 0, Op_Deref, Op_Halt, Op_LocalValPtr, 0, Op_Deref});
    FuseCode(*b);
    EXPECT_EQ(b->WordAt(8), 0x00002626);
    EXPECT_EQ(b->WordAt(12), Op_LocalValPtr_Deref);
    EXPECT_EQ(b->WordAt(28), Op_LocalValPtr); // after Op_Halt nothing is touched
}

TEST(FuseCode, RejectsUnexpectedOpcodes) {
    for (std::int32_t bad :
         std::vector<std::int32_t>{Op_LocalValPtr_Deref, Op_ArgValPtr_Deref, Op_Push_Deref, 49, -3}) {
        auto b = Block({Op_LocalValPtr, 0, Op_Deref, bad, 0, 0, 0, Op_LocalValPtr, 1, Op_Deref, Op_Halt});
        try {
            FuseCode(*b);
            ADD_FAILURE() << bad;
        } catch (const ECodeError& e) {
            EXPECT_NE(e.Text().find(":" + std::to_string(bad)), std::string::npos);
        }
        EXPECT_EQ(b->WordAt(0), Op_LocalValPtr_Deref); // rewritten before the fault
        EXPECT_EQ(b->WordAt(28), Op_LocalValPtr);      // nothing after it
    }
}

TEST(FuseCode, BlockWithoutHaltEndsAtItsSize) {
    auto b = Block({Op_LocalValPtr, 0, Op_Deref, Op_Push, 1});
    FuseCode(*b); // the truncated Op_Push is neither read past the end nor rewritten
    EXPECT_EQ(b->WordAt(12), Op_Push);
    auto c = Block({Op_LocalValPtr, 0, Op_Deref});
    FuseCode(*c);
    EXPECT_EQ(c->WordAt(0), Op_LocalValPtr_Deref);
}

} // namespace
} // namespace plimo
