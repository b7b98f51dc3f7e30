// System start-up up to the point where scripts can run: the kernel is read, its classes compiled and
// its natives bound. TPlimoSystem owns everything that start-up creates, so a test can boot afresh.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "classes/runtime.h"
#include "compiler/eval.h"
#include "core/vm.h"
#include "resources/resource_system.h"

namespace plimo {

class TRTTI;
class TInterpreter;
class TClassCompiler;

class TPlimoSystem {
public:
    // With the system's own compiler.
    explicit TPlimoSystem(TReporter& reporter, std::size_t heapReserve = THeap::kDefaultReserve);
    // With another compile entry (true when it failed) for kernel and project classes and snippets
    // alike: tests that look at start-up only.
    TPlimoSystem(TReporter& reporter, TCompileFn compile, std::size_t heapReserve = THeap::kDefaultReserve);
    ~TPlimoSystem();
    TPlimoSystem(const TPlimoSystem&) = delete;
    TPlimoSystem& operator=(const TPlimoSystem&) = delete;

    // Reads kernelFolder/resource.plimores (the program folder is the kernel folder's parent), looks up
    // the core classes and usrglobal, compiles the kernel and binds the natives. Errors of start-up
    // (a missing kernel file, "初期化に失敗しました") are raised to the caller.
    void Boot(const std::string& kernelFolder);

    // Binds the natives of the binding table to the classes present (the core ones are required).
    void BindAllNatives();

    TReporter& reporter;
    TVm vm;
    TResourceSystem resources;
    TRuntime runtime;
    std::unique_ptr<TInterpreter> interpreter;
    // The stand-in entry when one was given.
    TCompileFn compile;

private:
    class CompileAdapter;
    class ResourceRuntime;
    void wire();
    std::unique_ptr<TClassCompiler> m_compiler;
    std::unique_ptr<ResourceRuntime> m_resourceRuntime;
};

// Where the kernel folder lies: beside the executable, else in the source tree this was built from;
// a path as the system keeps paths (SystemPathFromOs).
std::string FindKernelFolder();

} // namespace plimo
