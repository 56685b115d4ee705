// The long-audio splitter: where it cuts, how it breaks ties, and the tiling it always returns.

#include "segments/segments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

// Field-wise equality for the checks below (global, so that the standard algorithms find it).
static bool operator==(const AudioPiece & a, const AudioPiece & b) {
    return a.start == b.start && a.end == b.end;
}

namespace {

constexpr int32_t kRate = 16000;

std::string describe(const std::vector<AudioPiece> & pieces) {
    std::string text;
    for (const AudioPiece & p : pieces) {
        text += "(" + std::to_string(p.start) + ", " + std::to_string(p.end) + ") ";
    }
    return text;
}

// `count` samples of constant loud level with the given stretches [first, last) set to `quiet`.
struct Stretch {
    int32_t first;
    int32_t last;
    float   value;
};

std::vector<float> loud_with(int32_t count, const std::vector<Stretch> & stretches, float loud = 0.5f) {
    std::vector<float> samples(static_cast<size_t>(count), loud);
    for (const Stretch & s : stretches) {
        for (int32_t i = s.first; i < s.last; i++) {
            samples[static_cast<size_t>(i)] = s.value;
        }
    }
    return samples;
}

struct SplitCase {
    const char *            name;
    std::vector<float>      samples;
    std::vector<AudioPiece> expected;
};

TEST(LongAudioSplit, CutsWhereExpected) {
    const float                  nan   = std::numeric_limits<float>::quiet_NaN();
    const float                  inf   = std::numeric_limits<float>::infinity();
    const std::vector<SplitCase> cases = {
        { "empty stretch", {}, { { 0, 0 } } },
        { "exactly 38 s is not cut", std::vector<float>(608000, 0.0f), { { 0, 608000 } } },
        { "one sample over 38 s is cut", std::vector<float>(608001, 0.0f), { { 0, 352400 }, { 352400, 608001 } } },
        { "60 s of silence: first window wins the tie",
          std::vector<float>(960000, 0.0f),
          { { 0, 352400 }, { 352400, 960000 } } },
        { "quiet window at 25 s",
          loud_with(960000, { { 400000, 400800, 0.0f } }),
          { { 0, 400400 }, { 400400, 960000 } } },
        { "two equally quiet windows: the earlier",
          loud_with(960000, { { 400000, 400800, 0.0f }, { 500000, 500800, 0.0f } }),
          { { 0, 400400 }, { 400400, 960000 } } },
        // The window at 606800 is half quiet and is the last examined; the fully quiet one at 607200 is not.
        { "last examined window starts at 606800",
          loud_with(640000, { { 607200, 608000, 0.0f } }),
          { { 0, 607200 }, { 607200, 640000 } } },
        { "quiet audio before 22 s is never examined",
          loud_with(640000, { { 0, 352000, 0.0f } }),
          { { 0, 352400 }, { 352400, 640000 } } },
        // A running sum would carry the rounding of the huge samples into the later windows.
        { "every window summed afresh",
          loud_with(640000, { { 352000, 360000, 1.0e7f }, { 500000, 500800, 0.0f } }, 1.0e-3f),
          { { 0, 500400 }, { 500400, 640000 } } },
        { "not-a-number windows are never chosen",
          loud_with(640000, { { 352000, 500000, nan } }),
          { { 0, 500400 }, { 500400, 640000 } } },
        { "all not-a-number: default cut at 30 s",
          std::vector<float>(640000, nan),
          { { 0, 480000 }, { 480000, 640000 } } },
        { "all infinite: default cut at 30 s", std::vector<float>(640000, inf), { { 0, 480000 }, { 480000, 640000 } } },
        { "energies above 1e30: default cut",
          std::vector<float>(640000, 1.0e15f),
          { { 0, 480000 }, { 480000, 640000 } } },
    };
    for (const SplitCase & c : cases) {
        const std::vector<AudioPiece> pieces = split_long_audio(c.samples, kRate);
        EXPECT_EQ(pieces, c.expected) << c.name << ": " << describe(pieces);
    }
}

TEST(LongAudioSplit, DegenerateRatesStillTile) {
    const std::vector<float> samples(5000, 0.0f);
    // rate, expected piece count; no rate may hang or read outside the samples.
    const std::vector<std::pair<int32_t, size_t>> cases = {
        { 0, 1 },
        { -16000, 1 },
        { std::numeric_limits<int32_t>::min(), 1 },
        { std::numeric_limits<int32_t>::max(), 1 },
        { 1, 1 + (5000 - 38 + 29) / 30 }, // windows are empty: cuts every 30 samples until 38 remain
        { 39, 0 },
        { 40, 0 },
        { 100, 0 },
    };
    for (const auto & [rate, count] : cases) {
        const std::vector<AudioPiece> pieces = split_long_audio(samples, rate);
        ASSERT_FALSE(pieces.empty()) << rate;
        EXPECT_EQ(pieces.front().start, 0) << rate;
        EXPECT_EQ(pieces.back().end, 5000) << rate;
        for (size_t i = 1; i < pieces.size(); i++) {
            EXPECT_EQ(pieces[i].start, pieces[i - 1].end) << rate;
            EXPECT_LT(pieces[i].start, pieces[i].end) << rate;
        }
        if (count > 0) {
            EXPECT_EQ(pieces.size(), count) << rate;
        }
    }
}

TEST(LongAudioSplit, RandomStretchesTileWithinBounds) {
    std::mt19937                          random(20240611);
    std::normal_distribution<float>       noise(0.0f, 0.01f);
    std::uniform_int_distribution<int>    quiet_spots(0, 20);
    std::uniform_int_distribution<size_t> length(0, 200 * kRate);
    std::vector<float>                    buffer(static_cast<size_t>(200 * kRate));
    for (float & s : buffer) {
        s = noise(random);
    }
    // Scatter quiet stretches and silence so that cuts land all over the search zone.
    const int spots = 400;
    for (int k = 0; k < spots; k++) {
        const size_t at  = std::uniform_int_distribution<size_t>(0, buffer.size() - 4000)(random);
        const size_t len = std::uniform_int_distribution<size_t>(100, 4000)(random);
        for (size_t i = at; i < at + len; i++) {
            buffer[i] *= quiet_spots(random) == 0 ? 0.0f : 0.01f;
        }
    }
    for (int trial = 0; trial < 60; trial++) {
        const size_t                  n      = trial < 3 ? static_cast<size_t>(608000 + trial) : length(random);
        const size_t                  offset = std::uniform_int_distribution<size_t>(0, buffer.size() - n)(random);
        const std::span<const float>  stretch(buffer.data() + offset, n);
        const std::vector<AudioPiece> pieces = split_long_audio(stretch, kRate);
        ASSERT_FALSE(pieces.empty());
        EXPECT_EQ(pieces.front().start, 0);
        EXPECT_EQ(pieces.back().end, static_cast<int32_t>(n));
        for (size_t i = 0; i < pieces.size(); i++) {
            const int32_t len = pieces[i].end - pieces[i].start;
            if (i > 0) {
                EXPECT_EQ(pieces[i].start, pieces[i - 1].end) << "trial " << trial;
            }
            if (i + 1 < pieces.size()) {
                EXPECT_GE(len, 352400) << "trial " << trial << " piece " << i;
                EXPECT_LE(len, 607200) << "trial " << trial << " piece " << i;
            } else {
                EXPECT_LE(len, 608000) << "trial " << trial;
                if (pieces.size() > 1) {
                    EXPECT_GT(len, 800) << "trial " << trial;
                }
            }
        }
    }
}

} // namespace
