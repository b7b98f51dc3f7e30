// Rendering speed of the synthesiser: a minute of ten-channel music with nine sound effects on top.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "sound/music_compiler.h"
#include "sound/offline_render.h"
#include "sound/synth.h"

namespace {

using namespace plimo::sound;

// Every channel busy the whole time, with the features that cost the most per sample.
const char* kPiece = R"(
0: t150 v160 @6 @e4 o4 l16 $ c e g > c < g e c e d f a > d < a f d f
1: v120 @4 @e1 @v1,3,20 o3 l8 $ c g e g d a f a
2: v120 @5 @e6 @d5 o5 l32 $ [c d e f g a b > c <]2 [b a g f e d c < b >]2
3: v100 @95 @e3 @s20 l16 $ [r c]4 [c c r c]2
4: v110 @1 @e2 o2 l4 $ c c g g a a g r
5: v90 @8 @e5 o4 l1 $ {c e} {e g}
6: v90 @9 @e9 o5 l2 $ e g a g
7: v90 @14 @e7 o6 l8 $ c r e r g r > c r <
8: v80 @2 @e0 o3 l8. $ c d e f
9: v80 @12 @e11 o4 l4 $ c & c e & e g & g
)";

void BM_RenderMinuteTenChannelsNineEffects(benchmark::State& state) {
    TCompiledMusic music;
    TMusicCompileError error;
    if (!CompileMusic(kPiece, music, error)) {
        state.SkipWithError(error.ToString().c_str());
        return;
    }
    const std::size_t samples = 60 * TSoundGenerator::kSampleRate;
    std::vector<std::vector<std::uint8_t>> effects(9);
    for (int i = 0; i < 9; ++i) {
        effects[i].resize(samples + 44100);
        for (std::size_t k = 0; k < effects[i].size(); ++k)
            effects[i][k] = std::uint8_t(128 + ((k * (i + 3)) % 64) - 32);
    }
    for (auto _ : state) {
        auto d = std::make_unique<TManualWaveDevice>();
        TManualWaveDevice& device = *d;
        TEnveloper synth(std::move(d));
        synth.SetBufferSize(20000);
        synth.Open();
        for (int ch = 0; ch < 10; ++ch)
            synth.StartChannel(ch, std::make_shared<std::vector<std::uint8_t>>(music.channels[ch]));
        for (auto& e : effects) synth.PlayEffect(0, e.data(), 40, int(e.size()));
        auto out = RenderOffline(synth, device, samples);
        benchmark::DoNotOptimize(out.data());
        for (int slot = 1; slot < 10; ++slot)
            if (synth.EffectSlot(slot).remaining == 0) state.SkipWithError("an effect ran out early");
    }
    // Seconds of sound per second of rendering.
    state.counters["x_realtime"] =
        benchmark::Counter(60.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderMinuteTenChannelsNineEffects)->Unit(benchmark::kMillisecond);

} // namespace
