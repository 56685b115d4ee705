// The folder engine/speakers/: who spoke when, found from the audio alone: cepstra of every frame, full
// covariance Gaussians of stretches of them, change points, clustering and a smoothed resegmentation.
//
// Cepstra for telling voices apart: c1..c19 of a mel filterbank, one vector per 10 ms frame, and each
// frame's level; read back projected onto the directions that carry the voice rather than what is said.
// Private to the engine.

#pragma once

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// The cepstra stored per frame (c1..c19; c0, the loudness, says little about the voice).
constexpr int32_t n_stored_cepstra = 19;

// The values read per frame: the stored cepstra on the first rows of voice_projection. The rows dropped are
// the directions along which one voice moves most with what it says, which split a voice by its sentences.
constexpr int32_t n_voice_cepstra = 11;

// Directions of the stored cepstra, the most voice-like first, learnt offline from many voices
// (bench/speakers/train_projection.sh generates voice_projection.cpp).
extern const float voice_projection[n_stored_cepstra][n_stored_cepstra];

// Cepstra of every 10 ms frame, kept as 16-bit values so that an hour of audio stays small.
struct voice_cepstra {
    int32_t              n_frames = 0;
    std::vector<int16_t> values;   // [frame][n_stored_cepstra], in steps of 1 / cepstrum_steps
    std::vector<float>   level_db; // per frame: the level of its 160 samples, in dB of full scale
};

// Steps of a stored cepstrum per unit.
constexpr float cepstrum_steps = 512.0f;

// Computes the cepstra of `n_samples` samples at 16 kHz (NaN and infinities read as 0): frame f is the
// 25 ms window starting at sample 160 f, and its level that of samples [160 f, 160 f + 160).
voice_cepstra compute_voice_cepstra(const float * samples, int32_t n_samples);

// Frame `f` of `c` projected onto the first n_voice_cepstra rows of voice_projection, into `out`.
void frame_cepstra(const voice_cepstra & c, int32_t f, float * out);

} // namespace kelvo_asr
