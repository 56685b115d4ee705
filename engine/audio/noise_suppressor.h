// Noise suppression in front of recognition: a segment's steady background noise is lowered before its
// pieces are decoded, by as much as its signal-to-noise ratio calls for. Private to the engine (no signal
// library types here, so the tests can use the rule directly).

#pragma once

#include "engine/audio/pause_cutter.h"

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// How strongly a segment is cleaned, from the gap between its speech level and its noise floor. The floor is
// taken lower than the pause cutter's: a steady noise shows no quieter frames, while a recording's own
// background has some, and short clips with few pauses must not look noisy.
namespace suppression_rule {
constexpr int32_t floor_percentile = 1;         // the noise floor: this percentile of the frame levels
constexpr double  clean_snr_db     = 33.0;      // at or above this gap a segment is left as it is
constexpr double  full_snr_db      = 30.0;      // at or below this gap the full attenuation applies
constexpr double  max_reduce_db    = 15.0;      // the most the noise is lowered
constexpr int32_t frame_samples    = 320;       // the suppressor's frame: 20 ms
constexpr int32_t warm_up_samples  = 3 * 16000; // run through first so that the noise estimate has settled
} // namespace suppression_rule

// The attenuation in dB (0 to max_reduce_db) to apply to the noise of a segment with these levels: none for
// a clean recording, the full amount for a noisy one, in between on a straight line.
double noise_reduction_db(const sound_levels & levels);

// Returns `pcm` (16 kHz) with its noise lowered by at most `reduce_db`, the same length and sample for sample
// in time with it. The noise estimate is settled first on the opening samples. The same input gives the same
// output on every call. `pcm` is returned unchanged when `reduce_db` is 0 or below.
std::vector<int16_t> suppress_noise(const std::vector<int16_t> & pcm, double reduce_db);

// The 16-bit samples a segment is decoded from: with `denoise`, its noise lowered as far as its levels call
// for; always with a faint noise floor, since long digital zeros are features the acoustic model never saw.
std::vector<int16_t> clean_segment(const float * samples, int32_t n_samples, bool denoise);

} // namespace kelvo_asr
