#include "sound/synth.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

#include "sound_test_util.h"

namespace plimo::sound {
namespace {

using testing::Code;
using testing::OpenSynth;

// Indexes of the samples that differ from silence.
std::pair<int, int> SoundingRange(const std::vector<std::uint8_t>& out) {
    int first = -1, last = -1;
    for (int i = 0; i < int(out.size()); ++i) {
        if (out[i] != 128) {
            if (first < 0) first = i;
            last = i;
        }
    }
    return {first, last};
}

int MaxDeviation(const std::vector<std::uint8_t>& out, int from, int to) {
    int m = 0;
    for (int i = from; i < to; ++i) m = std::max(m, std::abs(out[i] - 128));
    return m;
}

TEST(SynthTables, MatchTheirDefinitions) {
    EXPECT_EQ(TEnveloper::PeriodTable()[0], 3421);
    EXPECT_EQ(TEnveloper::PeriodTable()[95], 14);
    // 7330908160 / 428 * 65536 / 44100 = 25453959.6...
    EXPECT_EQ(TEnveloper::StepTable()[36], 25453959);
    EXPECT_EQ(TEnveloper::SineTable()[0], 0);
    EXPECT_EQ(TEnveloper::SineTable()[512], 126); // trunc(0.99999... * 127)
    EXPECT_EQ(TEnveloper::SineTable()[1536], -126);

    OpenSynth s;
    EXPECT_EQ(s.synth->Tones()[0], 103);
    EXPECT_EQ(s.synth->Tones()[16], 153);
    EXPECT_EQ(s.synth->Envelopes()[0], 15);
    EXPECT_EQ(s.synth->Envelopes()[2], 14);
    EXPECT_EQ(s.synth->Envelopes()[31], 0);
}

// 102 0 (tone 0), 100 200 (volume 200), 36 17 43 (note 36, length 11025), 255.
TEST(SynthNote, LastsHalfASecondAtTempo120AndFades) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({102, 0, 100, 200, 36, 17, 43, 255}));
    auto out = s.Render(30000);
    // The instructions run after the first sample is mixed, so the note sounds from sample 1 for
    // exactly 22050 samples (22050 ticks).
    EXPECT_EQ(SoundingRange(out), std::make_pair(1, 22050));
    EXPECT_EQ(out[1], 128 - 37); // tone 0 starts on its low half: (103 * 3000) / 2048 - 3000 / 16
    EXPECT_EQ(MaxDeviation(out, 1, 100), 37);
    EXPECT_LE(MaxDeviation(out, 21950, 22051), 5); // the default envelope has almost faded it
    EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csStopped);

    // About 261 Hz: count the rises from the low to the high half of the square wave in one second.
    int rises = 0;
    for (int i = 2; i < 22050; ++i) rises += out[i] > 128 && out[i - 1] < 128;
    EXPECT_NEAR(rises * 2, 261, 3);
}

TEST(SynthNote, LengthCountsTwoTicksPerUnit) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({36, 17, 43, 255}));
    s.Render(1);
    EXPECT_EQ(s.synth->Channel(0).nextEvent, 22050);
    EXPECT_EQ(s.synth->Tick(), 1);
}

TEST(SynthNote, Tempo240HalvesTheLength) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({103, 240, 0, 102, 0, 100, 200, 36, 17, 43, 255}));
    auto out = s.Render(30000);
    EXPECT_EQ(SoundingRange(out), std::make_pair(1, 11025));
    EXPECT_EQ(s.synth->Tempo(), 240);
}

TEST(SynthNote, OddTempoKeepsItsFractionAcrossFills) {
    OpenSynth s;
    // Tempo 60: one tick every second sample, however the samples are split into Fill calls.
    s.synth->StartChannel(0, Code({103, 60, 0, 100, 200, 36, 100, 0, 255}));
    auto out = s.Render(1000, 7);
    EXPECT_EQ(SoundingRange(out), std::make_pair(1, 400));
}

TEST(SynthChannel, SingleStopNeverSounds) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({255}));
    auto out = s.Render(2000);
    EXPECT_EQ(SoundingRange(out).first, -1);
    EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csStopped);
    EXPECT_EQ(s.synth->Channel(0).pc, 0u); // the code pointer stays on the 255
}

