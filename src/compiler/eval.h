// Host-built script snippets: compiling a text as the main code of a throwaway class and running it to
// its end, the value-returning form, global value cells by name, and the checkpointed script builder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.h"

namespace plimo {

class TRTTI;
class TResourceSystem;

// Compiles source into cls; true when the compilation failed (the compiler's entry for one class).
using TCompileFn = std::function<bool(TRTTI& cls, std::string_view source, bool report)>;

// Makes the eval classes: every request compiles a class of its own, named "eval" + n, through the
// VM's class compiler.
class TEvalCache {
public:
    explicit TEvalCache(TResourceSystem* resources) : m_resources(resources) {}

    // The compiled class, or none when the text did not compile (the class is gone then).
    std::unique_ptr<TRTTI> Get(std::string_view text, bool report);

    bool lastCompileOk = false;
    std::int32_t counter = 0;

private:
    TResourceSystem* m_resources;
};

// Eval's results: 0 ran to its end, 1 did not compile, otherwise the process's error state (2).
enum : int { kEvalOk = 0, kEvalCompileError = 1, kEvalRuntimeError = 2 };

// Runs text as the main code of a new class, to its end, in a process of its own. Works through the
// current runtime's eval cache; without one (no compiler wired in) nothing runs and the result is 1.
int Eval(std::string_view text, bool report);

// Evaluates "extends Object; $_tmp_valueOf=" + expression + ";" and gives the cell of $_tmp_valueOf.
TValue* ValueOf(std::string_view expression);

// The cell of a "$" global (created on first mention); none for any other name or without a tree.
TValue* GlobalCell(std::string_view name);
// AssignValue into GlobalCell(name) when there is one.
void SetGlobal(std::string_view name, const TValue& value);

// A script built entry by entry, each followed by a line that records how far a run got.
class TMultiEvaluator {
public:
    TMultiEvaluator();
    void Add(std::string_view text);
    // Every entry followed by CR LF.
    std::string Text() const;
    // False when the file could not be written.
    bool SaveToFile(const std::string& path) const;

private:
    std::vector<std::string> m_entries;
};

} // namespace plimo
