// How high a voice speaks: the pitch of a 10 ms frame, cheap enough to compute again for each pass that
// asks, so that nothing is kept per frame, and a voice's pitches kept as a histogram. Private to the engine.

#pragma once

#include <array>
#include <cstdint>

namespace kelvo_asr {

// The pitch of frame `f` of `samples` (16 kHz) in semitones above 1 Hz (12 log2 Hz), from the
// autocorrelation of 40 ms centred on the frame's cepstrum window, taken at 4 kHz; 0 when the frame is not
// voiced (60 to 400 Hz) or its 40 ms reach past the recording. NaN and infinities read as 0.
float frame_pitch_semitones(const float * samples, int32_t n_samples, int32_t f);

// Semitones above 1 Hz the histogram starts at and its bins' width: 70 to 104 (60 to 400 Hz) in tenths.
constexpr float   pitch_bins_from = 70.0f;
constexpr float   pitch_bin_width = 0.1f;
constexpr int32_t n_pitch_bins    = 340;

// The voiced frames of a voice by their pitch.
struct pitch_histogram {
    std::array<int32_t, n_pitch_bins> count{};
    int64_t                           n = 0;
};

// Counts one voiced frame's pitch in semitones (values past either end count in the end bin).
void add_pitch(pitch_histogram & h, float semitones);

// Adds every count of `from` to `into`.
void add_pitches(pitch_histogram & into, const pitch_histogram & from);

// The middle of the bin holding the median voiced frame; 0 for no voiced frames.
double median_pitch(const pitch_histogram & h);

} // namespace kelvo_asr