TEST(SynthChannel, TwoChannelsMeetAtSyncPoints) {
    OpenSynth s;
    // Channel 0: a note of 200 ticks, sync, a note on 48. Channel 1 (silent): a rest of 600 ticks, sync.
    s.synth->StartChannel(0, Code({102, 0, 100, 200, 36, 100, 0, 108, 48, 100, 0, 255}));
    s.synth->StartChannel(1, Code({99, 44, 1, 108, 99, 50, 0, 255}));
    auto first = s.Render(201);
    EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csWaiting);
    EXPECT_EQ(s.synth->Channel(1).state, TEnveloper::csPlaying);
    auto waiting = s.Render(400); // samples 201 ... 600
    EXPECT_EQ(SoundingRange(waiting).first, -1);
    // Channel 1 reached its sync point in sample 600: nobody plays any more, so both resume next tick.
    EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csPlaying);
    EXPECT_EQ(s.synth->Channel(1).state, TEnveloper::csPlaying);
    EXPECT_EQ(s.synth->Channel(0).nextEvent, 601);
    EXPECT_EQ(s.synth->Channel(1).nextEvent, 601);
    s.Render(1);
    EXPECT_EQ(s.synth->Channel(0).step, TEnveloper::StepTable()[48]);
    EXPECT_EQ(s.synth->Channel(0).nextEvent, 801);
}

TEST(SynthChannel, StoppingTheLastPlayerReleasesAWaitingChannel) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({108, 99, 10, 0, 255}));
    s.synth->StartChannel(1, Code({99, 100, 0, 255}));
    s.Render(300);
    EXPECT_EQ(s.synth->Channel(1).state, TEnveloper::csStopped);
    EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csStopped); // resumed at 201, played its rest, stopped
}

// Volume 255 at level 15 on a full-scale wave: +237 for bytes of 255, -239 for bytes of 0.
std::vector<std::uint8_t> FullScaleChannel(int byte) {
    std::vector<std::uint8_t> code = {113, 1};
    code.insert(code.end(), 32, std::uint8_t(byte));
    code.insert(code.end(), {101, 0, 102, 1, 100, 255, 36, 0xE8, 3, 255});
    return code;
}

TEST(SynthMix, LoudChannelsClipInsteadOfWrapping) {
    struct Case {
        std::vector<int> bytes; // one channel per entry
        int expected;
    };
    const Case cases[] = {
        {{255}, 255},    // 128 + 237
        {{0}, 0},        // 128 - 239
        {{255, 0}, 126}, // summed before the clamp
        {std::vector<int>(10, 255), 255},
        {std::vector<int>(10, 0), 0},
    };
    for (const Case& c : cases) {
        OpenSynth s;
        // Tone 1 is written by every channel with the same bytes, so give each its own tone.
        for (int ch = 0; ch < int(c.bytes.size()); ++ch) {
            auto code = FullScaleChannel(c.bytes[ch]);
            code[1] = code[37] = std::uint8_t(ch + 1);
            s.synth->StartChannel(ch, testing::Code(code));
        }
        auto out = s.Render(100);
        EXPECT_EQ(out[50], c.expected) << "channels: " << c.bytes.size();
    }
}

TEST(SynthChannel, RunawayJumpStopsTheChannel) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({104, 0, 0, 0, 0}));                   // jumps to itself
    s.synth->StartChannel(1, Code({36, 5, 0, 104, 253, 255, 255, 255})); // a loop with time in it
    s.Render(1000);
    EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csStopped);
    EXPECT_EQ(s.synth->Channel(1).state, TEnveloper::csPlaying);
}

TEST(SynthChannel, LoopDisabledSkipsJumps) {
    OpenSynth s;
    s.synth->SetLoopDisabled(true);
    s.synth->StartChannel(0, Code({36, 5, 0, 104, 253, 255, 255, 255, 100, 77, 255}));
    s.Render(100);
    EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csStopped);
    EXPECT_EQ(s.synth->Channel(0).volume, 77);
}

