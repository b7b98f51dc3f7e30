#include "core/compiled_info.h"

#include <cstdio>
#include <cstring>

#include "classes/function.h"
#include "classes/rtti.h"
#include "core/opcodes.h"
#include "core/symbols.h"
#include "core/value.h"
#include "core/vm.h"
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

std::int32_t ClassWord(const TRTTI* cls) {
    return cls ? static_cast<std::int32_t>(cls->hostId()) : 0;
}

std::int32_t FunctionWord(const TFunction* function) {
    return function ? static_cast<std::int32_t>(function->hostId()) : 0;
}

namespace {
template <class T> T* HostFromWord(std::int32_t word) {
    TVm* vm = TVm::Current();
    THostObject* h = vm ? vm->HostAt(static_cast<std::uint32_t>(word)) : nullptr;
    return h && h->hostKind() == T::kKind ? static_cast<T*>(h) : nullptr;
}
} // namespace

TRTTI* ClassFromWord(std::int32_t word) {
    return HostFromWord<TRTTI>(word);
}
TFunction* FunctionFromWord(std::int32_t word) {
    return HostFromWord<TFunction>(word);
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
    if (op == Op_PushString) {
        // The length word must be there and sane before the view may add it.
        std::int32_t len = code.WordAt(offset + 4);
        if (len < 4 || (len & 3) != 0) return 0;
        // Checked before the add, so a length near the int range cannot wrap the size negative.
        if (len > code.Size() - offset - 8) return 0;
    }
    std::int32_t size = TInstruction{reinterpret_cast<const std::int32_t*>(code.Code() + offset)}.Size();
    return size <= code.Size() - offset ? size : 0;
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
        // Rewrites the opcode when an Op_Deref follows at derefAt; the step covers what was fused.
        auto fuse = [&](std::int32_t derefAt, std::int32_t fused) {
            if (next(derefAt) != Op_Deref) return derefAt;
            code.SetWordAt(at, fused);
            return derefAt + 4;
        };
        std::int32_t step = 0;
        switch (op) {
        case Op_Push:
            step = fuse(12, Op_Push_Deref);
            break;
        case Op_PushThis:
            if (next(4) == Op_SMemberValPtr) {
                code.SetWordAt(at, Op_PushThis_SMemberValPtr);
                step = fuse(12, Op_PushThis_SMemberValPtr_Deref);
            } else {
                step = 4;
            }
            break;
        case Op_DMemberValPtr:
            step = fuse(12, Op_DMemberValPtr_Deref);
            break;
        case Op_LocalValPtr:
            step = fuse(8, Op_LocalValPtr_Deref);
            break;
        case Op_ArgValPtr:
            step = fuse(8, Op_ArgValPtr_Deref);
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

void VerifyCode(const TCompiledInfo& code, std::int32_t locals) {
    std::vector<bool> starts(static_cast<std::size_t>(code.Size()) + 1, false);
    std::vector<std::pair<std::int32_t, std::int32_t>> jumps; // (instruction, target)
    TRTTI* owner = code.Owner();
    std::int32_t members = owner ? owner->memberNames.Count() : -1;
    TVm* vm = TVm::Current();
    std::int32_t at = 0, last = -1;
    while (at < code.Size()) {
        std::int32_t op = code.WordAt(at);
        std::int32_t size = InstructionSize(code, at);
        auto fail = [&] { throw ECodeError(BadOpcodeText(op, true)); };
        if (size == 0) fail();
        starts[static_cast<std::size_t>(at)] = true;
        auto word = [&](std::int32_t i) { return code.WordAt(at + 4 * i); };
        switch (op) {
        case Op_Push:
        case Op_Push_Deref: {
            std::int32_t tag = word(1) & 0xFF;
            if (tag > vtUnset || tag == vtObject) fail();
            if (tag == vtRef && (!vm || !vm->IsHeapCell(vm->CellAt(static_cast<std::uint32_t>(word(2))))))
                fail();
            if (op == Op_Push_Deref && tag != vtRef) fail();
            break;
        }
        case Op_LocalValPtr:
        case Op_LocalValPtr_Deref:
            if (word(1) < 0 || word(1) >= locals) fail();
            break;
        case Op_PushThis_SMemberValPtr:
        case Op_PushThis_SMemberValPtr_Deref:
            if (word(2) < 0 || (members >= 0 && word(2) >= members)) fail();
            break;
        case Op_Jump:
        case Op_JumpZero:
        case Op_Jump_And:
        case Op_Jump_Or:
        case Op_DoForIn:
            jumps.emplace_back(at, at + word(1));
            break;
        default:
            break;
        }
        last = at;
        at += size;
    }
    if (last < 0 || code.WordAt(last) != Op_Halt) throw ECodeError(BadOpcodeText(Op_Halt, true));
    for (auto [from, target] : jumps)
        if (target < 0 || target >= code.Size() || !starts[static_cast<std::size_t>(target)])
            throw ECodeError(BadOpcodeText(code.WordAt(from), true));
}

namespace {

std::string ListingLine(const TCompiledInfo& code, std::int32_t at, std::int32_t op) {
    auto word = [&](std::int32_t i) { return code.WordAt(at + 4 * i); };
    auto num = [&](std::int32_t i) { return std::to_string(word(i)); };
    auto classTag = [&](std::int32_t i) {
        TRTTI* cls = ClassFromWord(word(i));
        return cls ? cls->ClassTag() : std::string();
    };
    auto functionName = [&](std::int32_t i) {
        TFunction* f = FunctionFromWord(word(i));
        return f ? f->GetName() : std::string();
    };
    const TOpcodeInfo& info = kOpcodeInfo[op];
    char address[16];
    std::snprintf(address, sizeof address, "%08X:", static_cast<unsigned>(at));
    std::string line = std::string(address) + info.text;
    switch (info.form) {
    case TListForm::Plain:
    case TListForm::End:
        break;
    case TListForm::Value:
        line += ValueToText(
            TValue::Make(static_cast<TValueTag>(word(1) & 0xFF), static_cast<std::uint32_t>(word(2))));
        break;
    case TListForm::Text: {
        const char* text = reinterpret_cast<const char*>(code.Code() + at + 8);
        line += std::string(text, strnlen(text, static_cast<std::size_t>(word(1))));
        break;
    }
    case TListForm::Index:
    case TListForm::SymbolId:
    case TListForm::Offset:
        line += num(1);
        break;
    case TListForm::SecondIndex:
        line += num(2);
        break;
    case TListForm::Symbol:
        line += SymbolName(word(1));
        break;
    case TListForm::CountSymbol:
        line += num(1) + "," + SymbolName(word(2));
        break;
    case TListForm::CountIndex:
        line += num(1) + "," + num(2);
        break;
    case TListForm::CountFunction:
        line += num(1) + "," + functionName(2);
        break;
    case TListForm::CountClass:
        line += num(1) + "," + classTag(2);
        break;
    case TListForm::Class:
        line += classTag(1);
        break;
    case TListForm::Point: {
        TRTTI* cls = ClassFromWord(word(1));
        line += (cls ? cls->name : std::string()) + "/" + num(2);
        break;
    }
    }
    return line;
}

} // namespace

void ListCode(const TCompiledInfo& code, std::vector<std::string>& lines, std::int32_t from) {
    std::int32_t at = from;
    while (at + 4 <= code.Size()) {
        std::int32_t op = code.WordAt(at);
        if (op == Op_Halt) return;
        std::int32_t size = InstructionSize(code, at);
        if (size == 0) throw ECodeError(kBadOpcode.sjis());
        lines.push_back(ListingLine(code, at, op));
        at += size;
    }
}

} // namespace plimo
