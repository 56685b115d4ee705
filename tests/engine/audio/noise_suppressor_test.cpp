#include "engine/audio/noise_suppressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using namespace kelvo_asr;

TEST(NoiseReduction, FollowsTheGapBetweenSpeechAndNoise) {
    using namespace suppression_rule;
    const auto at_gap = [](double gap) { return noise_reduction_db({ -40.0 - gap, -40.0 }); };
    EXPECT_EQ(at_gap(clean_snr_db), 0.0);
    EXPECT_EQ(at_gap(80.0), 0.0);
    EXPECT_EQ(noise_reduction_db({ -120.0, -14.0 }), 0.0); // digital silence between the words
    EXPECT_EQ(at_gap(full_snr_db), max_reduce_db);
    EXPECT_EQ(at_gap(0.0), max_reduce_db); // steady sound throughout
    EXPECT_EQ(at_gap(-5.0), max_reduce_db);
    const double middle = at_gap((clean_snr_db + full_snr_db) / 2);
    EXPECT_GT(middle, 0.0);
    EXPECT_LT(middle, max_reduce_db);
    EXPECT_GT(at_gap(full_snr_db + 0.5), middle);
}

// White noise with a tone burst in the middle.
std::vector<int16_t> noisy_burst(size_t n) {
    std::mt19937                     rng(7);
    std::normal_distribution<double> gauss(0.0, 300.0);
    std::vector<int16_t>             pcm(n);
    for (size_t i = 0; i < n; i++) {
        const bool burst = i >= n / 2 && i < n / 2 + 8000;
        const auto tone  = burst ? 8000.0 * std::sin(0.2 * static_cast<double>(i)) : 0.0;
        pcm[i]           = static_cast<int16_t>(std::lround(tone + gauss(rng)));
    }
    return pcm;
}

double energy(const std::vector<int16_t> & pcm, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t i = from; i < to; i++) {
        sum += static_cast<double>(pcm[i]) * pcm[i];
    }
    return sum;
}

TEST(SuppressNoise, LowersNoiseKeepsTimingAndRepeatsItself) {
    const size_t               n   = 5 * 16000 + 123; // not a whole number of frames
    const std::vector<int16_t> pcm = noisy_burst(n);
    EXPECT_EQ(suppress_noise(pcm, 0.0), pcm);
    EXPECT_TRUE(suppress_noise({}, 15.0).empty());

    const std::vector<int16_t> out = suppress_noise(pcm, 15.0);
    ASSERT_EQ(out.size(), n);
    EXPECT_EQ(suppress_noise(pcm, 15.0), out);
    // The noise before the burst, from the first sample on, is at least 8 dB lower.
    EXPECT_LT(energy(out, 0, 16000), energy(pcm, 0, 16000) / 6.3);
    EXPECT_LT(energy(out, n / 4, n / 2 - 800), energy(pcm, n / 4, n / 2 - 800) / 6.3);
    // The burst keeps its energy and its place, to the 4 ms: the output does not lag by a frame.
    const size_t b = n / 2;
    EXPECT_GT(energy(out, b + 64, b + 7936), 0.7 * energy(pcm, b + 64, b + 7936));
    EXPECT_LT(energy(out, b - 320, b - 64), 0.01 * energy(pcm, b + 64, b + 320));
    EXPECT_LT(energy(out, b + 8064, b + 8320), 0.01 * energy(pcm, b + 7680, b + 7936));
}

} // namespace
