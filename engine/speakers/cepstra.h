// The folder engine/speakers/: who spoke when, found from the audio alone: cepstra of every frame, full
// covariance Gaussians of stretches of them, change points, clustering and a smoothed resegmentation.
//
// Cepstra for telling voices apart: c1..c19 of a mel filterbank, one vector per 10 ms frame, and each
// frame's level. Private to the engine.

#pragma once

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// The cepstra kept per frame (c1..c19; c0, the loudness, says little about the voice).
constexpr int32_t n_voice_cepstra = 19;

// Cepstra of every 10 ms frame, kept as 16-bit values so that an hour of audio stays small.
struct voice_cepstra {
    int32_t              n_frames = 0;
    std::vector<int16_t> values;   // [frame][n_voice_cepstra], in steps of 1 / cepstrum_steps
    std::vector<float>   level_db; // per frame: the level of its 160 samples, in dB of full scale
};

// Steps of a stored cepstrum per unit.
constexpr float cepstrum_steps = 512.0f;

// Computes the cepstra of `n_samples` samples at 16 kHz (NaN and infinities read as 0): frame f is the
// 25 ms window starting at sample 160 f, and its level that of samples [160 f, 160 f + 160).
voice_cepstra compute_voice_cepstra(const float * samples, int32_t n_samples);

// Frame `f` of `c` as floats into `out` (n_voice_cepstra values).
void frame_cepstra(const voice_cepstra & c, int32_t f, float * out);

} // namespace kelvo_asr
