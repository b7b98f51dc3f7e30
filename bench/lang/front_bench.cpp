// Lexing and parsing speed of the Plimo front end on a large generated class.
#include <benchmark/benchmark.h>

#include <string>

#include "lang/front.h"
#include "platform/report.h"

namespace plimo {
namespace {

// One class of `functions` methods of about twenty lines each, in the style of kernel and game classes,
// followed by a short main code.
std::string GenerateClass(int functions) {
    std::string s = "extends classes.game.Char;\r\n"
                    "native _n_draw;\r\n"
                    "native _n_hit;\r\n";
    for (int i = 0; i < functions; ++i) {
        std::string n = std::to_string(i);
        s += "// step " + n +
             ": moves the character and counts what it touched\r\n"
             "function step" +
             n +
             "(a, b, list) {\r\n"
             "    var x, y, e;\r\n"
             "    var total;\r\n"
             "    x = a + b * 2 - (a % 3);\r\n"
             "    y = \"name \\\"" +
             n +
             "\\\" \" + x;\r\n"
             "    total = 0;\r\n"
             "    for (i = 0; i < 10; i++) {\r\n"
             "        list.add(i * 3 - 1, this.sprite.p);\r\n"
             "    }\r\n"
             "    /* every element: strings are printed, numbers summed */\r\n"
             "    for (e in list) {\r\n"
             "        if (e is classes.lang.String) print(e);\r\n"
             "        else total += e;\r\n"
             "    }\r\n"
             "    while (x > 0 && !done) {\r\n"
             "        x -= 1;\r\n"
             "        if (x == 5 || y != null) break;\r\n"
             "    }\r\n"
             "    this.sprite.setPos(x / 2, y, $score + 1.5);\r\n"
             "    step" +
             n +
             "Done = new classes.lang.Array(total, -x);\r\n"
             "    return total;\r\n"
             "}\r\n";
    }
    s += "count = 0;\r\nwhile (count < 10) count++;\r\n";
    return s;
}

long CountLines(const std::string& s) {
    long n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

void Report(benchmark::State& state, const std::string& text) {
    long lines = CountLines(text);
    state.counters["lines"] = static_cast<double>(lines);
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_LexAndParse(benchmark::State& state) {
    TCapturingReporter reporter;
    auto yup = NewPlimoYup(reporter);
    std::string text = GenerateClass(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TParsedSource p = ParsePlimoSource(*yup, text);
        if (!p.tree) state.SkipWithError("the generated class does not parse");
        benchmark::DoNotOptimize(p.tree);
    }
    Report(state, text);
}
BENCHMARK(BM_LexAndParse)->Arg(550)->Unit(benchmark::kMillisecond);

void BM_LexOnly(benchmark::State& state) {
    TCapturingReporter reporter;
    auto yup = NewPlimoYup(reporter);
    std::string text = GenerateClass(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(yup->Lex(text));
    Report(state, text);
}
BENCHMARK(BM_LexOnly)->Arg(550)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace plimo
