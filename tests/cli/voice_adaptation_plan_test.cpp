// How a recording is adapted to, from the voices found in it.

#include "cli/cli.h"
#include "engine/kelvo_asr.h"

#include <gtest/gtest.h>

namespace {

using kelvo_asr::voice_stretch;

constexpr int32_t             min_speech = static_cast<int32_t>(voice_plan_rule::min_voice_samples);
const kelvo_asr::noise_levels quiet      = { 100.0, 0.0 };                          // a recording with quiet pauses
constexpr int32_t             pause      = voice_plan_rule::min_turn_pause_samples; // the shortest between turns

TEST(PlanVoiceAdaptation, TrustsOnlyVoicesWithEnoughSpeechSummedOverTheirStretches) {
    EXPECT_EQ(plan_voice_adaptation({}, quiet), VoicePlan::none);
    // One voice is adapted to as a whole, and only with as much speech as each of several would need.
    EXPECT_EQ(
        plan_voice_adaptation({ { 0, min_speech / 2, 1 }, { min_speech, min_speech + min_speech / 2, 1 } }, quiet),
        VoicePlan::as_one);
    EXPECT_EQ(
        plan_voice_adaptation({ { 0, min_speech / 2, 1 }, { min_speech, min_speech + min_speech / 2 - 1, 1 } }, quiet),
        VoicePlan::none);
    // The second voice reaches the minimum only with both of its stretches.
    const std::vector<voice_stretch> two = { { 0, min_speech, 1 },
                                             { min_speech + pause, min_speech + pause + min_speech / 2, 2 },
                                             { 2 * min_speech, 2 * min_speech + min_speech / 2, 2 } };
    EXPECT_EQ(plan_voice_adaptation(two, quiet), VoicePlan::each_voice);
    std::vector<voice_stretch> short_of_it = two;
    short_of_it.back().end--;
    EXPECT_EQ(plan_voice_adaptation(short_of_it, quiet), VoicePlan::none);
    // One long voice and a scatter of short ones, as when one reader is cut into many.
    std::vector<voice_stretch> scattered = { { 0, 4 * min_speech, 1 } };
    for (int32_t v = 2; v <= 12; v++) {
        scattered.push_back({ v * min_speech, v * min_speech + 16000, v });
    }
    EXPECT_EQ(plan_voice_adaptation(scattered, quiet), VoicePlan::none);
}

TEST(PlanVoiceAdaptation, AdaptsToNothingOverBabbleWhateverVoicesAreFound) {
    const std::vector<voice_stretch> one = { { 0, 4 * min_speech, 1 } };
    const std::vector<voice_stretch> two = { { 0, min_speech, 1 }, { min_speech + pause, 2 * min_speech + pause, 2 } };
    const double                     gap = voice_plan_rule::babble_speech_over_floor;
    const double                     unsteady = voice_plan_rule::babble_floor_spread;
    const kelvo_asr::noise_levels    babble   = { gap - 0.1, unsteady };
    EXPECT_EQ(plan_voice_adaptation(one, babble), VoicePlan::none);
    EXPECT_EQ(plan_voice_adaptation(two, babble), VoicePlan::none);
    // Steady noise as loud, and babble far enough below the speech, keep their transforms.
    EXPECT_EQ(plan_voice_adaptation(one, { gap - 10, unsteady - 0.1 }), VoicePlan::as_one);
    EXPECT_EQ(plan_voice_adaptation(two, { gap, unsteady + 5 }), VoicePlan::each_voice);
}

// Segments end at the middle of each pause between two voices; where most turns follow without a pause, the
// changes inside a turn's last word are not cut at, whatever voice changes there.
TEST(SegmentCuts, CutAtEveryChangeUnlessMostTurnsComeWithoutAPause) {
    EXPECT_TRUE(segment_cuts({}).empty());
    // Two changes with a pause, one without; a pause inside one voice's turn is no cut.
    std::vector<voice_stretch> turns = { { 0, 16000, 1 },
                                         { 16000 + pause, 32000, 2 },
                                         { 32000 + 2 * pause, 48000, 2 },
                                         { 48000, 64000, 1 },
                                         { 64000 + pause + 2, 80000, 2 } };
    EXPECT_EQ(segment_cuts(turns), (std::vector<int32_t>{ 16000 + pause / 2, 48000, 64000 + pause / 2 + 1 }));
    // Two of three without a pause (the first one sample short of one): only the last change is cut at.
    turns[1].start--;
    turns[1].end = turns[2].end;
    turns.erase(turns.begin() + 2);
    EXPECT_EQ(segment_cuts(turns), (std::vector<int32_t>{ 64000 + pause / 2 + 1 }));
}

} // namespace
