// The voice's pitch, frame by frame, from the normalised autocorrelation of each frame.

#include "engine/audio/pitch_period.h"
#include "engine/audio/samples.h"
#include "engine/kelvo_asr.h"

#include <algorithm>
#include <cmath>

namespace kelvo_asr {

namespace {

constexpr int32_t frame_hop    = sample_rate / 100; // 10 ms
constexpr int32_t frame_length = sample_rate / 25;  // 40 ms: at least two periods of the lowest pitch
constexpr int32_t lowest_lag   = sample_rate / 400;
constexpr int32_t highest_lag  = sample_rate / 60;

// A frame is voiced when its best period repeats this closely (normalised autocorrelation).
constexpr double voicing_threshold = 0.55;
// Frames much quieter than the loudest of the stretch are breath or the tail of a word, not its voice.
constexpr double quiet_fraction = 0.1;
// The end of the stretch is its last voiced frames, this many of them.
constexpr size_t end_frames = 12;
constexpr size_t min_frames = 5;

// The pitch of the frame starting at `frame`, or 0 when it is not voiced.
float frame_pitch(const float * frame) {
    double mean = 0;
    for (int32_t i = 0; i < frame_length; i++) {
        mean += std::isfinite(frame[i]) ? frame[i] : 0.0f;
    }
    mean /= frame_length;
    float centred[frame_length];
    for (int32_t i = 0; i < frame_length; i++) {
        centred[i] = static_cast<float>((std::isfinite(frame[i]) ? frame[i] : 0.0f) - mean);
    }
    const int32_t span                    = frame_length - highest_lag;
    double        best                    = 0;
    int32_t       best_lag                = 0;
    double        scores[highest_lag + 2] = {};
    for (int32_t lag = lowest_lag; lag <= highest_lag; lag++) {
        double cross = 0;
        double e0    = 0;
        double e1    = 0;
        for (int32_t i = 0; i < span; i++) {
            cross += static_cast<double>(centred[i]) * centred[i + lag];
            e0 += static_cast<double>(centred[i]) * centred[i];
            e1 += static_cast<double>(centred[i + lag]) * centred[i + lag];
        }
        const double score = e0 > 0 && e1 > 0 ? cross / std::sqrt(e0 * e1) : 0;
        scores[lag]        = score;
        if (score > best) {
            best     = score;
            best_lag = lag;
        }
    }
    if (best < voicing_threshold || best_lag == 0) {
        return 0;
    }
    return static_cast<float>(sample_rate /
                              pitch_period(scores, lowest_lag, lowest_lag, highest_lag, best_lag, best, 0.9));
}

float median(std::vector<float> values) {
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

} // namespace

pitch_result measure_pitch(const float * samples, int32_t n_samples) {
    pitch_result result;
    if (samples == nullptr || n_samples < frame_length) {
        return result;
    }
    const int32_t       n_frames = (n_samples - frame_length) / frame_hop + 1;
    std::vector<double> level(static_cast<size_t>(n_frames));
    double              loudest = 0;
    for (int32_t f = 0; f < n_frames; f++) {
        level[static_cast<size_t>(f)] = rms_energy(samples + static_cast<ptrdiff_t>(f) * frame_hop, frame_length);
        loudest                       = std::max(loudest, level[static_cast<size_t>(f)]);
    }
    result.hz.assign(static_cast<size_t>(n_frames), 0.0f);
    if (loudest < silence_energy_floor) {
        return result;
    }
    std::vector<float> semitones;
    for (int32_t f = 0; f < n_frames; f++) {
        if (level[static_cast<size_t>(f)] < quiet_fraction * loudest) {
            continue;
        }
        const float hz                    = frame_pitch(samples + static_cast<ptrdiff_t>(f) * frame_hop);
        result.hz[static_cast<size_t>(f)] = hz;
        if (hz > 0) {
            semitones.push_back(12.0f * std::log2(hz));
        }
    }
    if (semitones.size() < end_frames + min_frames) {
        return result;
    }
    const auto split = semitones.end() - static_cast<std::ptrdiff_t>(end_frames);
    result.rise      = median({ split, semitones.end() }) - median({ semitones.begin(), split });
    result.voiced    = true;
    return result;
}

} // namespace kelvo_asr
