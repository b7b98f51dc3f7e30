#include "platform/build_paths.h"
#include "sound/sound_files.h"

#include <gtest/gtest.h>

#include "sound_test_util.h"

namespace plimo::sound {
namespace {

using testing::TempDir;

std::vector<std::uint8_t> MusicFile(std::int32_t version, int channels,
                                    const std::vector<std::vector<std::uint8_t>>& blocks) {
    std::vector<std::uint8_t> f;
    auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) f.push_back(std::uint8_t(v >> (8 * i)));
    };
    put(std::uint32_t(version));
    f.push_back(std::uint8_t(channels));
    for (const auto& b : blocks) {
        put(std::uint32_t(b.size()));
        f.insert(f.end(), b.begin(), b.end());
    }
    return f;
}

std::vector<std::vector<std::uint8_t>> TenBlocks(std::uint8_t marker) {
    std::vector<std::vector<std::uint8_t>> b(10);
    b[0] = {100, marker, 255};
    b[3] = {36, 1, 0, 255};
    return b;
}

TEST(LoadMusic, LoadsTenBlocks) {
    TempDir dir("music");
    TMusic music;
    int freed = 0;
    EXPECT_EQ(music.LoadMusic(dir.Write("a.svo", MusicFile(1150, 10, TenBlocks(7))), [&] { ++freed; }),
              ssSuccess);
    EXPECT_EQ(freed, 1);
    ASSERT_NE(music.Block(0), nullptr);
    EXPECT_EQ(*music.Block(0), (std::vector<std::uint8_t>{100, 7, 255}));
    EXPECT_EQ(music.Block(1), nullptr);
    EXPECT_EQ(music.Block(3)->size(), 4u);
}

TEST(LoadMusic, StatusCodes) {
    TempDir dir("music_status");
    TMusic music;
    EXPECT_EQ(music.LoadMusic((dir.path / "none.svo").string()), ssCannotOpen);
    EXPECT_EQ(music.LoadMusic(dir.path.string()), ssCannotOpen); // a folder is no file

    ASSERT_EQ(music.LoadMusic(dir.Write("old.svo", MusicFile(1000, 10, TenBlocks(1)))), ssSuccess);
    // Nine channels: damaged, and the loaded music stays.
    auto nine = TenBlocks(2);
    nine.pop_back();
    EXPECT_EQ(music.LoadMusic(dir.Write("nine.svo", MusicFile(1000, 9, nine))), ssDamaged);
    EXPECT_EQ((*music.Block(0))[1], 1);

    // A newer version is loaded all the same.
    EXPECT_EQ(music.LoadMusic(dir.Write("new.svo", MusicFile(1300, 10, TenBlocks(3)))), ssNewerVersion);
    EXPECT_EQ((*music.Block(0))[1], 3);

    // A block longer than the whole file: damaged, and nothing stays loaded.
    auto f = MusicFile(1000, 10, TenBlocks(4));
    f[5] = 0xFF;
    f[6] = 0xFF;
    EXPECT_EQ(music.LoadMusic(dir.Write("long.svo", f)), ssDamaged);
    EXPECT_TRUE(music.Empty());
}

TEST(LoadMusic, TruncatedFileRaisesAnIOError) {
    TempDir dir("music_cut");
    TMusic music;
    auto f = MusicFile(1000, 10, TenBlocks(5));
    f.resize(f.size() - 3); // channel 9's length is cut
    EXPECT_THROW(music.LoadMusic(dir.Write("cut.svo", f)), ESoundIOError);
    EXPECT_TRUE(music.Empty());
    auto g = MusicFile(1000, 10, TenBlocks(5));
    g.resize(10); // channel 0's block is cut
    EXPECT_THROW(music.LoadMusic(dir.Write("cut2.svo", g)), ESoundIOError);
    EXPECT_THROW(music.LoadMusic(dir.Write("cut3.svo", {1, 2})), ESoundIOError);
}

TEST(LoadMusic, PlaysThroughTheSynthesiser) {
    TempDir dir("music_play");
    TMusic music;
    std::vector<std::vector<std::uint8_t>> blocks(10);
    blocks[2] = {102, 0, 100, 200, 36, 50, 0, 255};
    ASSERT_EQ(music.LoadMusic(dir.Write("p.svo", MusicFile(1150, 10, blocks))), ssSuccess);
    testing::OpenSynth s;
    for (int ch = 0; ch < 10; ++ch)
        if (music.Block(ch)) s.synth->StartChannel(ch, music.Block(ch));
    music.FreeMusic(); // the channels keep their code alive
    auto out = s.Render(300);
    int sounding = 0;
    for (auto b : out) sounding += b != 128;
    EXPECT_EQ(sounding, 100);
}

