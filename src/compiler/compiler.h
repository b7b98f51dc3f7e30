// The compile driver: lexes, parses and generates one class, reporting what goes wrong.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "classes/rtti.h"
#include "compiler/context.h"
#include "platform/report.h"

namespace plimo {

class TResourceSystem;
class TVm;
class TYup;

// Where the compiled-class cache plugs in: consulted before a class with a source file is compiled,
// written after it compiled.
class TClassFileCache {
public:
    virtual ~TClassFileCache() = default;
    // True when the class was loaded (it is then compiled); false when there is no class file.
    // Throws when a class file exists but cannot be used.
    virtual bool Load(TRTTI& cls) = 0;
    virtual void Save(TRTTI& cls) = 0;
};

// Where the performance analyser brackets the work it measures (its section numbers).
class TSectionHook {
public:
    virtual ~TSectionHook() = default;
    virtual void Enter(int section) = 0;
    virtual void Leave(int section) = 0;
};

// The analyser section that lexing and parsing one class source is counted in.
inline constexpr int kLexParseSection = 10;

// One per resource system: owns the grammar component (built once, on the first compilation). While
// it lives it is the current VM's class compiler (unless another one was installed first), so class
// initialisation compiles through it.
class TCompiler : public TClassCompiler {
public:
    TCompiler(TResourceSystem& resources, TReporter& reporter);
    ~TCompiler() override;
    TCompiler(const TCompiler&) = delete;
    TCompiler& operator=(const TCompiler&) = delete;

    // Compiles cls from source; returns true when the compilation failed. With report, errors go to
    // the reporter as (message, the class's source path, byte offset into source).
    bool Compile(TRTTI& cls, std::string_view source, bool report) override;

    // Compiles a class from its own source file: resets it, reads the file as CR LF lines, and
    // compiles that text with errors reported. Returns true when it failed.
    bool CompileClass(TRTTI& cls);

    TCompileOptions options;
    TClassFileCache* classFiles = nullptr; // none: every class is compiled from source
    TSectionHook* sections = nullptr;      // none: nothing is timed

private:
    TYup& Parser();

    TResourceSystem& m_resources;
    TReporter& m_reporter;
    std::unique_ptr<TYup> m_yup;
    TVm* m_installedIn = nullptr;
};

} // namespace plimo
