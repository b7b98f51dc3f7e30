// The emitter of one code block: writes instructions byte by byte into a growing buffer, records the
// names the class-file cache needs, and hands the result over as a TCompiledInfo.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/compiled_info.h"
#include "core/opcodes.h"
#include "core/value.h"

namespace plimo {

class TRTTI;
class TFunction;

class TProgWriter {
public:
    explicit TProgWriter(TRTTI* owner = nullptr);
    TProgWriter(const TProgWriter&) = delete;
    TProgWriter& operator=(const TProgWriter&) = delete;

    std::int32_t GetPosition() const { return m_position; }
    // Moving back and writing again patches in place; the length keeps its highest mark.
    void SetPosition(std::int32_t p) { m_position = p < 0 ? 0 : p; }
    void SeekEnd() { m_position = m_length; }
    std::int32_t Length() const { return m_length; }
    std::int32_t Capacity() const { return m_capacity; }
    const std::uint8_t* Buffer() const { return m_buffer.get(); }

    void WritePop() { writeWord(Op_Pop); }
    // Raises ECodeError("WritePush Error") for an object value: constants are never counted references.
    void WritePush(const TValue& value, std::string_view name);
    void WritePushInt(std::int32_t n);
    void WritePushFloat(float x);
    void WritePushString(std::string_view text);
    void WritePushThis() { writeWord(Op_PushThis); }
    void WriteSMemberValPtr(std::int32_t index, std::string_view name);
    void WriteDMemberValPtr(std::string_view name);
    void WriteLocalValPtr(std::int32_t index);
    void WriteArgValPtr(std::int32_t index);
    void WriteDCall(std::string_view name, std::int32_t count);
    void WriteSCall(std::int32_t slot, std::int32_t count, std::string_view name);
    void WriteSuperCall(TFunction* function, std::int32_t count, std::string_view name);
    void WriteNativeCall(TFunction* function, std::int32_t count, std::string_view name);
    // `path` is the class's dotted resource path, recorded for relinking.
    void WriteConstructor(TRTTI* cls, std::int32_t count, std::string_view path);
    // Maps an operator text ("+", "+=", "==", ">=", "&" ...) to its opcode by its first character.
    void WriteOperator(std::string_view text);
    void WriteNot() { writeWord(Op_Not); }
    void WriteNeg() { writeWord(Op_Neg); }
    void WriteDeref() { writeWord(Op_Deref); }
    void WriteRet() { writeWord(Op_Ret); }
    void WriteHalt() { writeWord(Op_Halt); }
    void WriteIs(TRTTI* cls, std::string_view path);
    void WriteJump(std::int32_t offset) { writeJump(Op_Jump, offset); }
    void WriteJumpZero(std::int32_t offset) { writeJump(Op_JumpZero, offset); }
    void WriteJumpAnd(std::int32_t offset) { writeJump(Op_Jump_And, offset); }
    void WriteJumpOr(std::int32_t offset) { writeJump(Op_Jump_Or, offset); }
    void WriteInitForIn() { writeWord(Op_InitForIn); }
    void WriteDoForIn(std::int32_t offset) { writeJump(Op_DoForIn, offset); }
    void WriteClearForIn() { writeWord(Op_ClearForIn); }
    // Records a source point at the current position; writes no instruction.
    void WritePoint(TRTTI* cls, std::int32_t sourceOffset);

    // Hands the buffer (shrunk to the length) and the symbol information to a new block.
    std::unique_ptr<TCompiledInfo> Finish();

private:
    void writeByte(std::uint8_t b);
    void writeWord(std::int32_t w);
    void writeJump(std::int32_t op, std::int32_t offset) {
        writeWord(op);
        writeWord(offset);
    }
    void record(std::int32_t op, std::string_view name) { m_symbols.Record(op, name, m_position); }

    std::int32_t m_capacity = 256;
    std::int32_t m_position = 0;
    std::int32_t m_length = 0;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    TSymInfoList m_symbols;
    TRTTI* m_owner;
};

} // namespace plimo
