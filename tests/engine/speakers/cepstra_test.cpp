// The steady noise the cepstra take in: over a steady hiss its mean spectrum, added to every frame's, must
// calm the flicker of the noise-only frames; a recording whose quiet frames are digital zeros, or a level no
// frame reaches, must leave every cepstrum exactly as it was, so that clean recordings keep their voices.

#include "engine/speakers/cepstra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

using kelvo_asr::compute_voice_cepstra;
using kelvo_asr::frame_stored_cepstra;
using kelvo_asr::n_stored_cepstra;

// Two seconds: a vowel-like sound of 140 Hz harmonics in the third quarter; `hiss` of a steady noise
// throughout (uniform, the same on every run).
std::vector<float> recording(float hiss) {
    std::vector<float> s(32000, 0.0f);
    uint32_t           lcg = 12345;
    for (size_t i = 0; i < s.size(); i++) {
        lcg  = lcg * 1664525u + 1013904223u;
        s[i] = hiss * (static_cast<float>(lcg >> 8) / 8388608.0f - 1.0f);
        if (i >= 16000 && i < 24000) {
            for (int k = 1; k <= 20; k++) {
                s[i] += static_cast<float>(0.05 / k * std::sin(2.0 * std::numbers::pi * 140.0 * k * i / 16000.0));
            }
        }
    }
    return s;
}

// Each stored cepstrum's variance over frames [first, end), summed.
double flicker(const kelvo_asr::voice_cepstra & c, int32_t first, int32_t end) {
    std::vector<double> sum(n_stored_cepstra, 0.0);
    std::vector<double> square(n_stored_cepstra, 0.0);
    float               x[n_stored_cepstra];
    for (int32_t f = first; f < end; f++) {
        frame_stored_cepstra(c, f, x);
        for (int32_t k = 0; k < n_stored_cepstra; k++) {
            sum[static_cast<size_t>(k)] += x[k];
            square[static_cast<size_t>(k)] += static_cast<double>(x[k]) * x[k];
        }
    }
    const double n     = end - first;
    double       total = 0.0;
    for (int32_t k = 0; k < n_stored_cepstra; k++) {
        total += square[static_cast<size_t>(k)] / n - std::pow(sum[static_cast<size_t>(k)] / n, 2.0);
    }
    return total;
}

TEST(Cepstra, SteadyNoiseCalmsItsOwnFramesAndSilenceChangesNothing) {
    const std::vector<float> noisy = recording(0.003f);
    const auto               n     = static_cast<int32_t>(noisy.size());
    // The hiss alone lies near -56 dB of full scale.
    const auto plain = compute_voice_cepstra(noisy.data(), n);
    const auto taken = compute_voice_cepstra(noisy.data(), n, -50.0);
    EXPECT_LT(flicker(taken, 5, 95), 0.5 * flicker(plain, 5, 95));

    const std::vector<float> clean = recording(0.0f);
    for (const double noise_db : { -50.0, -300.0 }) { // digital zeros; no frame at all
        const auto with    = compute_voice_cepstra(clean.data(), n, noise_db);
        const auto without = compute_voice_cepstra(clean.data(), n);
        float      a[n_stored_cepstra];
        float      b[n_stored_cepstra];
        for (int32_t f = 0; f < without.n_frames; f++) {
            frame_stored_cepstra(with, f, a);
            frame_stored_cepstra(without, f, b);
            for (int32_t k = 0; k < n_stored_cepstra; k++) {
                ASSERT_EQ(a[k], b[k]) << noise_db << " frame " << f;
            }
        }
    }
}

} // namespace
