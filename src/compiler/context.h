// The state one class compilation shares between all code-generation steps, and the compile error.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/progwriter.h"

namespace plimo {

class TResource;
class TRTTI;
class TNormalFunction;
class TReporter;

// A compile error: the message is the compiled class's name, ":" and the text (CP932).
class ECmpError : public std::exception {
public:
    ECmpError(std::string_view className, std::string_view text)
        : m_message(std::string(className) + ":" + std::string(text)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& Message() const { return m_message; }

private:
    std::string m_message;
};

// A number literal that does not convert. It ends the compilation like a compile error but carries
// only the conversion's own message, without the class name.
class ENumberError : public std::exception {
public:
    explicit ENumberError(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// Where a name chain stands after its last element. The numbers are the ones the debugger and the
// class-file tools print, so they are fixed.
enum class TChainState : std::uint8_t {
    AtResource = 0, // a resource that holds no value (yet)
    Value = 1,      // a value or an address is on the stack
    Start = 2,      // nothing generated yet
    AfterSuper = 3, // "super" seen; only a call may follow
    AfterThis = 4,  // "this" pushed
};

// Code generation switches, named so a test or a debugging session can turn one on.
struct TCompileOptions {
    // Run the fusion pass over every finished block. Off only to look at the code as emitted.
    bool fuse = true;
};

// One per compilation of a class. Fields follow the order the compiler's documentation gives them.
struct TContext {
    std::unique_ptr<TProgWriter> writer; // the block being written; replaced per function body
    TResource* root = nullptr;           // where global names and class names are looked up
    TRTTI* cls = nullptr;                // the class being compiled
    TNormalFunction* function = nullptr; // the body being compiled; none for declarations and main code
    bool lvalue = false;                 // the chain being generated must leave an address
    TChainState chainState = TChainState::Start;
    TResource* found = nullptr;         // what the last resource name resolved to
    std::int32_t pass = 1;              // 1 declares functions, 2 generates code
    std::string foundName;              // dotted text of the last resource name, for messages
    std::string_view source;            // the text being compiled; offsets count from its first byte
    std::int32_t statementPosition = 0; // offset of the ";" of the current expression statement
    std::vector<std::int32_t>* breakList = nullptr; // placeholder jumps of "break" in the innermost loop
    TCompileOptions options;
    TReporter* reporter = nullptr; // where messages that do not stop the compilation are shown

    // Raises the compile error for the class being compiled.
    [[noreturn]] void Fail(std::string_view text) const;
};

} // namespace plimo
