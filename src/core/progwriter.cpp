#include "core/progwriter.h"

#include <cstring>

#include "core/symbols.h"

namespace plimo {

TProgWriter::TProgWriter(TRTTI* owner) : m_buffer(new std::uint8_t[256]()), m_owner(owner) {}

void TProgWriter::writeByte(std::uint8_t b) {
    if (m_position >= m_capacity) {
        std::int32_t grown = m_capacity * 2;
        while (grown <= m_position) grown *= 2; // a position moved far past the end
        std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[grown]());
        std::memcpy(buffer.get(), m_buffer.get(), m_length);
        m_buffer = std::move(buffer);
        m_capacity = grown;
    }
    m_buffer[m_position++] = b;
    if (m_position > m_length) m_length = m_position;
}

void TProgWriter::writeWord(std::int32_t w) {
    std::uint32_t u = static_cast<std::uint32_t>(w);
    for (int i = 0; i < 4; ++i) writeByte(static_cast<std::uint8_t>(u >> (8 * i)));
}

void TProgWriter::WritePush(const TValue& value, std::string_view name) {
    if (value.tag == vtObject) throw ECodeError("WritePush Error");
    record(Op_Push, name);
    writeWord(Op_Push);
    // The value as it lies in memory: tag byte, three zero bytes, payload.
    writeWord(static_cast<std::uint8_t>(value.tag));
    writeWord(static_cast<std::int32_t>(value.bits));
}

void TProgWriter::WritePushInt(std::int32_t n) {
    WritePush(TValue::Int(n), {});
}

void TProgWriter::WritePushFloat(float x) {
    WritePush(TValue::Float(x), {});
}

void TProgWriter::WritePushString(std::string_view text) {
    std::int32_t n = static_cast<std::int32_t>(text.size());
    std::int32_t padded = PaddedTextLength(n);
    writeWord(Op_PushString);
    writeWord(padded);
    for (char c : text) writeByte(static_cast<std::uint8_t>(c));
    for (std::int32_t i = n; i < padded; ++i) writeByte(0);
}

void TProgWriter::WriteSMemberValPtr(std::int32_t index, std::string_view name) {
    record(Op_SMemberValPtr, name);
    writeWord(Op_SMemberValPtr);
    writeWord(index);
}

void TProgWriter::WriteDMemberValPtr(std::string_view name) {
    record(Op_DMemberValPtr, name);
    writeWord(Op_DMemberValPtr);
    writeWord(SymbolOf(name));
    writeWord(0);
}

void TProgWriter::WriteLocalValPtr(std::int32_t index) {
    writeWord(Op_LocalValPtr);
    writeWord(index);
}

void TProgWriter::WriteArgValPtr(std::int32_t index) {
    writeWord(Op_ArgValPtr);
    writeWord(index);
}

void TProgWriter::WriteDCall(std::string_view name, std::int32_t count) {
    record(Op_DCall, name);
    writeWord(Op_DCall);
    writeWord(count);
    writeWord(SymbolOf(name));
    writeWord(0);
}

void TProgWriter::WriteSCall(std::int32_t slot, std::int32_t count, std::string_view name) {
    record(Op_SCall, name);
    writeWord(Op_SCall);
    writeWord(count);
    writeWord(slot);
}

void TProgWriter::WriteSuperCall(TFunction* function, std::int32_t count, std::string_view name) {
    record(Op_SuperCall, name);
    writeWord(Op_SuperCall);
    writeWord(count);
    writeWord(FunctionWord(function));
}

void TProgWriter::WriteNativeCall(TFunction* function, std::int32_t count, std::string_view name) {
    record(Op_NativeCall, name);
    writeWord(Op_NativeCall);
    writeWord(count);
    writeWord(FunctionWord(function));
}

void TProgWriter::WriteConstructor(TRTTI* cls, std::int32_t count, std::string_view path) {
    record(Op_Constructor, path);
    writeWord(Op_Constructor);
    writeWord(count);
    writeWord(ClassWord(cls));
}

void TProgWriter::WriteIs(TRTTI* cls, std::string_view path) {
    record(Op_Is, path);
    writeWord(Op_Is);
    writeWord(ClassWord(cls));
}

void TProgWriter::WriteOperator(std::string_view text) {
    if (text.empty()) return;
    bool single = text.size() == 1;
    std::int32_t op = -1;
    switch (text[0]) {
    case '+':
        op = single ? Op_Add : Op_AddSubst;
        break;
    case '-':
        op = single ? Op_Sub : Op_SubSubst;
        break;
    case '*':
        op = Op_Mul;
        break;
    case '/':
        op = Op_Div;
        break;
    case '%':
        op = Op_Mod;
        break;
    case '>':
        op = single ? Op_GT : Op_GTE;
        break;
    case '<':
        op = single ? Op_LT : Op_LTE;
        break;
    case '=':
        op = single ? Op_Subst : Op_EQ;
        break;
    case '!':
        op = Op_NEQ;
        break;
    case '&':
        op = Op_And;
        break;
    case '|':
        op = Op_Or;
        break;
    default:
        break;
    }
    if (op >= 0) writeWord(op);
}

void TProgWriter::WritePoint(TRTTI*, std::int32_t sourceOffset) {
    m_symbols.AddPoint(std::to_string(sourceOffset), m_position);
}

std::unique_ptr<TCompiledInfo> TProgWriter::Finish() {
    std::unique_ptr<std::uint8_t[]> code(new std::uint8_t[m_length > 0 ? m_length : 1]());
    std::memcpy(code.get(), m_buffer.get(), m_length);
    m_buffer.reset(new std::uint8_t[256]());
    m_capacity = 256;
    auto block = std::make_unique<TCompiledInfo>(std::move(code), m_length, std::move(m_symbols), m_owner);
    m_symbols = TSymInfoList();
    m_position = m_length = 0;
    return block;
}

} // namespace plimo
