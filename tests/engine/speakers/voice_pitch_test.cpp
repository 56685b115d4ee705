// The pitch that keeps voices of distinct pitch apart in the final merge: a voice whose harmonics are all
// there must read at its own pitch, not at half or twice it; silence and frames whose window reaches past
// the recording are unvoiced; a histogram's median comes from its voiced frames only.

#include "engine/speakers/voice_pitch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

TEST(VoicePitch, ReadsTheVoicesOwnPitchAndNothingWhereThereIsNone) {
    using kelvo_asr::frame_pitch_semitones;
    for (const double hz : { 95.0, 210.0 }) {
        // Ten harmonics falling 3 dB each, one second.
        std::vector<float> samples(16000, 0.0f);
        for (size_t i = 0; i < samples.size(); i++) {
            for (int k = 1; k <= 10; k++) {
                samples[i] +=
                    static_cast<float>(0.1 * std::pow(0.7, k - 1) *
                                       std::sin(2.0 * std::numbers::pi * hz * k * static_cast<double>(i) / 16000.0));
            }
        }
        const auto n = static_cast<int32_t>(samples.size());
        EXPECT_NEAR(frame_pitch_semitones(samples.data(), n, 50), 12.0 * std::log2(hz), 0.3) << hz;
        EXPECT_EQ(frame_pitch_semitones(samples.data(), n, 0), 0.0f);  // the window starts before the samples
        EXPECT_EQ(frame_pitch_semitones(samples.data(), n, 99), 0.0f); // ... and ends after them
    }
    const std::vector<float> silence(16000, 0.0f);
    EXPECT_EQ(frame_pitch_semitones(silence.data(), 16000, 50), 0.0f);

    kelvo_asr::pitch_histogram h;
    EXPECT_EQ(kelvo_asr::median_pitch(h), 0.0);
    for (const float semitones : { 80.0f, 80.0f, 90.0f, 200.0f, 10.0f }) {
        kelvo_asr::add_pitch(h, semitones); // the last two fall in the end bins
    }
    EXPECT_NEAR(kelvo_asr::median_pitch(h), 80.05, 1e-4);
}

} // namespace
