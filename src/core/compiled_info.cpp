#include "core/compiled_info.h"

#include <cstring>

#include "core/opcodes.h"
#include "platform/text.h"

namespace plimo {

void TSymInfoList::Record(std::int32_t opcode, std::string_view name, std::int32_t position) {
    for (TCInfoElem& e : m_elems) {
        if (e.opcode == opcode && e.name == name) {
            e.positions.push_back(position);
            return;
        }
    }
    m_elems.push_back({opcode, std::string(name), {position}});
}

TCompiledInfo::TCompiledInfo(const std::uint8_t* bytes, std::int32_t size, TSymInfoList symbols, TRTTI* owner)
    : m_code(new std::uint8_t[size > 0 ? size : 1]()), m_size(size > 0 ? size : 0),
      m_symbols(std::move(symbols)), m_owner(owner) {
    if (m_size > 0) std::memcpy(m_code.get(), bytes, m_size);
}

std::int32_t TCompiledInfo::WordAt(std::int32_t offset) const {
    if (offset < 0 || offset + 4 > m_size) return -1;
    std::int32_t w;
    std::memcpy(&w, m_code.get() + offset, 4);
    return w;
}

void TCompiledInfo::SetWordAt(std::int32_t offset, std::int32_t word) {
    if (offset < 0 || offset + 4 > m_size) return;
    std::memcpy(m_code.get() + offset, &word, 4);
}

std::int32_t InstructionSize(const TCompiledInfo& code, std::int32_t offset) {
    std::int32_t op = code.WordAt(offset);
    if (!IsValidOpcode(op)) return 0;
    std::int32_t size = kOpcodeInfo[op].size;
    if (op == Op_PushString) {
        std::int32_t len = code.WordAt(offset + 4);
        if (len < 4 || (len & 3) != 0) return 0;
        size += len;
    }
    return offset + size <= code.Size() ? size : 0;
}

namespace {

const SysText kBadOpcode("異常な命令が入っています");

std::string BadOpcodeText(std::int32_t op, bool withCode) {
    std::string text = kBadOpcode.sjis();
    if (withCode) text += ":" + std::to_string(op);
    return text;
}

} // namespace

void FuseCode(TCompiledInfo& code) {
    std::int32_t at = 0;
    // The block's end bounds the walk as well as Op_Halt, so a block without one cannot be overrun.
    while (at + 4 <= code.Size()) {
        std::int32_t op = code.WordAt(at);
        if (op == Op_Halt) return;
        auto next = [&](std::int32_t delta) { return code.WordAt(at + delta); };
        std::int32_t step = 0;
        switch (op) {
        case Op_Push:
            if (next(12) == Op_Deref) {
                code.SetWordAt(at, Op_Push_Deref);
                step = 16;
            } else {
                step = 12;
            }
            break;
        case Op_PushThis:
            if (next(4) == Op_SMemberValPtr) {
                if (next(12) == Op_Deref) {
                    code.SetWordAt(at, Op_PushThis_SMemberValPtr_Deref);
                    step = 16;
                } else {
                    code.SetWordAt(at, Op_PushThis_SMemberValPtr);
                    step = 12;
                }
            } else {
                step = 4;
            }
            break;
        case Op_DMemberValPtr:
            if (next(12) == Op_Deref) {
                code.SetWordAt(at, Op_DMemberValPtr_Deref);
                step = 16;
            } else {
                step = 12;
            }
            break;
        case Op_LocalValPtr:
        case Op_ArgValPtr:
            if (next(8) == Op_Deref) {
                code.SetWordAt(at, op == Op_LocalValPtr ? Op_LocalValPtr_Deref : Op_ArgValPtr_Deref);
                step = 12;
            } else {
                step = 8;
            }
            break;
        // The pass writes these itself; meeting one means the block was fused already or is corrupt.
        case Op_LocalValPtr_Deref:
        case Op_ArgValPtr_Deref:
        case Op_Push_Deref:
            throw ECodeError(BadOpcodeText(op, true));
        default:
            step = InstructionSize(code, at);
            if (step == 0) throw ECodeError(BadOpcodeText(op, true));
            break;
        }
        at += step;
    }
}

} // namespace plimo