TEST(SynthChannel, InstructionsSetTheirFields) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({101, 9,   107, 3,   110, 0xF6, 115, 1, 2,   0xFD, 116, 1, 112, 109,
                                   'h', 'i', 0,   111, 'f', '.',  'w', 0, 105, 60,   10,  0, 255}));
    s.Render(10);
    const auto& c = s.synth->Channel(0);
    EXPECT_EQ(c.envSpeed, 9);
    EXPECT_EQ(c.envelope, 3);
    EXPECT_EQ(c.detune, -10);
    EXPECT_EQ(c.vibRestart, 1);
    EXPECT_EQ(c.vibSpeed, 2 << 16);
    EXPECT_EQ(c.vibDepth, -3);
    EXPECT_TRUE(c.oneShot);
    EXPECT_EQ(s.synth->MarkerText(), "hi");
    EXPECT_EQ(s.synth->FileNameText(), "f.w");
    // Detune: the division comes first for notes.
    const std::int32_t st = TEnveloper::StepTable()[60];
    EXPECT_EQ(c.step, -10 * (st / 2048) + st);
    EXPECT_FALSE(c.tie); // used by the note and cleared
}

TEST(SynthChannel, TieKeepsTheEnvelopeRunning) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({100, 100, 36, 50, 0, 105, 38, 50, 0, 40, 50, 0, 255}));
    s.Render(150);
    EXPECT_GT(s.synth->Channel(0).envPos, 5 * 70); // the tied note continued the fade
    s.Render(100);
    EXPECT_LT(s.synth->Channel(0).envPos, 5 * 60); // the untied one restarted it
}

TEST(SynthChannel, GlideMovesTheStepLinearly) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({100, 100, 106, 36, 48, 50, 0, 255}));
    s.Render(51); // samples 0 ... 50: glide starts at tick 0 over 100 ticks
    const auto& c = s.synth->Channel(0);
    const std::int32_t from = TEnveloper::StepTable()[36], to = TEnveloper::StepTable()[48];
    EXPECT_EQ(c.glideLen, 100);
    // Sample 50 ran with tick 50: half way.
    EXPECT_EQ(c.step, (to / 100) * 50 + (from / 100) * 50);
}

TEST(SynthChannel, VibratoBendsThePhase) {
    OpenSynth plain, vib;
    plain.synth->StartChannel(0, Code({100, 200, 101, 0, 48, 0, 4, 255}));
    vib.synth->StartChannel(0, Code({100, 200, 101, 0, 115, 1, 40, 100, 48, 0, 4, 255}));
    auto a = plain.Render(2000), b = vib.Render(2000);
    EXPECT_NE(a, b);
    EXPECT_NE(vib.synth->Channel(0).vibPhase, 0u);
}

// Numbers that name nothing must be ignored without reading past a table or the code.
TEST(SynthChannel, OutOfTableReferencesAreIgnored) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> code;
        std::uint8_t endState;
    };
    std::vector<std::uint8_t> tone200 = {113, 200};
    tone200.insert(tone200.end(), 32, 0);
    tone200.push_back(255);
    std::vector<std::uint8_t> env50 = {114, 50};
    env50.insert(env50.end(), 32, 0);
    env50.push_back(255);
    const Case cases[] = {
        {"instrument 200", {100, 200, 102, 200, 36, 10, 0, 255}, TEnveloper::csStopped},
        {"instrument 111 not loaded", {100, 200, 102, 111, 36, 10, 0, 255}, TEnveloper::csStopped},
        {"glide to 120", {100, 200, 106, 36, 120, 10, 0, 255}, TEnveloper::csStopped},
        {"glide from 99", {100, 200, 106, 99, 36, 10, 0, 255}, TEnveloper::csStopped},
        {"envelope 99", {100, 200, 107, 99, 36, 10, 0, 255}, TEnveloper::csStopped},
        {"tone 200", tone200, TEnveloper::csStopped},
        {"envelope 50", env50, TEnveloper::csStopped},
        {"sample 5", {117, 'x', 0, 5, 255}, TEnveloper::csStopped},
        {"note cut off", {100, 200, 36, 10}, TEnveloper::csStopped},
        {"rest cut off", {99}, TEnveloper::csStopped},
        {"text unterminated", {109, 'a', 'b'}, TEnveloper::csStopped},
        {"sample name unterminated", {117, 'a'}, TEnveloper::csStopped},
        {"sample number missing", {117, 'a', 0}, TEnveloper::csStopped},
        {"tone cut off", {113, 3, 1, 2, 3}, TEnveloper::csStopped},
        {"jump before the block", {36, 5, 0, 104, 0, 0, 0, 0x80}, TEnveloper::csStopped},
        {"jump past the block", {36, 5, 0, 104, 100, 0, 0, 0}, TEnveloper::csStopped},
        {"jump cut off", {104, 1, 0}, TEnveloper::csStopped},
        {"runs off the end", {36, 5, 0}, TEnveloper::csStopped},
        {"unknown opcode", {97, 36, 5, 0}, TEnveloper::csStopped},
    };
    for (const Case& c : cases) {
        OpenSynth s;
        s.synth->StartChannel(0, Code(c.code));
        s.Render(200);
        EXPECT_EQ(s.synth->Channel(0).state, c.endState) << c.what;
        EXPECT_LE(s.synth->Channel(0).pc, c.code.size()) << c.what;
    }
}

