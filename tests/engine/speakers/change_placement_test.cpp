// Placing changes of voice: a change found early moves to where the two voices meet, and a short run
// between two changes is never eaten, however wrong it is, since neither change may pass its middle.

#include "engine/speakers/change_placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

using kelvo_asr::piece_frames;
using kelvo_asr::voice_run;

// Six seconds: a low buzz of 110 Hz harmonics falling steeply for the first three, then a brighter one of
// 190 Hz harmonics falling gently, both with a little hiss (the same on every run).
std::vector<float> two_voices() {
    std::vector<float> s(96000, 0.0f);
    uint32_t           lcg = 777;
    for (size_t i = 0; i < s.size(); i++) {
        lcg                  = lcg * 1664525u + 1013904223u;
        const bool   first   = i < 48000;
        const double pitch   = first ? 110.0 : 190.0;
        const double falloff = first ? 1.6 : 0.6;
        double       v       = 0.002 * (static_cast<double>(lcg >> 8) / 8388608.0 - 1.0);
        for (int k = 1; k * pitch < 7000.0; k++) {
            v += 0.1 / std::pow(k, falloff) *
                 std::sin(2.0 * std::numbers::pi * pitch * k * static_cast<double>(i) / 16000.0);
        }
        s[i] = static_cast<float>(v);
    }
    return s;
}

// One piece of every frame, with the voice runs given.
piece_frames piece_of(int32_t n_frames, std::vector<voice_run> voices) {
    piece_frames p;
    p.runs     = { { 0, n_frames } };
    p.n_frames = static_cast<size_t>(n_frames);
    p.voices   = std::move(voices);
    return p;
}

TEST(ChangePlacement, AnEarlyChangeMovesToTheTurnAndAShortRunSurvives) {
    const std::vector<float>                samples = two_voices();
    const auto                              n       = static_cast<int32_t>(samples.size());
    const kelvo_asr::voice_cepstra          c       = kelvo_asr::compute_voice_cepstra(samples.data(), n);
    const int32_t                           frames  = kelvo_asr::voice_frame_count(n) - 3; // whole windows only
    const kelvo_asr::voice_finding_settings settings;
    const kelvo_asr::voice_vector           ridge{ 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01 };

    // The turn is at frame 300 (sample 48000; the window of frame 298 already reaches it).
    std::vector<piece_frames> early = { piece_of(frames, { { 0, 0 }, { 250, 1 } }) };
    kelvo_asr::place_changes(c, early, ridge, settings);
    ASSERT_EQ(early[0].voices.size(), 2u);
    EXPECT_NEAR(static_cast<double>(early[0].voices[1].from), 299.0, 2.0);

    // A run of the second voice inside the first voice's turn: both changes move towards its middle, and it
    // keeps at least one frame.
    std::vector<piece_frames> short_run = { piece_of(frames, { { 0, 0 }, { 100, 1 }, { 110, 0 }, { 300, 1 } }) };
    kelvo_asr::place_changes(c, short_run, ridge, settings);
    const std::vector<voice_run> & v = short_run[0].voices;
    ASSERT_EQ(v.size(), 4u);
    EXPECT_LT(v[0].from, v[1].from);
    EXPECT_LT(v[1].from, v[2].from);
    EXPECT_LE(v[2].from, 110u);
    EXPECT_NEAR(static_cast<double>(v[3].from), 299.0, 2.0);

    // Settings that turn placing off leave every run as it was.
    kelvo_asr::voice_finding_settings off = settings;
    off.place_window                      = 0;
    std::vector<piece_frames> kept        = { piece_of(frames, { { 0, 0 }, { 250, 1 } }) };
    kelvo_asr::place_changes(c, kept, ridge, off);
    EXPECT_EQ(kept[0].voices[1].from, 250u);
}

} // namespace