TEST(LoadTones, CopiesBothTables) {
    TempDir dir("tones");
    std::vector<std::uint8_t> f(3584);
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = std::uint8_t(i * 7);
    f[3072] = 200; // envelope levels are not limited when loaded
    testing::OpenSynth s;
    LoadTones(*s.synth, dir.Write("tones.wdt", f));
    EXPECT_EQ(s.synth->Tones()[100], std::uint8_t(700));
    EXPECT_EQ(s.synth->Envelopes()[0], 200);
    EXPECT_EQ(s.synth->Envelopes()[511], f[3583]);

    f.resize(3583);
    EXPECT_THROW(LoadTones(*s.synth, dir.Write("short.wdt", f)), ESoundIOError);
    EXPECT_THROW(LoadTones(*s.synth, (dir.path / "none.wdt").string()), ESoundIOError);
}

TEST(LoadTones, KernelToneTableIsComplete) {
    testing::OpenSynth s;
    LoadTones(*s.synth, std::string(PLIMO_SOURCE_KERNEL) + "/tones.wdt");
    EXPECT_EQ(s.synth->Tones()[0], 176); // tone 0: a square around 128
    EXPECT_EQ(s.synth->Tones()[16], 80);
    for (int j = 0; j < 32; ++j) {
        EXPECT_EQ(s.synth->Envelopes()[j], (31 - j) / 2); // envelope 0: the built-in decay
        EXPECT_EQ(s.synth->Envelopes()[32 + j], 15);      // envelope 1: held
    }
    for (std::uint8_t level : s.synth->Envelopes()) EXPECT_LE(level, 15);
}

TEST(SampleInstrument, PlaysOnceFromItsFolderAndHoldsSilence) {
    TempDir dir("samples");
    std::vector<int> ramp(1000); // padded to 1024 with silence
    for (int i = 0; i < 1000; ++i) ramp[i] = 128 + i / 8;
    std::filesystem::create_directories(dir.path / "Snd");
    testing::TempDir program("samples_program");
    program.Write("Kick.WAV", testing::MakeWav(44100, 8, 1, ramp));
    testing::OpenSynth s;
    s.synth->SetFolders(dir.path.string(), program.path.string());
    // Found in the program folder, ignoring case, with "\" as separator in the base folder first.
    s.synth->LoadSampleInstrument("kick.wav", 96);
    const TWavLoader* sample = s.synth->SampleInstrument(96);
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->bits, 10);

    // Volume 255, envelope held at 15: output rises with the ramp, then stays at silence.
    s.synth->StartChannel(0, testing::Code({101, 0, 100, 255, 102, 96, 36, 0x10, 0x27, 255}));
    auto out = s.Render(3000);
    EXPECT_TRUE(s.synth->Channel(0).oneShot);
    EXPECT_TRUE(std::is_sorted(out.begin() + 1, out.begin() + 1000));
    EXPECT_GT(out[990], 200);
    for (int i = 1010; i < 3000; ++i) ASSERT_EQ(out[i], 128) << i;

    // A missing file leaves the instrument; a bad one leaves the old sample in place.
    s.synth->LoadSampleInstrument("none.wav", 96);
    EXPECT_EQ(s.synth->SampleInstrument(96), sample);
    program.Write("bad.wav", {1, 2, 3});
    s.synth->LoadSampleInstrument("bad.wav", 96);
    EXPECT_EQ(s.synth->SampleInstrument(96), sample);
    EXPECT_EQ(s.synth->Channel(0).instrument, 0); // released before the load was tried

    dir.Write("Snd/hat.wav", testing::MakeWav(22050, 8, 1, {200, 100}));
    s.synth->LoadSampleInstrument("SND\\HAT.wav", 97);
    ASSERT_NE(s.synth->SampleInstrument(97), nullptr);
    EXPECT_EQ(s.synth->SampleInstrument(97)->Length(), 4u);
}

// A channel switched to an instrument that is not loaded keeps sounding the sample it had; replacing
// that sample must not leave the channel reading the freed one.
TEST(SampleInstrument, ReplacingASampleReleasesEveryChannelReadingIt) {
    testing::TempDir dir("samples_replace");
    dir.Write("a.wav", testing::MakeWav(44100, 8, 1, std::vector<int>(100, 200)));
    testing::OpenSynth s;
    s.synth->SetFolders(dir.path.string(), "");
    s.synth->LoadSampleInstrument("a.wav", 96);
    ASSERT_NE(s.synth->SampleInstrument(96), nullptr);
    s.synth->StartChannel(0, testing::Code({102, 96, 102, 97, 100, 200, 36, 0x10, 0x27, 255}));
    s.Render(10);
    ASSERT_EQ(s.synth->Channel(0).instrument, 97);
    ASSERT_EQ(s.synth->Channel(0).wave, s.synth->SampleInstrument(96)->Data());

    s.synth->LoadSampleInstrument("a.wav", 96);
    EXPECT_EQ(s.synth->Channel(0).wave, s.synth->Tones().data());
    s.Render(200);
}

} // namespace
} // namespace plimo::sound