TEST(SynthChannel, RandomCodeNeverRunsAway) {
    // Random blocks (with the opcodes that take operands made common) must play or stop, never hang
    // or read outside their block; sanitizer builds check the reads.
    TNoiseRandom random(12345);
    for (int round = 0; round < 200; ++round) {
        OpenSynth s;
        for (int ch = 0; ch < 10; ++ch) {
            std::vector<std::uint8_t> code(1 + random.Next(40));
            for (auto& b : code) b = std::uint8_t(random.Next(2) ? 96 + random.Next(24) : random.Next(256));
            s.synth->StartChannel(ch, Code(code));
        }
        s.Render(3000, 441);
        for (int ch = 0; ch < 10; ++ch) EXPECT_LE(s.synth->Channel(ch).pc, 40u);
    }
}

// Mixing channel by channel over stretches without instructions must give exactly what the
// one-sample path gives: random code, noise, glides, vibrato, ties, syncs and effects together.
TEST(SynthMix, StretchesMatchSampleBySampleRendering) {
    auto piece = [](TNoiseRandom& random, int ch) {
        std::vector<std::uint8_t> code = {100, std::uint8_t(60 + 20 * ch), 102,
                                          std::uint8_t(ch == 3 ? 95 : ch)};
        const int events = 5 + int(random.Next(30));
        for (int i = 0; i < events; ++i) {
            const int len = 1 + int(random.Next(600));
            switch (random.Next(8)) {
            case 0:
                code.insert(code.end(), {106, std::uint8_t(random.Next(96)), std::uint8_t(random.Next(96)),
                                         std::uint8_t(len), std::uint8_t(len >> 8)});
                break;
            case 1:
                code.insert(code.end(), {115, std::uint8_t(random.Next(2)), std::uint8_t(random.Next(60)),
                                         std::uint8_t(random.Next(256))});
                break;
            case 2:
                code.insert(code.end(), {99, std::uint8_t(len), std::uint8_t(len >> 8)});
                break;
            case 3:
                code.insert(code.end(), {105, 101, std::uint8_t(random.Next(40))});
                break;
            case 4:
                code.insert(code.end(), {108, 110, std::uint8_t(random.Next(256))});
                break;
            case 5:
                code.insert(code.end(), {103, std::uint8_t(60 + random.Next(200)), 0});
                break;
            default:
                code.insert(code.end(),
                            {std::uint8_t(random.Next(96)), std::uint8_t(len), std::uint8_t(len >> 8)});
                break;
            }
        }
        if (random.Next(2)) code.insert(code.end(), {104, 252, 255, 255, 255}); // loop the last event
        code.push_back(255);
        return code;
    };
    TNoiseRandom random(99);
    std::vector<std::uint8_t> effect(9000);
    for (std::size_t i = 0; i < effect.size(); ++i) effect[i] = std::uint8_t(i * 37);
    for (int round = 0; round < 30; ++round) {
        std::vector<std::vector<std::uint8_t>> codes;
        const int channels = 1 + int(random.Next(10));
        for (int ch = 0; ch < channels; ++ch) codes.push_back(piece(random, ch));
        const int chunk = 1 + int(random.Next(2000));
        std::vector<std::uint8_t> outputs[2];
        for (int reference = 0; reference < 2; ++reference) {
            OpenSynth s;
            s.synth->SetReferenceRendering(reference == 1);
            for (int ch = 0; ch < channels; ++ch) s.synth->StartChannel(ch, Code(codes[ch]));
            outputs[reference] = s.Render(3000, chunk);
            s.synth->PlayEffect(0, effect.data(), 90, int(effect.size()));
            auto more = s.Render(20000, chunk);
            outputs[reference].insert(outputs[reference].end(), more.begin(), more.end());
            for (int ch = 0; ch < 10; ++ch) {
                const auto& c = s.synth->Channel(ch);
                outputs[reference].insert(
                    outputs[reference].end(),
                    {c.state, std::uint8_t(c.phase), std::uint8_t(c.envPos), std::uint8_t(c.nextEvent)});
            }
        }
        ASSERT_EQ(outputs[0], outputs[1]) << "round " << round;
    }
}

