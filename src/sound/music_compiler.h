// The music compiler: turns the readable music notation described in docs/music.md into the ten
// channel code blocks of a music file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/version.h"

namespace plimo::sound {

// Version number written into compiled music files.
inline constexpr std::int32_t kCompiledMusicVersion = kVersionNumber;

// Units of length per whole note: a quarter note lasts 11025 units, half a second at tempo 120.
inline constexpr int kUnitsPerWholeNote = 44100;

struct TMusicCompileError {
    int line = 0;   // 1-based
    int column = 0; // 1-based
    std::string message;

    std::string ToString() const;
};

struct TCompiledMusic {
    // Each channel's code, empty for a channel the notation does not use.
    std::array<std::vector<std::uint8_t>, 10> channels;

    // The music file image: version, channel count 10, then each block's length and code.
    std::vector<std::uint8_t> FileBytes() const;
};

// Compiles `text`; on failure returns false with the first error in `error`.
bool CompileMusic(std::string_view text, TCompiledMusic& out, TMusicCompileError& error);

} // namespace plimo::sound
