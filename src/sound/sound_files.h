// The tone table file and music files the synthesiser plays, and sound effects loaded from WAV files,
// with the status codes their loaders report.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "sound/synth.h"
#include "sound/wav_loader.h"

namespace plimo::sound {

// Outcome of the last sound file operation.
enum TSoundStatus : std::uint8_t {
    ssSuccess = 0,
    ssCannotOpen = 1,
    ssNoFormat = 2,     // a WAV file without "WAVEfmt "
    ssDamaged = 3,      // a music file whose channel count is not 10 or whose block is too long
    ssDeviceFailed = 4, // the wave-output device did not open
    ssNewerVersion = 5, // a music file above version 1200 (loaded all the same)
};

// A tone or music file that ends early.
class ESoundIOError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr int kToneFileBytes = TEnveloper::kTones * TEnveloper::kToneBytes;
inline constexpr int kEnvelopeFileBytes = TEnveloper::kEnvelopes * TEnveloper::kEnvelopeSteps;
inline constexpr int kNewestMusicVersion = 1200;

// The loaders open `file` as the OS names it (a command-line argument, or FindSoundFile's result).

// Copies the 96 tones and 16 envelopes of a tone file into the synthesiser's tables unchanged.
// Throws ESoundIOError when the file cannot be read or is shorter than 3584 bytes.
void LoadTones(TEnveloper& synth, const std::string& file);

// The ten channel code blocks of a music file.
class TMusic {
public:
    // Loads `file`; returns its status. `stopMusic` runs before the old blocks are dropped (the owner
    // stops the channels there). Throws ESoundIOError when a length or block is cut off, leaving no
    // music loaded.
    TSoundStatus LoadMusic(const std::string& file, const std::function<void()>& stopMusic = {});
    void FreeMusic() { m_blocks = {}; }

    // Channel ch's code, null when the channel has none.
    const TMusicCode& Block(int ch) const { return m_blocks[ch]; }
    bool Empty() const;

private:
    std::array<TMusicCode, TEnveloper::kChannels> m_blocks;
};

// Loads a WAV file as a sound effect. status := 1 when it cannot be opened, 2 when it has no format
// header, else 0; on 1 and 2 the result is null. A file without a "data" chunk loads as an empty sound.
std::unique_ptr<TWavLoader> LoadWave(const std::string& file, TSoundStatus& status);

} // namespace plimo::sound
