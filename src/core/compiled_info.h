// Finished code blocks: the code buffer, the names recorded while it was emitted, the fusion pass
// and the listing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plimo {

class TRTTI;
class TFunction;

// Code words that name a class or a function hold its host id (core/vm.h): 32 bits, and a word whose
// object has gone reads back as none instead of as freed memory.
std::int32_t ClassWord(const TRTTI* cls);
std::int32_t FunctionWord(const TFunction* function);
TRTTI* ClassFromWord(std::int32_t word);
TFunction* FunctionFromWord(std::int32_t word);

// One (opcode, name) pair and the code offsets of every instruction emitted with it.
struct TCInfoElem {
    std::int32_t opcode = 0;
    std::string name;
    std::vector<std::int32_t> positions;
};

// A source point: the source offset as decimal text and the code offset where it was recorded.
struct TSourcePoint {
    std::string text;
    std::int32_t position = 0;
};

// The names recorded during emission, which the class-file cache stores and relinks.
class TSymInfoList {
public:
    // Appends position to the element of (opcode, name), creating it at the end when new.
    void Record(std::int32_t opcode, std::string_view name, std::int32_t position);
    void AddPoint(std::string text, std::int32_t position) {
        m_points.push_back({std::move(text), position});
    }

    const std::vector<TCInfoElem>& Elems() const { return m_elems; }
    std::vector<TCInfoElem>& Elems() { return m_elems; }
    const std::vector<TSourcePoint>& Points() const { return m_points; }
    std::vector<TSourcePoint>& Points() { return m_points; }

private:
    std::vector<TCInfoElem> m_elems;
    std::vector<TSourcePoint> m_points;
};

// A finished block of 32-bit little-endian instruction words. Owns its code and symbol information;
// the class is a link back.
class TCompiledInfo {
public:
    TCompiledInfo(std::unique_ptr<std::uint8_t[]> code, std::int32_t size, TSymInfoList symbols, TRTTI* owner)
        : m_code(std::move(code)), m_size(size), m_symbols(std::move(symbols)), m_owner(owner) {}
    // A block whose bytes come from elsewhere (a class file).
    TCompiledInfo(const std::uint8_t* bytes, std::int32_t size, TSymInfoList symbols, TRTTI* owner);
    TCompiledInfo(const TCompiledInfo&) = delete;
    TCompiledInfo& operator=(const TCompiledInfo&) = delete;

    std::uint8_t* Code() { return m_code.get(); }
    const std::uint8_t* Code() const { return m_code.get(); }
    std::int32_t Size() const { return m_size; }
    TSymInfoList& Symbols() { return m_symbols; }
    const TSymInfoList& Symbols() const { return m_symbols; }
    TRTTI* Owner() const { return m_owner; }
    void SetOwner(TRTTI* owner) { m_owner = owner; }

    std::int32_t WordAt(std::int32_t offset) const;
    void SetWordAt(std::int32_t offset, std::int32_t word);

private:
    std::unique_ptr<std::uint8_t[]> m_code;
    std::int32_t m_size;
    TSymInfoList m_symbols;
    TRTTI* m_owner;
};

// Rewrites address-then-dereference pairs into the fused opcodes, in place. Raises ECodeError
// ("異常な命令が入っています:" + opcode) on an opcode it does not expect; nothing after it is rewritten.
void FuseCode(TCompiledInfo& code);

// Appends one line per instruction from byte offset `from` up to (excluding) Op_Halt or the end of
// the block. The address column is the instruction's offset in its block. Raises ECodeError
// ("異常な命令が入っています") on an opcode outside the table.
void ListCode(const TCompiledInfo& code, std::vector<std::string>& lines, std::int32_t from = 0);

// Checks a block the interpreter did not see emitted (one read from a class file) for what the run loop
// takes on trust: every instruction decodes inside the block, which ends with Op_Halt; every jump lands
// on an instruction; local indices are below `locals`; members of `this` by slot are below the owner's
// member count; constants are no objects and reference only heap cells. Raises ECodeError
// ("異常な命令が入っています:" + the offending opcode) on the first fault.
void VerifyCode(const TCompiledInfo& code, std::int32_t locals);

// The size in bytes of the instruction at offset, Op_PushString's text included; 0 for an opcode
// outside the table or an instruction that does not fit in the block.
std::int32_t InstructionSize(const TCompiledInfo& code, std::int32_t offset);

// A malformed code block (bad opcode, bad constant). Carries the system's text.
class ECodeError : public std::exception {
public:
    explicit ECodeError(std::string text) : m_text(std::move(text)) {}
    const char* what() const noexcept override { return m_text.c_str(); }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

} // namespace plimo
