// The calibration map of word posteriors: a probability for any input, never falling as the posterior rises.

#include "engine/decoders/confidence_calibration.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ConfidenceCalibration, IsAProbabilityThatNeverFallsAsThePosteriorRises) {
    float last = -1;
    for (int k = 0; k <= 100000; k++) {
        const float p = static_cast<float>(k) / 100000.0f;
        const float c = kelvo_asr::calibrated_confidence(p);
        ASSERT_GE(c, 0.0f) << p;
        ASSERT_LE(c, 1.0f) << p;
        ASSERT_GE(c, last) << p;
        last = c;
    }
    // A sure posterior is not taken at its word, and a hopeless one still leaves a chance: the map says what
    // share of such words were right.
    EXPECT_LT(kelvo_asr::calibrated_confidence(1.0f), 1.0f);
    EXPECT_GT(kelvo_asr::calibrated_confidence(0.0f), 0.1f);
    // Out of range and NaN are taken as the nearest end (NaN as the lowest).
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(kelvo_asr::calibrated_confidence(-3.0f), kelvo_asr::calibrated_confidence(0.0f));
    EXPECT_EQ(kelvo_asr::calibrated_confidence(nan), kelvo_asr::calibrated_confidence(0.0f));
    EXPECT_EQ(kelvo_asr::calibrated_confidence(7.0f), kelvo_asr::calibrated_confidence(1.0f));
}

} // namespace

namespace {

kelvo_asr::word_evidence evidence(float posterior, float competitor) {
    kelvo_asr::word_evidence e;
    e.node_posterior = e.word_posterior = e.mean_posterior = posterior;
    e.competitor                                           = competitor;
    e.acoustic                                             = -2;
    e.language                                             = -1;
    e.frames_per_phone                                     = 8;
    e.snr                                                  = 40;
    e.segment_mean                                         = 0.9f;
    return e;
}

TEST(WordConfidence, RanksContestedWordsBelowSureOnesAndStaysAProbability) {
    const float sure      = kelvo_asr::word_confidence(evidence(0.99f, 0.0f));
    const float contested = kelvo_asr::word_confidence(evidence(0.4f, 0.55f));
    EXPECT_GT(sure, 0.8f);
    EXPECT_LT(contested, 0.7f);
    EXPECT_LT(contested, sure);
    // Noisier segments, where more words are wrong, leave the same word less sure.
    kelvo_asr::word_evidence noisy = evidence(0.99f, 0.0f);
    noisy.segment_mean             = 0.5f;
    EXPECT_LT(kelvo_asr::word_confidence(noisy), sure);
    // Evidence the lattice cannot give (NaN, infinities, out of range) still gives a probability.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const float v : { nan, inf, -inf, -5.0f, 7.0f }) {
        kelvo_asr::word_evidence e = evidence(v, v);
        e.acoustic = e.language = e.frames_per_phone = e.snr = e.segment_mean = v;
        const float c                                                         = kelvo_asr::word_confidence(e);
        EXPECT_TRUE(c > 0.0f && c < 1.0f) << v << " gives " << c;
    }
}

} // namespace
