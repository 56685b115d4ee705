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
