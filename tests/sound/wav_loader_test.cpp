#include "sound/wav_loader.h"

#include <gtest/gtest.h>

#include "sound/sound_files.h"
#include "sound_test_util.h"

namespace plimo::sound {
namespace {

using testing::MakeWav;

std::vector<std::uint8_t> Converted(const std::vector<std::uint8_t>& file) {
    TWavLoader w;
    EXPECT_TRUE(w.LoadFromBytes(file));
    return {w.Data(), w.Data() + w.Length()};
}

TEST(WavLoader, ConvertsTo8Bit44100) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
        std::vector<std::uint8_t> expected;
    };
    const Case cases[] = {
        {"8-bit 44100 kept", MakeWav(44100, 8, 1, {0, 128, 255}), {0, 128, 255}},
        {"22050 Hz doubled", MakeWav(22050, 8, 1, {10, 20, 30}), {10, 10, 20, 20, 30, 30}},
        {"11025 Hz four times", MakeWav(11025, 8, 1, {7}), {7, 7, 7, 7}},
        // v div 256 truncates toward zero, then 128 is added.
        {"16-bit",
         MakeWav(44100, 16, 1, {0, 0xFFFF, 32767, 0x8000, 0xFF00, 256}),
         {128, 128, 255, 0, 127, 129}},
        {"stereo keeps the first channel", MakeWav(44100, 16, 2, {256, 0x8000, 0xFF00, 32767}), {129, 127}},
        {"48000 Hz has factor 0", MakeWav(48000, 8, 1, {1, 2, 3}), {}},
        {"rate 0", MakeWav(0, 8, 1, {1, 2, 3}), {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Converted(c.file), c.expected) << c.what;
}

TEST(WavLoader, IgnoresTheDataChunkSizeAndAPartialFrame) {
    auto file = MakeWav(44100, 16, 1, {256, 512});
    file[file.size() - 5] = 0xFF; // the chunk size's last byte: huge
    file.push_back(0x11);         // half a frame
    EXPECT_EQ(Converted(file), (std::vector<std::uint8_t>{129, 130}));
}

TEST(WavLoader, BadFilesSetTheirFlags) {
    TWavLoader w;
    EXPECT_FALSE(w.Load("/nonexistent/plimo/sound.wav"));
    EXPECT_TRUE(w.openFailed);

    std::vector<std::uint8_t> junk = {'R', 'I', 'F', 'F', 1, 2, 3};
    EXPECT_FALSE(w.LoadFromBytes(junk));
    EXPECT_TRUE(w.noFormat);

    auto cut = MakeWav(44100, 8, 1, {}, false);
    cut.resize(cut.size() - 6); // the format words end early
    EXPECT_FALSE(w.LoadFromBytes(cut));
    EXPECT_TRUE(w.noFormat);

    EXPECT_FALSE(w.LoadFromBytes(MakeWav(44100, 8, 1, {}, false)));
    EXPECT_TRUE(w.noData);
    EXPECT_FALSE(w.noFormat);
    EXPECT_EQ(w.Length(), 0u);
    EXPECT_TRUE(w.IsBad());

    auto headerOnly = MakeWav(44100, 8, 1, {}, false);
    headerOnly.insert(headerOnly.end(), {'d', 'a', 't', 'a'}); // no size, no samples
    EXPECT_TRUE(w.LoadFromBytes(headerOnly));
    EXPECT_EQ(w.Length(), 0u);

    auto noAlign = MakeWav(44100, 8, 1, {5, 6});
    noAlign[32] = 0; // block alignment 0 must not divide by zero
    EXPECT_EQ(Converted(noAlign), (std::vector<std::uint8_t>{5, 6}));
}

TEST(WavLoader, EveryCutOffPrefixIsSafe) {
    const auto file = MakeWav(22050, 16, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    for (std::size_t n = 0; n <= file.size(); ++n) {
        TWavLoader w;
        w.LoadFromBytes(std::span(file.data(), n));
        // Whole frames only: four bytes each, doubled for 22050 Hz.
        const std::size_t data = n > 44 ? n - 44 : 0;
        EXPECT_EQ(w.Length(), data / 4 * 2) << n;
    }
}

TEST(WavLoader, MakePaddedRoundsUpAndSilencesTheEnd) {
    struct Case {
        std::size_t length;
        std::size_t padded;
        int bits;
    };
    const Case cases[] = {{0, 1, 0}, {1, 1, 0}, {2, 2, 1}, {3, 4, 2}, {1024, 1024, 10}, {1025, 2048, 11}};
    for (const Case& c : cases) {
        std::vector<int> values(c.length, 200);
        TWavLoader loaded, padded;
        loaded.LoadFromBytes(MakeWav(44100, 8, 1, values));
        padded.MakePadded(loaded);
        ASSERT_EQ(padded.Length(), c.padded) << c.length;
        EXPECT_EQ(padded.paddedLength, c.padded);
        EXPECT_EQ(padded.bits, c.bits);
        for (std::size_t i = 0; i < c.padded; ++i)
            EXPECT_EQ(padded.Data()[i], i + 1 < c.length ? 200 : 128) << c.length << " at " << i;
    }
}

TEST(LoadWave, ReportsItsStatus) {
    testing::TempDir dir("wave");
    TSoundStatus status = ssSuccess;
    EXPECT_EQ(LoadWave((dir.path / "missing.wav").string(), status), nullptr);
    EXPECT_EQ(status, ssCannotOpen);
    EXPECT_EQ(LoadWave(dir.path.string(), status), nullptr); // a folder is no file
    EXPECT_EQ(status, ssCannotOpen);
    EXPECT_EQ(LoadWave(dir.Write("junk.wav", {1, 2, 3}), status), nullptr);
    EXPECT_EQ(status, ssNoFormat);
    auto empty = LoadWave(dir.Write("nodata.wav", MakeWav(44100, 8, 1, {}, false)), status);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(status, ssSuccess);
    EXPECT_EQ(empty->Length(), 0u);

    // Playing the empty one must not touch its (absent) bytes.
    testing::OpenSynth s;
    s.synth->PlayEffect(0, empty->Data(), 128, int(empty->Length()));
    auto out = s.Render(3000);
    EXPECT_EQ(std::count(out.begin(), out.end(), 128), 3000);
}

} // namespace
} // namespace plimo::sound
