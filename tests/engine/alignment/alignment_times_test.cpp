#include "engine/alignment/alignment_times.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using kelvo_asr::frames_to_times;
using kelvo_asr::placement;
using kelvo_asr::word_times;

constexpr double frame_s = 0.01;

struct times_case {
    const char *            name;
    std::vector<placement>  where;
    std::vector<bool>       silent;
    double                  length;
    std::vector<word_times> expected;
};

TEST(FramesToTimes, PlacesInterpolatesAndClampsWithoutEnergy) {
    const placement  none{};
    const times_case cases[] = {
        { "back to back",
          { { true, 10, 19 }, { true, 20, 29 } },
          { false, false },
          1.0,
          { { 0.10f, 0.20f }, { 0.20f, 0.30f } } },
        { "a start before the last end is held at it",
          { { true, 10, 29 }, { true, 25, 39 } },
          { false, false },
          1.0,
          { { 0.10f, 0.30f }, { 0.30f, 0.40f } } },
        { "times past the end are held at the length",
          { { true, 40, 59 }, { true, 60, 90 } },
          { false, false },
          0.55,
          { { 0.40f, 0.55f }, { 0.55f, 0.55f } } },
        { "a silent token sits after the word before it",
          { { true, 10, 19 }, none, { true, 40, 49 } },
          { false, true, false },
          1.0,
          { { 0.10f, 0.20f }, { 0.20f, 0.20f }, { 0.40f, 0.50f } } },
        { "a leading silent token sits before the word after it",
          { none, { true, 40, 49 } },
          { true, false },
          1.0,
          { { 0.40f, 0.40f }, { 0.40f, 0.50f } } },
        { "unplaced words are spread evenly between their neighbours",
          { { true, 0, 9 }, none, none, { true, 40, 49 } },
          { false, false, false, false },
          1.0,
          { { 0.0f, 0.10f }, { 0.20f, 0.20f }, { 0.30f, 0.30f }, { 0.40f, 0.50f } } },
        { "unplaced words at the end are spread up to the length",
          { { true, 0, 9 }, none },
          { false, false },
          0.5,
          { { 0.0f, 0.10f }, { 0.30f, 0.30f } } },
        { "nothing placed",
          { none, none, none },
          { false, true, false },
          0.8,
          { { 0.2f, 0.2f }, { 0.4f, 0.4f }, { 0.6f, 0.6f } } },
        { "no words", {}, {}, 1.0, {} },
    };
    for (const times_case & c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<word_times> got = frames_to_times(c.where, c.silent, frame_s, c.length, {});
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_NEAR(got[i].start, c.expected[i].start, 1e-5) << "word " << i;
            EXPECT_NEAR(got[i].end, c.expected[i].end, 1e-5) << "word " << i;
        }
    }
}

// Energy per 5 ms hop: quiet, then sound from 0.300 s to 0.600 s, then quiet again.
std::vector<double> pause_sound_pause() {
    std::vector<double> energy(200, 1e-4);
    for (size_t h = 60; h < 120; h++) {
        energy[h] = 0.1;
    }
    return energy;
}

TEST(FramesToTimes, EdgesMoveOntoTheSoundNextToAPause) {
    const std::vector<double> energy = pause_sound_pause();
    const struct {
        const char * name;
        placement    where;
        word_times   expected;
    } cases[] = {
        // The decoder began the word 60 ms inside the pause: it starts at the first sound.
        { "early start", { true, 24, 59 }, { 0.300f, 0.600f } },
        // Sound before the decoder's start belongs to the word; sound after its end too.
        { "late start and early end", { true, 33, 54 }, { 0.300f, 0.600f } },
        // An edge moves by less than 100 ms, in whole 5 ms steps.
        { "far off", { true, 15, 59 }, { 0.245f, 0.600f } },
    };
    for (const auto & c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<word_times> got = frames_to_times({ c.where }, { false }, frame_s, 1.0, energy);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_NEAR(got[0].start, c.expected.start, 1e-5);
        EXPECT_NEAR(got[0].end, c.expected.end, 1e-5);
    }
}

// Starts are found on the onset track (the cleaned signal), ends on the recording's own energy: a word whose
// first sound shows only in the cleaned signal starts there, and its end does not follow the cleaned track.
TEST(FramesToTimes, StartsOnTheOnsetTrackEndsOnTheRecording) {
    const std::vector<double> energy = pause_sound_pause();
    std::vector<double>       onset  = energy;
    for (size_t h = 50; h < 130; h++) {
        onset[h] = 0.1; // sound from 0.250 s to 0.650 s
    }
    const std::vector<word_times> got = frames_to_times({ { true, 28, 54 } }, { false }, frame_s, 1.0, energy, onset);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NEAR(got[0].start, 0.250f, 1e-5);
    EXPECT_NEAR(got[0].end, 0.600f, 1e-5);
    // Without an onset track the recording's energy decides both edges.
    const std::vector<word_times> plain = frames_to_times({ { true, 28, 54 } }, { false }, frame_s, 1.0, energy);
    EXPECT_NEAR(plain[0].start, 0.300f, 1e-5);
}

} // namespace
