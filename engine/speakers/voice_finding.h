// Who spoke when: the steps from samples to timed voice stretches, and the settings they run with.
// Private to the engine; `find_speakers` of the face runs them with the defaults.

#pragma once

#include "engine/kelvo_asr.h"

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// The settings of speaker finding (lengths in 10 ms frames of speech).
struct voice_finding_settings {
    double  speech_margin_db    = 12.0; // a frame this far above the noise floor is speech ...
    double  speech_margin_share = 0.45; // ... or this share of the way from the floor to the loudest frames
    double  ridge               = 0.02; // covariances widened by this share of the recording's variances
    int32_t change_window       = 100;  // frames on each side of a candidate change
    int32_t change_step         = 5;    // frames between candidates
    double  change_penalty      = 1.0;  // BIC penalty weight for a change: lower finds more
    int32_t min_stretch         = 50;   // no change closer than this to another or to a piece's end
    double  merge_penalty       = 1.3;  // BIC penalty weight for clustering: higher merges more
    int32_t smooth_frames       = 10;   // frame likelihoods averaged over this many frames on each side
    double  switch_penalty      = 50.0; // log-likelihood a change of voice costs in the resegmentation
    int32_t resegment_rounds    = 2;    // rounds of Gaussians re-estimated and frames relabelled
    int32_t place_window        = 60;   // frames a change may move to where the final voices place it
    int32_t min_voice_frames    = 300;  // a voice with less speech than this is given to the others
    double  voice_distance      = 0.25; // two found voices closer than this (likelihood per frame) are one ...
    double  high_voice_distance = 0.4;  // ... or than this when both speak higher than high_pitch
    double  high_pitch          = 85.0; // median pitch, semitones above 1 Hz (about 134 Hz)
    double  pitch_apart         = 4.0;  // two found voices whose median pitches differ by more are never one
    double  noisy_span_db       = 45.0; // loud frames less than this over the quietest: a noisy recording ...
    double  steady_spread_db    = 2.5;  // ... whose quiet frames vary less than this holds steady noise,
    double  noise_margin_db     = 3.0;  // ... heard alone in the frames this close to the noise floor
};

// The level (dB of full scale) at or below which the frames of `n_samples` samples hold steady noise alone,
// whose mean spectrum the cepstra then take in; minus infinity for a clean recording or an unsteady
// background (babble), left as they are.
double steady_noise_db(const float * samples, int32_t n_samples, const voice_finding_settings & settings);

// Voice stretches of `n_samples` samples at 16 kHz: `n_fixed` voices when above 0, else as many as the
// clustering finds.
std::vector<voice_stretch> find_voice_stretches(const float * samples, int32_t n_samples, int32_t n_fixed,
                                                const voice_finding_settings & settings);

} // namespace kelvo_asr
