// Helpers shared by the sound tests: a synthesiser open on a hand-moved device, code and WAV builders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "sound/offline_render.h"
#include "sound/synth.h"

namespace plimo::sound::testing {

inline TMusicCode Code(std::initializer_list<int> bytes) {
    auto v = std::make_shared<std::vector<std::uint8_t>>();
    for (int b : bytes) v->push_back(std::uint8_t(b));
    return v;
}

inline TMusicCode Code(std::vector<std::uint8_t> bytes) {
    return std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
}

struct OpenSynth {
    TManualWaveDevice* device;
    std::unique_ptr<TEnveloper> synth;

    OpenSynth() {
        auto d = std::make_unique<TManualWaveDevice>();
        device = d.get();
        synth = std::make_unique<TEnveloper>(std::move(d));
        synth->Open();
    }
    std::vector<std::uint8_t> Render(std::size_t n, int chunk = 882) {
        return RenderOffline(*synth, *device, n, chunk);
    }
};

// A WAV image: `frames` holds one value per channel per frame, as stored (unsigned for 8 bits).
inline std::vector<std::uint8_t> MakeWav(std::uint32_t rate, int bits, int channels,
                                         const std::vector<int>& values, bool withData = true) {
    std::vector<std::uint8_t> w;
    auto put = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) w.push_back(std::uint8_t(v >> (8 * i)));
    };
    auto text = [&](const char* s) {
        for (int i = 0; i < 4; ++i) w.push_back(std::uint8_t(s[i]));
    };
    const int bytes = bits / 8;
    text("RIFF");
    put(0, 4);
    text("WAVE");
    text("fmt ");
    put(16, 4);
    put(1, 2);
    put(channels, 2);
    put(rate, 4);
    put(rate * channels * bytes, 4);
    put(channels * bytes, 2);
    put(bits, 2);
    if (withData) {
        text("data");
        put(std::uint32_t(values.size() * bytes), 4);
        for (int v : values) put(std::uint32_t(v), bytes);
    }
    return w;
}

// A fresh folder under the system's temporary folder, removed with the object.
struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& name)
        : path(std::filesystem::temp_directory_path() /
               ("plimo_sound_" + name + "_" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        std::filesystem::path p = path / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p.string();
    }
};

} // namespace plimo::sound::testing
