// Reading a resource file of 20,000 elements: the scanner alone, and scanning plus building resources.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/report.h"
#include "resources/resource_system.h"
#include "resources/sgml.h"

namespace {

// 400 lists of 49 children each (globals, parameters, classes) plus the lists and the root: 20,001.
const std::string& resourceText() {
    static const std::string text = [] {
        std::string t = "<resourcelist name=\"kernel\">\r\n";
        int n = 0;
        for (int list = 0; list < 400; ++list) {
            t += " <resourcelist name=\"list" + std::to_string(list) + "\">\r\n";
            for (int i = 0; i < 49; ++i, ++n) {
                std::string id = std::to_string(n);
                switch (i % 3) {
                case 0:
                    t += "  <globalvalue name=\"$g" + id + "\" value=\"" + id + "\"/>\r\n";
                    break;
                case 1:
                    t += "  <param name=\"p" + id + "\" value=\"text with %25 and %22quotes%22 " + id +
                         "\"/>\r\n";
                    break;
                default:
                    t += "  <class name=\"C" + id + "\" src=\"classes/game/C" + id + ".plimo\"/>\r\n";
                }
            }
            t += " </resourcelist>\r\n";
        }
        t += "</resourcelist>\r\n";
        return t;
    }();
    return text;
}

void BM_Scan(benchmark::State& state) {
    const std::string& text = resourceText();
    for (auto _ : state) {
        std::size_t pos = 0;
        auto root = plimo::TSGML::Scan(text, pos);
        benchmark::DoNotOptimize(root.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond);

void BM_ParseResourceText(benchmark::State& state) {
    const std::string& text = resourceText();
    plimo::TCapturingReporter reporter;
    plimo::TResourceSystem system(reporter);
    system.baseFolder = "/game";
    for (auto _ : state) {
        auto root = system.ParseResourceText(text);
        benchmark::DoNotOptimize(root.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseResourceText)->Unit(benchmark::kMillisecond);

} // namespace
