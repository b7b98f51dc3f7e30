#include "sound/wav_loader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace plimo::sound {

namespace {

std::uint32_t ReadU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t ReadU16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

// Offset of the first occurrence of `tag`, or npos.
std::size_t Find(std::span<const std::uint8_t> bytes, std::string_view tag) {
    auto it = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end(),
                          [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    return it == bytes.end() ? std::string_view::npos : std::size_t(it - bytes.begin());
}

} // namespace

bool TWavLoader::Load(const std::string& file) {
    // A folder opens as a stream on Linux and only fails to read: it is no file to open either.
    std::error_code ec;
    std::ifstream in;
    if (std::filesystem::is_regular_file(file, ec)) in.open(file, std::ios::binary);
    if (!in.is_open()) {
        *this = TWavLoader();
        openFailed = true;
        return false;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return LoadFromBytes(bytes);
}

bool TWavLoader::LoadFromBytes(std::span<const std::uint8_t> bytes) {
    *this = TWavLoader();
    std::size_t fmt = Find(bytes, "WAVEfmt ");
    // The five header words must lie inside the file; a cut-off header counts as no header at all.
    if (fmt == std::string_view::npos || bytes.size() - fmt < 8 + 20) {
        noFormat = true;
        return false;
    }
    const std::uint8_t* h = bytes.data() + fmt + 8;
    chunkSize = ReadU32(h);
    formatTag = ReadU16(h + 4);
    channels = ReadU16(h + 6);
    samplesPerSec = ReadU32(h + 8);
    bytesPerSec = ReadU32(h + 12);
    blockAlign = ReadU16(h + 16);
    bitsPerSample = ReadU16(h + 18);

    std::size_t data = Find(bytes, "data");
    if (data == std::string_view::npos) {
        noData = true;
        return false;
    }
    // The chunk size is not trusted: the samples run to the end of the file.
    std::size_t start = std::min(bytes.size(), data + 8);
    Convert(bytes.subspan(start));
    return true;
}

void TWavLoader::Convert(std::span<const std::uint8_t> data) {
    // Only the first channel is kept. For 16 bits and more its most significant 16 bits are used.
    const std::size_t sampleBytes = bitsPerSample <= 8 ? 1 : (bitsPerSample + 7) / 8;
    // A block alignment smaller than one sample would read past the last frame.
    const std::size_t frameBytes = std::max<std::size_t>(blockAlign, sampleBytes);
    const std::size_t frames = data.size() / frameBytes;
    const std::size_t factor = samplesPerSec == 0 ? 0 : 44100 / samplesPerSec;
    const std::size_t length = std::min(frames * factor, kMaxConvertedLength);
    m_image.resize(length);
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t* frame = data.data() + (i / factor) * frameBytes;
        int v;
        if (sampleBytes == 1)
            v = (int(frame[0]) - 128) * 256;
        else
            v = std::int16_t(ReadU16(frame + sampleBytes - 2));
        m_image[i] = static_cast<std::uint8_t>(v / 256 + 128);
    }
}

void TWavLoader::MakePadded(const TWavLoader& loaded) {
    const std::size_t n = loaded.Length();
    std::size_t length = 1;
    int log2 = 0;
    while (length < n) {
        length <<= 1;
        ++log2;
    }
    *this = TWavLoader();
    chunkSize = loaded.chunkSize;
    formatTag = loaded.formatTag;
    channels = loaded.channels;
    samplesPerSec = loaded.samplesPerSec;
    bytesPerSec = loaded.bytesPerSec;
    blockAlign = loaded.blockAlign;
    bitsPerSample = loaded.bitsPerSample;
    m_image.assign(length, 128);
    if (n > 1) std::copy(loaded.m_image.begin(), loaded.m_image.begin() + (n - 1), m_image.begin());
    paddedLength = length;
    bits = log2;
}

} // namespace plimo::sound
