#include "sound/music_compiler.h"

#include <gtest/gtest.h>

#include "sound/sound_files.h"
#include "sound_test_util.h"

namespace plimo::sound {
namespace {

std::vector<std::uint8_t> Channel(const std::string& text, int ch = 0) {
    TCompiledMusic music;
    TMusicCompileError error;
    EXPECT_TRUE(CompileMusic(text, music, error)) << error.ToString();
    return music.channels[ch];
}

using Bytes = std::vector<std::uint8_t>;

TEST(MusicCompiler, CommandsBecomeTheirInstructions) {
    struct Case {
        const char* text;
        Bytes code;
    };
    const Case cases[] = {
        {"0: v200 @0 o4 c%11025", {100, 200, 102, 0, 36, 17, 43, 255}},
        {"0: c", {36, 0x11, 0x2B, 255}}, // default: octave 4, quarter note
        {"0: o1 c o8 b", {0, 0x11, 0x2B, 95, 0x11, 0x2B, 255}},
        {"0: c+2 d-8 e#1", {37, 0x22, 0x56, 37, 0x89, 0x15, 41, 0x44, 0xAC, 255}},
        {"0: l8 c c4. > c < c", {36, 0x89, 0x15, 36, 0x99, 0x40, 48, 0x89, 0x15, 36, 0x88, 0x15, 255}},
        {"0: r%100 n60,%7", {99, 100, 0, 60, 7, 0, 255}},
        {"0: t240 @e3 @s9 @d-10 @v1,2,-3 @o1 @100",
         {103, 240, 0, 107, 3, 101, 9, 110, 246, 115, 1, 2, 253, 116, 1, 102, 100, 255}},
        {"0: c%5 & c%5", {36, 5, 0, 105, 36, 5, 0, 255}},
        {"0: {c >c}%300", {106, 36, 48, 44, 1, 255}},
        {"0: [c%1]3", {36, 1, 0, 36, 1, 0, 36, 1, 0, 255}},
        {"0: [[c%1]2 d%1]2", {36, 1, 0, 36, 1, 0, 38, 1, 0, 36, 1, 0, 36, 1, 0, 38, 1, 0, 255}},
        {"0: c%1 $ d%2 !", {36, 1, 0, 38, 2, 0, 108, 104, 252, 255, 255, 255, 255}},
        {"0: @m\"intro\"", {109, 'i', 'n', 't', 'r', 'o', 0, 255}},
        // A length beyond 16 bits is split and tied; a rest is split into rests.
        {"0: c%70000 r%70000", {36, 0xFF, 0xFF, 105, 36, 0x71, 0x11, 99, 0xFF, 0xFF, 99, 0x71, 0x11, 255}},
    };
    for (const Case& c : cases) EXPECT_EQ(Channel(c.text), c.code) << c.text;
}

TEST(MusicCompiler, SixteenthsDoNotDrift) {
    // 2756.25 units each: the rounded lengths add up to a whole quarter after four of them.
    Bytes code = Channel("0: l16 c c c c d");
    int total = 0;
    for (int i = 0; i < 4; ++i) total += code[i * 3 + 1] | code[i * 3 + 2] << 8;
    EXPECT_EQ(total, 11025);
}

TEST(MusicCompiler, ChannelsLinesAndDirectives) {
    TCompiledMusic music;
    TMusicCompileError error;
    std::string tone = "#tone 5";
    for (int i = 0; i < 32; ++i) tone += " " + std::to_string(i * 8);
    const std::string text = "; a comment\n" + tone +
                             "\n#sample 96 drums\\kick.wav\n"
                             "3: c%1 ; the melody\n"
                             "7: r%2\n"
                             "3: d%1\n";
    ASSERT_TRUE(CompileMusic(text, music, error)) << error.ToString();
    // The table data goes first into the lowest channel used.
    Bytes expected = {113, 5};
    for (int i = 0; i < 32; ++i) expected.push_back(std::uint8_t(i * 8));
    for (char c : std::string("drums\\kick.wav")) expected.push_back(std::uint8_t(c));
    expected.insert(expected.begin() + 34, 117);
    expected.insert(expected.end(), {0, 96, 36, 1, 0, 38, 1, 0, 255});
    EXPECT_EQ(music.channels[3], expected);
    EXPECT_EQ(music.channels[7], (Bytes{99, 2, 0, 255}));
    EXPECT_TRUE(music.channels[0].empty());

    Bytes file = music.FileBytes();
    EXPECT_EQ(file[0] | file[1] << 8, kCompiledMusicVersion);
    EXPECT_EQ(file[4], 10);
}

TEST(MusicCompiler, ErrorsNameTheirPlace) {
    struct Case {
        const char* text;
        int line, column;
        const char* message; // a part of it
    };
    const Case cases[] = {
        {"0: c h", 1, 6, "unknown command 'h'"},
        {"\n0: o8 b+", 2, 7, "outside the 96 notes"},
        {"0: c [c d", 1, 6, "not closed"},
        {"0: c ]", 1, 6, "without '['"},
        {"0: c\n0:  $ v100", 2, 5, "has no length"},
        {"0: $ c $", 1, 8, "one loop point"},
        {"0: [ $ c ]", 1, 6, "inside a repeat"},
        {"0: v300", 1, 5, "0 ... 255"},
        {"0: @9 @200", 1, 8, "0 ... 111"},
        {"0: o9", 1, 5, "1 ... 8"},
        {"0: o8 >", 1, 7, "1 ... 8"},
        {"0: {c}4", 1, 6, "glide"},
        {"0: @v1,2", 1, 9, "@vRESTART,SPEED,DEPTH"},
        {"0: @m\"open", 1, 5, "not closed"},
        {"0: c0", 1, 5, "1 ... 44100"},
        {"0: {c >c}%70000", 1, 11, "at most 65535"},
        {"0: c4.........", 1, 14, "at most 8 dots"},
        {"0: [[[[[ ]1000]1000]1000]1000]1000", 1, 10, "too much music"},
        {"0: [[[c%70000]1000]1000]1000", 1, 9, "beyond 4 MB"},
        {"x: c", 1, 1, "channel number"},
        {"10: c", 1, 1, "channel number"},
        {"#tone 1 2 3", 1, 1, "32 values"},
        {"#envelope 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 16", 1, 1, "0 ... 15"},
        {"#sample 12 a.wav", 1, 1, "96 ... 111"},
        {"  #drums", 1, 3, "unknown directive"},
    };
    for (const Case& c : cases) {
        TCompiledMusic music;
        TMusicCompileError error;
        EXPECT_FALSE(CompileMusic(c.text, music, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_EQ(error.column, c.column) << c.text << ": " << error.message;
        EXPECT_NE(error.message.find(c.message), std::string::npos) << c.text << ": " << error.message;
    }
}

// Indexes of the first and last sample that differ from silence in [from, to).
std::pair<int, int> Sounding(const std::vector<std::uint8_t>& out, int from, int to) {
    int first = -1, last = -1;
    for (int i = from; i < to; ++i)
        if (out[i] != 128) {
            if (first < 0) first = i;
            last = i;
        }
    return {first, last};
}

TEST(MusicCompiler, CompiledPiecePlaysAsWritten) {
    struct Case {
        int tempo;
        int samplesPerQuarter; // 2 ticks per unit; tempo 120 is one tick per sample
    };
    for (Case c : {Case{120, 22050}, Case{240, 11025}}) {
        TCompiledMusic music;
        TMusicCompileError error;
        const std::string text = "0: t" + std::to_string(c.tempo) + " v200 @0 @s0 o4 l8 c r d r e4 r2\n";
        ASSERT_TRUE(CompileMusic(text, music, error)) << error.ToString();
        testing::TempDir dir("compiled");
        const std::string file = (dir.path / "piece.svo").string();
        {
            Bytes bytes = music.FileBytes();
            dir.Write("piece.svo", bytes);
        }
        TMusic loaded;
        ASSERT_EQ(loaded.LoadMusic(file), ssSuccess);
        testing::OpenSynth s;
        s.synth->StartChannel(0, loaded.Block(0));
        const int q = c.samplesPerQuarter;
        auto out = s.Render(std::size_t(4 * q));
        // Eighths start on the rounded unit (5512.5 -> 5513 units), each note sounds from the sample
        // after its instruction ran.
        const int eighth = (5513 * 2 * q) / 22050;
        EXPECT_EQ(Sounding(out, 0, q), std::make_pair(1, eighth)) << c.tempo;
        EXPECT_EQ(Sounding(out, q, 2 * q), std::make_pair(q + 1, q + eighth)) << c.tempo;
        EXPECT_EQ(Sounding(out, 2 * q, 4 * q), std::make_pair(2 * q + 1, 3 * q)) << c.tempo;
        EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csPlaying);      // in the final rest
        EXPECT_EQ(s.synth->Channel(0).step, TEnveloper::StepTable()[40]); // the last note was o4 e
    }
}

TEST(MusicCompiler, LoopPlaysForEver) {
    TCompiledMusic music;
    TMusicCompileError error;
    ASSERT_TRUE(CompileMusic("0: v100 c8 $ d16 e16\n1: c4 !\n2: r8 !", music, error)) << error.ToString();
    testing::OpenSynth s;
    for (int ch = 0; ch < 3; ++ch) s.synth->StartChannel(ch, std::make_shared<Bytes>(music.channels[ch]));
    s.Render(44100 * 3);
    EXPECT_EQ(s.synth->Channel(0).state, TEnveloper::csPlaying);
    // A sync point waits until no channel plays any more; the looping channel never stops.
    EXPECT_EQ(s.synth->Channel(1).state, TEnveloper::csWaiting);
    EXPECT_EQ(s.synth->Channel(2).state, TEnveloper::csWaiting);
}

// Odd note values multiply their denominators; late in a long channel the exact sums must not
// overflow and turn the lengths into nonsense.
TEST(MusicCompiler, OddNoteValuesLateInALongChannelKeepTheirLengths) {
    const Bytes code = Channel("0: c%100000 c379 c44089 c44087........");
    std::int64_t units = 0;
    for (std::size_t i = 0; i + 2 < code.size();) {
        if (code[i] == 105) {
            ++i;
            continue;
        }
        ASSERT_LE(code[i], 95) << i;
        units += code[i + 1] | code[i + 2] << 8;
        i += 3;
    }
    // 100000 + 116.36 + 1.0 + 1.996 units
    EXPECT_NEAR(double(units), 100119.4, 1.0);
}

} // namespace
} // namespace plimo::sound
