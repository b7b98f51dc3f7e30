// WAV files for sound effects and sample instruments: reading, conversion to 8-bit 44100 Hz, padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace plimo::sound {

class TWavLoader {
public:
    // Reads the whole file and converts its first channel to unsigned 8-bit samples at 44100 Hz.
    // Returns !IsBad().
    bool Load(const std::string& file);
    // The same for a file image already in memory.
    bool LoadFromBytes(std::span<const std::uint8_t> bytes);

    // This sample becomes a copy of `loaded` padded with silence to a power-of-two length (at least 1),
    // whose last source byte is silenced too, so a one-shot playback always ends in silence.
    void MakePadded(const TWavLoader& loaded);

    bool IsBad() const { return openFailed || noFormat || noData; }

    const std::uint8_t* Data() const { return m_image.data(); }
    std::size_t Length() const { return m_image.size(); }
    std::span<const std::uint8_t> Samples() const { return m_image; }

    bool openFailed = false;
    bool noFormat = false;
    bool noData = false;

    std::uint32_t chunkSize = 0;
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t bytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;

    std::size_t paddedLength = 0; // of padded copies only
    int bits = 0;                 // log2 of paddedLength

    // A converted sample never grows beyond this (about 25 minutes); a tiny declared rate with a long
    // data chunk would otherwise ask for gigabytes.
    static constexpr std::size_t kMaxConvertedLength = std::size_t(1) << 26;

private:
    void Convert(std::span<const std::uint8_t> data);

    std::vector<std::uint8_t> m_image;
};

} // namespace plimo::sound
