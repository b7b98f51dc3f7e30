#include "sound/sound_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace plimo::sound {

void LoadTones(TEnveloper& synth, const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ESoundIOError("cannot open the tone file " + file);
    std::array<char, kToneFileBytes + kEnvelopeFileBytes> bytes;
    if (!in.read(bytes.data(), bytes.size())) throw ESoundIOError("read beyond end of file " + file);
    std::copy_n(bytes.begin(), kToneFileBytes, synth.Tones().begin());
    std::copy_n(bytes.begin() + kToneFileBytes, kEnvelopeFileBytes, synth.Envelopes().begin());
}

bool TMusic::Empty() const {
    return std::none_of(m_blocks.begin(), m_blocks.end(), [](const TMusicCode& b) { return bool(b); });
}

TSoundStatus TMusic::LoadMusic(const std::string& file, const std::function<void()>& stopMusic) {
    // A folder opens as a stream on Linux and only fails to read: it is no file to open either.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return ssCannotOpen;
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return ssCannotOpen;
    const std::int64_t fileSize = in.tellg();
    in.seekg(0);
    auto readInt = [&](int bytes) {
        std::uint8_t b[4] = {};
        if (!in.read(reinterpret_cast<char*>(b), bytes))
            throw ESoundIOError("read beyond end of file " + file);
        return std::int32_t(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
                            std::uint32_t(b[3]) << 24);
    };
    TSoundStatus status = ssSuccess;
    if (readInt(4) > kNewestMusicVersion) status = ssNewerVersion;
    if (readInt(1) != TEnveloper::kChannels) return ssDamaged;

    auto freeAll = [&] {
        if (stopMusic) stopMusic();
        FreeMusic();
    };
    freeAll();
    for (int ch = 0; ch < TEnveloper::kChannels; ++ch) {
        std::int32_t length;
        try {
            length = readInt(4);
        } catch (const ESoundIOError&) {
            freeAll();
            throw;
        }
        if (length > fileSize) {
            freeAll();
            return ssDamaged;
        }
        if (length <= 0) continue;
        auto block = std::make_shared<std::vector<std::uint8_t>>(std::size_t(length));
        if (!in.read(reinterpret_cast<char*>(block->data()), length)) {
            freeAll();
            throw ESoundIOError("read beyond end of file " + file);
        }
        m_blocks[ch] = std::move(block);
    }
    return status;
}

std::unique_ptr<TWavLoader> LoadWave(const std::string& file, TSoundStatus& status) {
    auto wave = std::make_unique<TWavLoader>();
    wave->Load(file);
    if (wave->openFailed) {
        status = ssCannotOpen;
        return nullptr;
    }
    if (wave->noFormat) {
        status = ssNoFormat;
        return nullptr;
    }
    status = ssSuccess;
    return wave;
}

} // namespace plimo::sound
