// plimo --dump-code FILE.plimo: compiles one class source and prints the code of every block it got.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "classes/rtti.h"
#include "compiler/compiler.h"
#include "compiler/listing.h"
#include "core/vm.h"
#include "platform/build_paths.h"
#include "platform/files.h"
#include "platform/report.h"
#include "platform/text.h"
#include "resources/paths.h"
#include "resources/resource_system.h"

namespace plimo::app {

namespace {

// classes.lang.Object from the kernel sources, so that a class that extends it compiles; without the
// kernel the tree stays empty and only classes without a parent compile.
void AddKernelObject(TResourceSystem& resources, TCompiler& compiler) {
    std::string source = FindExistingPath(std::string(PLIMO_SOURCE_KERNEL) + "/classes/lang/Object.plimo");
    if (source.empty()) return;
    auto classes = std::make_unique<TResourceList>(&resources);
    classes->name = "classes";
    auto lang = std::make_unique<TResourceList>(&resources);
    lang->name = "lang";
    auto object = std::make_unique<TRTTI>("Object", &resources);
    object->src = source;
    TRTTI& ref = *object;
    lang->AddChild(std::move(object));
    classes->AddChild(std::move(lang));
    resources.root->AddChild(std::move(classes));
    compiler.CompileClass(ref);
}

} // namespace

int RunDumpCode(const std::vector<std::string>& args) {
    bool noFuse = !args.empty() && args[0] == "--no-fuse";
    std::string file = args.size() == (noFuse ? 2u : 1u) ? args.back() : "";
    if (file.empty()) {
        std::fputs("usage: plimo --dump-code [--no-fuse] FILE.plimo\n", stderr);
        return 64;
    }
    std::string path = std::filesystem::absolute(NormalizeSeparators(file)).lexically_normal().string();

    TVm vm;
    THeadlessReporter reporter(stderr);
    TResourceSystem resources(reporter);
    resources.root = std::make_unique<TResourceList>(&resources);
    resources.programFolder = resources.baseFolder = FolderOf(path);
    TCompiler compiler(resources, reporter);
    AddKernelObject(resources, compiler);

    auto owned = std::make_unique<TRTTI>(BaseName(path), &resources);
    owned->src = path;
    TRTTI& cls = *owned;
    resources.root->AddChild(std::move(owned));
    compiler.options.fuse = !noFuse;
    compiler.CompileClass(cls);
    if (cls.failed) return 1;
    if (!cls.compiled) {
        std::fprintf(stderr, "plimo: %s was not compiled: its parent class is not compiled\n", file.c_str());
        return 1;
    }
    for (const std::string& line : ClassListing(cls)) std::printf("%s\n", SjisToUtf8(line).c_str());
    return 0;
}

} // namespace plimo::app
