#include "resources/boot.h"

#include <filesystem>
#include <unistd.h>

#include "classes/core_natives.h"
#include "classes/kernel_names.h"
#include "classes/rtti.h"
#include "compiler/compiler.h"
#include "core/errors.h"
#include "core/interpreter.h"
#include "core/version.h"
#include "platform/build_paths.h"
#include "platform/files.h"
#include "platform/report.h"
#include "resources/paths.h"
#include "services/string_natives.h"

namespace plimo {

// Hands class compilation (initialisation steps and eval snippets) to the system's compile entry.
class TPlimoSystem::CompileAdapter : public TClassCompiler {
public:
    explicit CompileAdapter(TPlimoSystem& system) : m_system(system) {}
    bool Compile(TRTTI& cls, std::string_view source, bool report) override {
        bool failed = !m_system.compile || m_system.compile(cls, source, report);
        cls.failed = failed;
        return failed;
    }

private:
    TPlimoSystem& m_system;
};

// What the resource tree asks of the script runtime.
class TPlimoSystem::ResourceRuntime : public TResourceRuntime {
public:
    explicit ResourceRuntime(TPlimoSystem& system) : m_system(system) {}
    bool Eval(std::string_view text, bool report) override { return plimo::Eval(text, report) == kEvalOk; }
    void MarkValue(TValue& value) override {
        if (m_system.runtime.markValue) m_system.runtime.markValue(value);
    }
    // The kernel has no BuiltInResource class yet; the resource then has no script object (null).
    void MakeScriptObject(TResource&, TValue&) override {}

private:
    TPlimoSystem& m_system;
};

TPlimoSystem::TPlimoSystem(TReporter& reporter, std::size_t heapReserve)
    : reporter(reporter), vm(heapReserve), resources(reporter), runtime(vm, reporter, &resources) {
    m_compiler = std::make_unique<TCompiler>(resources, reporter);
    wire();
}

TPlimoSystem::TPlimoSystem(TReporter& reporter, TCompileFn compileFn, std::size_t heapReserve)
    : reporter(reporter), vm(heapReserve), resources(reporter), runtime(vm, reporter, &resources),
      compile(std::move(compileFn)) {
    m_compiler = std::make_unique<CompileAdapter>(*this);
    wire();
}

void TPlimoSystem::wire() {
    vm.reporter = &reporter;
    vm.classCompiler = m_compiler.get();
    interpreter = std::make_unique<TInterpreter>(vm, &reporter);
    m_resourceRuntime = std::make_unique<ResourceRuntime>(*this);
    resources.runtime = m_resourceRuntime.get();
    runtime.evalCache = std::make_unique<TEvalCache>(&resources);
}

TPlimoSystem::~TPlimoSystem() {
    // Processes scripts left behind hold references into the tree's classes: they go first.
    runtime.DestroyScriptProcesses();
    // The tree goes first: destroying resources may still run snippets (onDestroy) through the runtime.
    resources.root.reset();
    resources.usrglobal = nullptr;
    resources.runtime = nullptr;
    runtime.evalCache.reset();
    interpreter.reset();
    if (vm.classCompiler == m_compiler.get()) vm.classCompiler = nullptr;
    m_compiler.reset();
}

void TPlimoSystem::Boot(const std::string& kernelFolder) {
    TReporter& r = reporter;
    r.ReportProgress(std::string("Welcome to Plimo System Ver ") + kVersionText);
    r.ReportProgress("A host for games written in the Plimo language");
    r.ReportProgress("Runs the kernel and project found beside the program");
    r.ReportProgress("");
    r.ReportProgress("Starting System..");
    r.ReportProgress("Loading Enviroment Values");
    resources.programFolder = ParentFolder(StripSlash(kernelFolder));
    resources.baseFolder = resources.programFolder;
    r.ReportProgress("Loading Modules..");
    r.ReportProgress("Loading Kernel Resources..");
    resources.root = resources.LoadResourceFile(ResolvePath("resource.plimores", kernelFolder));

    vm.objectClass = dynamic_cast<TRTTI*>(resources.Resolve(kernel::kObjectClass));
    vm.stringClass = dynamic_cast<TRTTI*>(resources.Resolve(kernel::kStringClass));
    vm.arrayClass = dynamic_cast<TRTTI*>(resources.Resolve(kernel::kArrayClass));
    resources.usrglobal =
        dynamic_cast<TResourceList*>(resources.root ? resources.root->FindChild("usrglobal") : nullptr);

    r.ReportProgress("Compiling Kernel Resources..");
    resources.root->Initialize();

    r.ReportProgress("Setting Native Interfaces..");
    BindAllNatives();
    r.ReportProgress("Ready");
}

void TPlimoSystem::BindAllNatives() {
    auto bind = [&](const char* path, std::span<const TNativeEntry> table) {
        if (TRTTI* cls = dynamic_cast<TRTTI*>(resources.Resolve(path))) BindNatives(*cls, table, reporter);
    };
    bind(kernel::kArrayClass, ArrayNatives());
    if (vm.arrayClass)
        vm.arrayBodySlot = vm.arrayClass->memberNames.Find(vm.symbols().SymbolOf(kernel::kArrayBody));
    bind(kernel::kObjectClass, ObjectNatives());
    bind(kernel::kStringClass, StringNatives());
    bind(kernel::kProcessClass, ProcessNatives());
}

std::string FindKernelFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        std::filesystem::path beside = exe.parent_path() / "kernel";
        if (std::filesystem::exists(beside / "resource.plimores", ec))
            return SystemPathFromOs(beside.string());
    }
    return SystemPathFromOs(PLIMO_SOURCE_KERNEL);
}

} // namespace plimo
