// Start-up of the headless system: reading, compiling and binding the kernel, and one empty class run
// the way `plimo --run` runs it.
#include <benchmark/benchmark.h>

#include "classes/rtti.h"
#include "core/interpreter.h"
#include "platform/report.h"
#include "resources/boot.h"

namespace plimo {
namespace {

void BM_BootKernel(benchmark::State& state) {
    std::string kernel = FindKernelFolder();
    for (auto _ : state) {
        TCapturingReporter reporter;
        TPlimoSystem system(reporter, std::size_t(1) << 28);
        system.Boot(kernel);
        benchmark::DoNotOptimize(system.vm.objectClass);
    }
}
BENCHMARK(BM_BootKernel)->Unit(benchmark::kMillisecond);

void BM_BootAndRunEmptyClass(benchmark::State& state) {
    std::string kernel = FindKernelFolder();
    for (auto _ : state) {
        TCapturingReporter reporter;
        TPlimoSystem system(reporter, std::size_t(1) << 28);
        system.Boot(kernel);
        auto cls = std::make_unique<TRTTI>("Empty", &system.resources);
        system.vm.classCompiler->Compile(*cls, "extends Object;\r\n", true);
        benchmark::DoNotOptimize(RunProcessToEnd(cls->NewInstance(), ""));
    }
}
BENCHMARK(BM_BootAndRunEmptyClass)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace plimo
