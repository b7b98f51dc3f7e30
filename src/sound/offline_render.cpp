#include "sound/offline_render.h"

#include <algorithm>
#include <fstream>

namespace plimo::sound {

std::vector<std::uint8_t> RenderOffline(TEnveloper& synth, TManualWaveDevice& device, std::size_t samples,
                                        int chunk) {
    std::vector<std::uint8_t> out;
    out.reserve(samples);
    const int size = synth.RingSize();
    chunk = std::clamp(chunk, 1, size - 1);
    auto take = [&](int n) {
        const std::uint8_t* ring = synth.Ring();
        const int pos = (synth.LastPlayPos() - n + size) % size;
        n = int(std::min<std::size_t>(std::size_t(n), samples - out.size()));
        const int first = std::min(n, size - pos);
        out.insert(out.end(), ring + pos, ring + pos + first);
        out.insert(out.end(), ring, ring + (n - first));
    };
    // Right after Open the first Fill renders the one sample behind the play position.
    take(synth.Fill());
    while (out.size() < samples && synth.Opened()) {
        device.Advance(std::uint64_t(std::min<std::size_t>(std::size_t(chunk), samples - out.size())));
        take(synth.Fill());
    }
    return out;
}

bool WriteWav8(const std::string& file, std::span<const std::uint8_t> samples) {
    std::ofstream out(file, std::ios::binary);
    if (!out) return false;
    auto u32 = [&](std::uint32_t v) {
        const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        out.write(b, 4);
    };
    auto u16 = [&](std::uint16_t v) {
        const char b[2] = {char(v), char(v >> 8)};
        out.write(b, 2);
    };
    const auto n = std::uint32_t(samples.size());
    out.write("RIFF", 4);
    u32(36 + n);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);     // PCM
    u16(1);     // mono
    u32(44100); // samples per second
    u32(44100); // bytes per second
    u16(1);     // block alignment
    u16(8);     // bits per sample
    out.write("data", 4);
    u32(n);
    out.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(n));
    return bool(out);
}

} // namespace plimo::sound
