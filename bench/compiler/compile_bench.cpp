// Lex + parse + generate over a large generated source, in lines per second.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "classes/rtti.h"
#include "compiler/compiler.h"
#include "core/vm.h"
#include "lang/front.h"
#include "platform/report.h"
#include "plimo_source.h"
#include "resources/resource_system.h"

namespace plimo::bench {
namespace {

void BM_CompileClasses(benchmark::State& state) {
    TVm vm;
    TCapturingReporter reporter;
    TResourceSystem resources(reporter);
    resources.root = std::make_unique<TResourceList>(&resources);
    TCompiler compiler(resources, reporter);

    auto base = std::make_unique<TRTTI>("Base", &resources);
    TRTTI& baseRef = *base;
    resources.root->AddChild(std::move(base));
    if (compiler.Compile(baseRef, kBaseClassSource, true)) {
        state.SkipWithError("base class did not compile");
        return;
    }

    const int classes = static_cast<int>(state.range(0));
    std::vector<std::string> sources;
    std::vector<TRTTI*> targets;
    long lines = 0;
    for (int i = 0; i < classes; ++i) {
        sources.push_back(MakeClassSource(i, 4));
        lines += CountLines(sources.back());
        auto cls = std::make_unique<TRTTI>("Actor" + std::to_string(i), &resources);
        targets.push_back(cls.get());
        resources.root->AddChild(std::move(cls));
    }

    for (auto _ : state) {
        for (int i = 0; i < classes; ++i) {
            targets[i]->Reset();
            if (compiler.Compile(*targets[i], sources[i], true)) {
                state.SkipWithError("a generated class did not compile");
                return;
            }
        }
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.counters["lines/s"] = benchmark::Counter(
        static_cast<double>(lines) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// 100 classes of about 110 lines: over 10,000 lines per iteration.
BENCHMARK(BM_CompileClasses)->Arg(100)->Unit(benchmark::kMillisecond);

// The same sources through lex and parse only, to see what generation adds.
void BM_ParseOnly(benchmark::State& state) {
    TVm vm;
    TCapturingReporter reporter;
    std::unique_ptr<TYup> yup = NewPlimoYup(reporter);
    std::vector<std::string> sources;
    long lines = 0;
    for (int i = 0; i < state.range(0); ++i) {
        sources.push_back(MakeClassSource(i, 4));
        lines += CountLines(sources.back());
    }
    for (auto _ : state)
        for (const std::string& s : sources) {
            TParsedSource parsed = ParsePlimoSource(*yup, s);
            if (!parsed.tree) {
                state.SkipWithError("a generated class did not parse");
                return;
            }
            benchmark::DoNotOptimize(parsed.tree.get());
        }
    state.counters["lines/s"] = benchmark::Counter(
        static_cast<double>(lines) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseOnly)->Arg(100)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace plimo::bench