TEST(SynthChannel, InstrumentAbove111LeavesTheChannelAlone) {
    OpenSynth s;
    s.synth->StartChannel(0, Code({102, 7, 102, 150, 255}));
    s.Render(5);
    EXPECT_EQ(s.synth->Channel(0).instrument, 7);
    EXPECT_EQ(s.synth->Channel(0).wave, s.synth->Tones().data() + 7 * 32);
}

TEST(SynthNoise, IsReproducibleFromItsSeed) {
    auto render = [](std::uint32_t seed) {
        OpenSynth s;
        s.synth->SeedNoise(seed);
        s.synth->StartChannel(0, Code({102, 95, 100, 200, 36, 0x10, 0x27, 255}));
        return s.Render(5000);
    };
    auto a = render(7), b = render(7), c = render(8);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    OpenSynth s;
    s.Render(100);
    for (int j = 0; j < 32; ++j) {
        EXPECT_GE(s.synth->Tones()[95 * 32 + j], 90);
        EXPECT_LE(s.synth->Tones()[95 * 32 + j], 167);
    }
}

TEST(SynthDevice, FillRendersWhatThePositionPassed) {
    OpenSynth s;
    EXPECT_EQ(s.synth->RingSize(), TSoundGenerator::kDefaultRingSize);
    EXPECT_EQ(s.synth->Fill(), 1); // first call after Open: one sample behind the play position
    s.device->Advance(500);
    EXPECT_EQ(s.synth->Fill(), 500);
    EXPECT_EQ(s.synth->Fill(), 0);
    s.device->Advance(22000); // wraps around the ring
    EXPECT_EQ(s.synth->Fill(), 22000);
    EXPECT_EQ(s.synth->LastPlayPos(), 22500 % 22050);
}

TEST(SynthDevice, BufferSizeRangeAndReopen) {
    TEnveloper synth(std::make_unique<TManualWaveDevice>());
    synth.SetBufferSize(255);
    synth.SetBufferSize(60000);
    EXPECT_EQ(synth.BufferSize(), 22050);
    synth.SetBufferSize(20000);
    EXPECT_EQ(synth.RingSize(), 22050); // taken when the device opens
    synth.Open();
    EXPECT_EQ(synth.RingSize(), 20000);
    synth.Close();
    EXPECT_FALSE(synth.Opened());
    EXPECT_EQ(synth.Fill(), 0);
}

TEST(SynthDevice, OpenFailureIsReportedAndFillDoesNothing) {
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {{MMSYSERR_ALLOCATED, "MMSYSERR_ALLOCATED"},
                          {WAVERR_BADFORMAT, "WAVERR_BADFORMAT"},
                          {77, "MMSYSTEM77"}};
    for (const Case& c : cases) {
        TEnveloper synth(std::make_unique<TManualWaveDevice>(c.code));
        synth.Open();
        EXPECT_TRUE(synth.DeviceError());
        EXPECT_FALSE(synth.Opened());
        EXPECT_EQ(synth.ErrorText(), c.text);
        EXPECT_EQ(synth.Fill(), 0);
    }
    TEnveloper none(nullptr);
    none.Open();
    EXPECT_EQ(none.ErrorText(), "MMSYSERR_NODRIVER");
}

