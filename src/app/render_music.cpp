// plimo --render-music FILE.svo --seconds N --out OUT.wav: plays music into a WAV file instead of the
// sound card, with the kernel's tone table.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "platform/build_paths.h"
#include "sound/offline_render.h"
#include "sound/sound_files.h"
#include "sound/synth.h"

namespace plimo::app {

namespace {

namespace fs = std::filesystem;
using namespace plimo::sound;

const char* kRenderUsage =
    "usage: plimo --render-music FILE.svo --seconds N --out OUT.wav [--tones TONES.wdt] [--seed N]\n";

std::string ProgramFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

// The tone table start-up would load: the kernel folder beside the program, else the source tree's.
std::string KernelTones(const std::string& programFolder) {
    std::error_code ec;
    for (const fs::path& kernel : {fs::path(programFolder) / "kernel", fs::path(PLIMO_SOURCE_KERNEL)})
        if (fs::is_regular_file(kernel / "tones.wdt", ec)) return (kernel / "tones.wdt").string();
    return {};
}

} // namespace

int RunRenderMusic(const std::vector<std::string>& args) {
    std::string in, out, tones;
    double seconds = -1;
    unsigned long seed = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--seconds" && hasValue) {
            char* end = nullptr;
            seconds = std::strtod(args[++i].c_str(), &end);
            if (*end != '\0' || !(seconds >= 0 && seconds <= 24 * 3600)) seconds = -1;
        } else if (a == "--out" && hasValue) {
            out = args[++i];
        } else if (a == "--tones" && hasValue) {
            tones = args[++i];
        } else if (a == "--seed" && hasValue) {
            seed = std::strtoul(args[++i].c_str(), nullptr, 10);
        } else if (in.empty() && !a.empty() && a[0] != '-') {
            in = a;
        } else {
            std::fputs(kRenderUsage, stderr);
            return 64;
        }
    }
    if (in.empty() || out.empty() || seconds < 0) {
        std::fputs(kRenderUsage, stderr);
        return 64;
    }

    auto device = std::make_unique<TManualWaveDevice>();
    TManualWaveDevice& dev = *device;
    TEnveloper synth(std::move(device));
    const std::string program = ProgramFolder();
    synth.SeedNoise(std::uint32_t(seed));
    synth.SetFolders(fs::path(in).parent_path().string(), program);

    if (tones.empty()) tones = KernelTones(program);
    if (!tones.empty()) {
        try {
            LoadTones(synth, tones);
        } catch (const ESoundIOError& e) {
            std::fprintf(stderr, "plimo: %s\n", e.what());
            return 1;
        }
    } else {
        std::fputs("plimo: no tones.wdt found, playing the built-in square tones\n", stderr);
    }

    TMusic music;
    TSoundStatus status;
    try {
        status = music.LoadMusic(in);
    } catch (const ESoundIOError& e) {
        std::fprintf(stderr, "plimo: the music file is cut short: %s\n", e.what());
        return 1;
    }
    if (status == ssCannotOpen) {
        std::fprintf(stderr, "plimo: cannot open %s\n", in.c_str());
        return 1;
    }
    if (status == ssDamaged) {
        std::fprintf(stderr, "plimo: %s is damaged (status 3)\n", in.c_str());
        return 1;
    }
    if (status == ssNewerVersion)
        std::fprintf(stderr, "plimo: %s is of a newer version (status 5); playing it all the same\n",
                     in.c_str());

    synth.SetBufferSize(20000);
    synth.Open();
    for (int ch = 0; ch < TEnveloper::kChannels; ++ch)
        if (music.Block(ch)) synth.StartChannel(ch, music.Block(ch));
    const auto samples = std::size_t(seconds * TSoundGenerator::kSampleRate + 0.5);
    std::vector<std::uint8_t> pcm = RenderOffline(synth, dev, samples);
    if (!WriteWav8(out, pcm)) {
        std::fprintf(stderr, "plimo: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

} // namespace plimo::app
