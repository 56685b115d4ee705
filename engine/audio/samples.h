// The folder engine/audio/: a recording's samples on their way to the decoders: reading the WAV file,
// sample conversions, noise suppression and the cut into pieces at pauses.
//
// Sample conversions shared by the recogniser and the aligner. Private to the engine.

#pragma once

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// Samples per second of every recording the engine decodes.
constexpr int32_t sample_rate = 16000;

// Converts samples in [-1, 1] to 16-bit with clipping; NaN and infinities become 0.
std::vector<int16_t> to_pcm16(const float * samples, int32_t n_samples);

// Root mean square of the samples, NaN and infinities counted as 0; 0 for no samples.
double rms_energy(const float * samples, int32_t n_samples);

// Segments whose energy is below this are digital silence and are not decoded.
constexpr double silence_energy_floor = 1e-4;

// Adds a faint noise floor (triangular, at most 8 steps of 16-bit), the same on every call.
void add_noise_floor(std::vector<int16_t> & pcm);

} // namespace kelvo_asr
