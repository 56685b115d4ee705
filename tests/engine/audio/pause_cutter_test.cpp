#include "engine/audio/pause_cutter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using kelvo_asr::cut_at_pauses;
using kelvo_asr::speech_piece;
namespace rule = kelvo_asr::pause_rule;

constexpr int32_t frame = rule::frame_samples;

// A recording described frame by frame: runs of sound (a voiced buzz with short dips, never quiet for
// long) and of silence, optionally under steady white noise.
struct recording {
    std::vector<float> samples;
    uint32_t           noise_state = 12345u;

    recording & sound(int32_t frames) {
        for (int32_t f = 0; f < frames; f++) {
            // 30 ms of tone, 10 ms at a third of the level: speech is not steady, yet never pauses.
            const double level = (f % 4 == 1) ? 0.1 : 0.3;
            for (int32_t i = 0; i < frame; i++) {
                const double t = static_cast<double>(samples.size()) / 16000.0;
                samples.push_back(static_cast<float>(level * std::sin(2 * M_PI * 180 * t)));
            }
        }
        return *this;
    }
    recording & quiet(int32_t frames) {
        samples.insert(samples.end(), static_cast<size_t>(frames * frame), 0.0f);
        return *this;
    }
    // White noise at `db` below the sound's level over the whole recording so far.
    recording & noise(double db) {
        const double amplitude = 0.3 / std::sqrt(2.0) * std::pow(10.0, -db / 20.0) * std::sqrt(3.0);
        for (float & s : samples) {
            noise_state = noise_state * 1664525u + 1013904223u;
            s += static_cast<float>(amplitude * (2.0 * (noise_state >> 8) / 16777216.0 - 1.0));
        }
        return *this;
    }
    std::vector<speech_piece> cut() const {
        return cut_at_pauses(samples.data(), static_cast<int32_t>(samples.size()));
    }
};

// Pieces as frame ranges, for readable expectations.
std::vector<std::pair<int32_t, int32_t>> frames_of(const std::vector<speech_piece> & pieces) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const speech_piece & p : pieces) {
        out.emplace_back(p.start / frame, (p.end + frame - 1) / frame);
    }
    return out;
}

using frame_ranges = std::vector<std::pair<int32_t, int32_t>>;

TEST(PauseCutter, CutsAtPausesAndOnlyThere) {
    const int32_t pad = rule::padding_frames;
    const int32_t cut = rule::cut_pause_frames;
    const struct {
        const char * name;
        recording    rec;
        frame_ranges expected;
    } cases[] = {
        { "silence", recording().quiet(500), {} },
        { "no samples", recording(), {} },
        { "speech without a pause is one piece, however long", recording().sound(3800), { { 0, 3800 } } },
        { "pauses at both edges are left out but for the padding",
          recording().quiet(100).sound(300).quiet(100),
          { { 100 - pad, 400 + pad } } },
        { "a short quiet run is inside speech",
          recording().quiet(100).sound(200).quiet(rule::min_pause_frames - 1).sound(200).quiet(100),
          { { 100 - pad, 100 + 400 + rule::min_pause_frames - 1 + pad } } },
        { "a pause shorter than a cut stays inside the piece",
          recording().quiet(100).sound(200).quiet(cut - 1).sound(200).quiet(100),
          { { 100 - pad, 100 + 400 + cut - 1 + pad } } },
        { "a long pause ends a piece",
          recording().quiet(100).sound(200).quiet(cut).sound(200).quiet(100),
          { { 100 - pad, 300 + pad }, { 300 + cut - pad, 300 + cut + 200 + pad } } },
        { "pieces share a short pause half and half",
          recording().sound(200).quiet(cut).sound(2000).quiet(30).sound(200),
          { { 0, 200 + pad }, { 200 + cut - pad, 2200 + cut + 15 }, { 2200 + cut + 15, 2200 + cut + 30 + 200 } } },
        { "too little sound between pauses is noise",
          recording().quiet(200).sound(rule::min_speech_frames - 1).quiet(200),
          {} },
        { "just enough sound between pauses is speech",
          recording().quiet(200).sound(rule::min_speech_frames).quiet(200),
          { { 200 - pad, 200 + rule::min_speech_frames + pad } } },
        { "an overlong piece is cut at its longest pause",
          recording().sound(900).quiet(rule::min_pause_frames).sound(900).quiet(rule::min_pause_frames + 10).sound(900),
          { { 0, 1830 + 20 }, { 1850, 2770 } } },
    };
    for (const auto & c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(frames_of(c.rec.cut()), c.expected);
    }
}

TEST(PauseCutter, HoldsUnderNoiseAndOddSamples) {
    // At 20 dB below the speech the pauses are still found, within a frame or two of the clean ones.
    const frame_ranges clean = frames_of(recording().quiet(150).sound(300).quiet(100).sound(250).quiet(150).cut());
    const frame_ranges noisy =
        frames_of(recording().quiet(150).sound(300).quiet(100).sound(250).quiet(150).noise(20).cut());
    ASSERT_EQ(clean.size(), 2u);
    ASSERT_EQ(noisy.size(), clean.size());
    for (size_t i = 0; i < clean.size(); i++) {
        EXPECT_NEAR(noisy[i].first, clean[i].first, 2);
        EXPECT_NEAR(noisy[i].second, clean[i].second, 2);
    }
    // Noise alone holds no speech.
    EXPECT_TRUE(recording().quiet(1000).noise(20).cut().empty());

    // NaN and infinite samples read as silence: they neither make speech nor hide it.
    recording odd = recording().quiet(100).sound(300).quiet(100);
    for (size_t i = 0; i < 50 * frame; i += 7) {
        odd.samples[i] =
            (i % 2 == 0) ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
    }
    EXPECT_EQ(frames_of(odd.cut()), (frame_ranges{ { 100 - rule::padding_frames, 400 + rule::padding_frames } }));
    recording all_nan;
    all_nan.samples.assign(16000, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(all_nan.cut().empty());
}

} // namespace
