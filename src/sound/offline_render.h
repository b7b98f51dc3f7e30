// Rendering music without a sound card: a hand-moved device stands in for the wave-output device, and
// the samples each Fill writes are collected in the order they were rendered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sound/synth.h"

namespace plimo::sound {

// Renders the next `samples` samples of `synth`, which must be open on `device`. Each Fill covers
// `chunk` samples (as a frame loop would, about 20 ms by default); chunk must be below the ring size.
std::vector<std::uint8_t> RenderOffline(TEnveloper& synth, TManualWaveDevice& device, std::size_t samples,
                                        int chunk = 882);

// Writes unsigned 8-bit mono 44100 Hz samples as a WAV file; false when the file cannot be written.
bool WriteWav8(const std::string& file, std::span<const std::uint8_t> samples);

} // namespace plimo::sound
