// Float samples into the decoder's 16-bit form, and their energy.

#include "engine/audio/samples.h"

#include <algorithm>
#include <cmath>

namespace kelvo_asr {

std::vector<int16_t> to_pcm16(const float * samples, int32_t n_samples) {
    std::vector<int16_t> out(n_samples > 0 ? static_cast<size_t>(n_samples) : 0);
    for (size_t i = 0; i < out.size(); i++) {
        float v = samples[i];
        if (!std::isfinite(v)) {
            v = 0.0f;
        }
        out[i] = static_cast<int16_t>(std::clamp(std::round(v * 32767.0f), -32768.0f, 32767.0f));
    }
    return out;
}

double rms_energy(const float * samples, int32_t n_samples) {
    if (n_samples <= 0) {
        return 0.0;
    }
    double sum = 0.0;
    for (int32_t i = 0; i < n_samples; i++) {
        const double v = samples[i];
        if (std::isfinite(v)) {
            sum += v * v;
        }
    }
    return std::sqrt(sum / n_samples);
}

// The acoustic model was trained on recordings, and runs of digital zeros (padding, synthetic pauses)
// give feature values it has never seen, which drags word edges into the silence. This level lies below
// the floor of any real recording (about -80 dBFS).
void add_noise_floor(std::vector<int16_t> & pcm) {
    const double amplitude = 8.0;
    uint32_t     state     = 0x2545F491u;
    auto         uniform   = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0; // [0, 1)
    };
    for (int16_t & s : pcm) {
        const double a = uniform(); // two statements: the order of the draws is fixed
        const double b = uniform();
        const int    v = s + static_cast<int>(std::lround((a - b) * amplitude));
        s              = static_cast<int16_t>(std::clamp(v, -32768, 32767));
    }
}

} // namespace kelvo_asr