TEST(SynthEffects, AllNineSlotsBusyReplacesSlotNine) {
    OpenSynth s;
    std::vector<std::uint8_t> waves[10];
    for (int i = 0; i < 10; ++i) {
        waves[i].assign(50000, std::uint8_t(130 + i));
        s.synth->PlayEffect(0, waves[i].data(), 100, int(waves[i].size()));
    }
    EXPECT_EQ(s.synth->EffectSlot(0).remaining, 0); // never assigned
    for (int slot = 1; slot <= 8; ++slot) EXPECT_EQ(s.synth->EffectSlot(slot).volume, 100);
    // The tenth effect took slot 9 from the ninth; slot 9 started at waves[9], slots 1-8 at waves[0-7].
    const std::uint8_t* d = s.synth->EffectSlot(9).data;
    EXPECT_TRUE(d >= waves[9].data() && d < waves[9].data() + waves[9].size());
    for (int slot = 1; slot <= 8; ++slot) {
        const std::uint8_t* e = s.synth->EffectSlot(slot).data;
        EXPECT_TRUE(e >= waves[slot - 1].data() && e < waves[slot - 1].data() + waves[slot - 1].size());
    }
}

TEST(SynthEffects, PreMixStopsAtTheRenderedEnd) {
    OpenSynth s;
    s.Render(5001);         // the ring is rendered up to position 5000
    s.device->Advance(100); // played on without a Fill
    std::vector<std::uint8_t> shortOne(500, 228), longOne(30000, 138);
    s.synth->PlayEffect(0, shortOne.data(), 128, 500);
    // Mixed from the play position plus the 1000-sample delay.
    EXPECT_EQ(s.synth->Ring()[6099], 128);
    EXPECT_EQ(s.synth->Ring()[6100], 228);
    EXPECT_EQ(s.synth->Ring()[6599], 228);
    EXPECT_EQ(s.synth->Ring()[6600], 128);
    EXPECT_EQ(s.synth->EffectSlot(1).remaining, 0);
    // A long one runs round the ring up to where rendering stopped; Fill mixes the rest.
    s.synth->PlayEffect(0, longOne.data(), 128, 30000);
    const int mixed = (5000 - 6100 + 22050) % 22050;
    EXPECT_EQ(s.synth->EffectSlot(1).remaining, 30000 - mixed);
    auto out = s.Render(10);
    EXPECT_EQ(out[5], 138);
}

TEST(SynthEffects, EmptyEffectIsIgnored) {
    OpenSynth s;
    std::uint8_t byte = 200;
    s.synth->PlayEffect(0, &byte, 100, 0);
    s.synth->PlayEffect(0, nullptr, 100, 10);
    for (int slot = 0; slot < 10; ++slot) EXPECT_EQ(s.synth->EffectSlot(slot).remaining, 0);
}

TEST(SynthEffects, DropEffectsSilencesTheirSlots) {
    OpenSynth s;
    std::vector<std::uint8_t> a(30000, 200), b(30000, 60);
    s.synth->PlayEffect(0, a.data(), 100, 30000);
    s.synth->PlayEffect(0, b.data(), 100, 30000);
    s.synth->DropEffects(a.data(), a.size());
    EXPECT_EQ(s.synth->EffectSlot(1).remaining, 0);
    EXPECT_GT(s.synth->EffectSlot(2).remaining, 0);
}

// A script may pass any volume; a huge one clips like a loud one instead of wrapping round.
TEST(SynthEffects, HugeVolumesClipInsteadOfWrapping) {
    for (int volume : {2147483647, -2147483647 - 1}) {
        OpenSynth s;
        s.Render(5001);
        std::vector<std::uint8_t> loud(30000, 200);
        s.synth->PlayEffect(0, loud.data(), volume, 30000);
        EXPECT_EQ(s.synth->Ring()[6010], volume > 0 ? 255 : 0) << volume; // pre-mixed
        auto out = s.Render(3000);
        EXPECT_EQ(out[2500], volume > 0 ? 255 : 0) << volume; // mixed by Fill
    }
}

// After reopening with a smaller ring, where rendering stopped in the old ring means nothing: an effect
// played before the first Fill is mixed once round the new ring, not over itself again and again.
TEST(SynthEffects, ReopeningWithASmallerRingForgetsTheOldRenderedEnd) {
    OpenSynth s;
    s.Render(15001); // rendered up to position 15000 of the 22050-sample ring
    s.synth->Close();
    s.synth->SetBufferSize(2000);
    s.synth->Open();
    std::vector<std::uint8_t> wave(10000, 130);
    s.synth->PlayEffect(0, wave.data(), 128, 10000);
    EXPECT_GE(s.synth->EffectSlot(1).remaining, 10000 - 2000);
    for (int i = 0; i < 2000; ++i) ASSERT_LE(s.synth->Ring()[i], 130) << i;
}

} // namespace
} // namespace plimo::sound
