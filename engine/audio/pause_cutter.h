// Where the recogniser cuts a segment into pieces: at pauses, never inside speech, leaving out stretches
// without speech. The cut depends on the samples alone. Private to the engine (no decoder types here, so
// the tests can use it directly).

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvo_asr {

// One stretch to decode as an utterance of its own: samples [start, end) of the segment.
struct speech_piece {
    int32_t start = 0;
    int32_t end   = 0;
};

// The rule's lengths, in 10 ms frames of 160 samples.
namespace pause_rule {
constexpr int32_t frame_samples     = 160;
constexpr int32_t min_pause_frames  = 30;    // a quiet run at least this long is a pause; shorter ones are speech
constexpr int32_t min_speech_frames = 10;    // stretches between pauses with less speech than this are noise
constexpr int32_t cut_pause_frames  = 60;    // a pause at least this long always ends a piece
constexpr int32_t max_piece_frames  = 2000;  // a longer piece is cut at its longest pause, when it has one
constexpr int32_t padding_frames    = 25;    // silence kept on each side of a piece, at most half the pause
constexpr double  quiet_margin_db   = 8.0;   // a frame this far above the noise floor holds sound,
constexpr double  speech_range_db   = 50.0;  // ... unless it lies further below the loudest frames than this,
constexpr double  silence_db        = -80.0; // ... or below this level
constexpr int32_t floor_percentile  = 5;     // the noise floor: this percentile of the frame levels
constexpr int32_t loud_percentile   = 99;    // the loudest frames: this one
} // namespace pause_rule

// A segment's loudness, in dB (full scale 1.0) of its 10 ms frame levels.
struct sound_levels {
    double floor_db  = -120.0; // the noise floor: a low percentile of the frame levels
    double speech_db = -120.0; // the speech level: a high percentile of the frame levels
};

// Measures the noise floor and speech level of `n_samples` samples (NaN and infinities read as 0) at the
// given percentiles of the frame levels; both -120 dB when there are no samples.
sound_levels measure_levels(const float * samples, int32_t n_samples, int32_t floor_at, int32_t speech_at);

// Cuts `n_samples` samples (16 kHz; NaN and infinities read as 0) into the pieces to decode, in order,
// neither overlapping nor empty. Empty when there is no speech: digital silence or steady noise alone.
std::vector<speech_piece> cut_at_pauses(const float * samples, int32_t n_samples);

// Samples over which a decoder's noise estimate is brought to a piece's surroundings before the piece:
// long enough for the estimate to settle, short enough to stay local.
constexpr int32_t piece_warm_up_samples = 3 * 16000;

// A piece's 16-bit samples, and those its decoder warms up on first.
struct piece_audio {
    const int16_t * pcm       = nullptr;
    size_t          n_samples = 0;
    const int16_t * warm_up   = nullptr;
    size_t          n_warm_up = 0;
};

// The audio of `piece` in the segment `pcm`; the warm-up is the stretch of the segment that ends where the
// piece starts, or the segment's start.
piece_audio audio_of(const std::vector<int16_t> & pcm, const speech_piece & piece);

} // namespace kelvo_asr
