// `plimo --run FILE.plimo [MORE.plimo ...]`: boots the kernel headless, mounts the files as classes,
// and runs the first one's main code to its end.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/commands.h"
#include "classes/rtti.h"
#include "core/errors.h"
#include "core/interpreter.h"
#include "platform/files.h"
#include "platform/report.h"
#include "platform/text.h"
#include "resources/boot.h"
#include "resources/paths.h"

namespace plimo::app {

namespace {

// Exit statuses of the mode.
enum : int { kRan = 0, kDidNotCompile = 1, kRuntimeError = 2, kUsage = 64 };

void WriteStdout(std::string_view sjis) {
    std::string line = SjisToUtf8(sjis);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

} // namespace

int RunFiles(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs("usage: plimo --run FILE.plimo [MORE.plimo ...]\n", stderr);
        return kUsage;
    }
    // Line by line, so that what was printed is there even when the program is killed, and keeps its
    // order with the messages on standard error.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    THeadlessReporter reporter(stderr);
    TPlimoSystem system(reporter);
    system.runtime.printHook = WriteStdout;
    try {
        system.Boot(FindKernelFolder());
    } catch (const EInOutError&) {
        return kDidNotCompile; // the missing file has been reported
    } catch (const std::exception& e) {
        reporter.ReportMessage(e.what());
        return kDidNotCompile;
    }

    // The files become the classes of a list usr.classes, each named by its file's base name.
    auto usr = std::make_unique<TResourceList>(&system.resources);
    auto classes = std::make_unique<TResourceList>(&system.resources);
    classes->name = "classes";
    std::vector<TRTTI*> mounted;
    for (const std::string& file : args) {
        std::error_code ec;
        // Paths in the system are CP932 like every text of it: a class's path turns up in its messages.
        std::string path = SystemPathFromOs(std::filesystem::absolute(file, ec).lexically_normal().string());
        auto cls = std::make_unique<TRTTI>(BaseName(path), &system.resources);
        cls->src = path;
        mounted.push_back(cls.get());
        classes->AddChild(std::move(cls));
    }
    usr->AddChild(std::move(classes));
    TResource* mount = system.resources.AttachResource("usr", std::move(usr));
    try {
        if (mount) mount->Initialize();
    } catch (const EInOutError&) {
        return kDidNotCompile;
    } catch (const std::exception& e) {
        reporter.ReportMessage(e.what());
        return kDidNotCompile;
    }

    std::int32_t state;
    try {
        state = RunProcessToEnd(mounted.front()->NewInstance(), "");
    } catch (const std::exception& e) {
        reporter.ReportMessage(e.what());
        state = 2;
    }
    std::fflush(stdout);
    return state == 0 ? kRan : kRuntimeError;
}

} // namespace plimo::app
