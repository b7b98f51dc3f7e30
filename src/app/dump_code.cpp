// plimo --dump-code FILE.plimo [MORE.plimo ...]: compiles class sources and prints the code of every
// block they got.
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
    object->src = SystemPathFromOs(source);
    TRTTI& ref = *object;
    lang->AddChild(std::move(object));
    classes->AddChild(std::move(lang));
    resources.root->AddChild(std::move(classes));
    compiler.CompileClass(ref);
}

} // namespace

int RunDumpCode(const std::vector<std::string>& args) {
    bool noFuse = !args.empty() && args[0] == "--no-fuse";
    std::vector<std::string> files(args.begin() + (noFuse ? 1 : 0), args.end());
    if (files.empty()) {
        std::fputs("usage: plimo --dump-code [--no-fuse] FILE.plimo [MORE.plimo ...]\n", stderr);
        return 64;
    }

    TVm vm;
    THeadlessReporter reporter(stderr);
    TResourceSystem resources(reporter);
    resources.root = std::make_unique<TResourceList>(&resources);
    TCompiler compiler(resources, reporter);
    AddKernelObject(resources, compiler);

    // Every class is in the tree before any is compiled, so they may name each other in any order.
    std::vector<TRTTI*> classes;
    for (const std::string& file : files) {
        std::string path = SystemPathFromOs(
            std::filesystem::absolute(NormalizeSeparators(file)).lexically_normal().string());
        if (classes.empty()) resources.programFolder = resources.baseFolder = FolderOf(path);
        auto cls = std::make_unique<TRTTI>(BaseName(path), &resources);
        cls->src = path;
        classes.push_back(cls.get());
        resources.root->AddChild(std::move(cls));
    }
    compiler.options.fuse = !noFuse;
    // A class waits for its parent: passes go on while one of them makes progress.
    for (bool progress = true; progress;) {
        progress = false;
        for (TRTTI* cls : classes) {
            if (cls->compiled || cls->failed) continue;
            compiler.CompileClass(*cls);
            progress |= cls->compiled || cls->failed;
        }
    }
    int status = 0;
    for (TRTTI* cls : classes) {
        if (cls->failed) {
            status = 1;
            continue;
        }
        if (!cls->compiled) {
            std::fprintf(stderr, "plimo: %s was not compiled: its parent class is not compiled\n",
                         cls->src.c_str());
            status = 1;
            continue;
        }
        for (const std::string& line : ClassListing(*cls)) std::printf("%s\n", SjisToUtf8(line).c_str());
    }
    return status;
}

} // namespace plimo::app
