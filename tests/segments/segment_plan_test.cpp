// Segment planning: widening of turns into the gaps to their file neighbours, sample conversion, the
// minimum length, and the invariants that hold for any turns, absurd times included.

#include "segments/segments.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

// Field-wise equality for the checks below (global, so that the standard algorithms find it).
static bool operator==(const Segment & a, const Segment & b) {
    return a.start == b.start && a.end == b.end && a.label == b.label;
}

namespace {

constexpr int32_t kRate = 16000;
constexpr double  kNan  = std::numeric_limits<double>::quiet_NaN();
constexpr double  kInf  = std::numeric_limits<double>::infinity();
constexpr double  kMax  = std::numeric_limits<double>::max();

std::string describe(const std::vector<Segment> & segments) {
    std::string text;
    for (const Segment & s : segments) {
        text += "(" + std::to_string(s.start) + ", " + std::to_string(s.end) + ", " + std::to_string(s.label) + ") ";
    }
    return text;
}

struct PlanCase {
    const char *         name;
    int32_t              samples; // length of the silent recording
    std::vector<Turn>    turns;
    std::vector<Segment> expected;
};

TEST(SegmentPlan, PlansAsExpected) {
    const std::vector<PlanCase> cases = {
        { "no turns, 10 s", 10 * kRate, {}, { { 0, 160000, 0 } } },
        { "no turns, empty recording", 0, {}, { { 0, 0, 0 } } },
        { "no turns, 100 s of silence",
          100 * kRate,
          {},
          { { 0, 352400, 0 }, { 352400, 704800, 0 }, { 704800, 1057200, 0 }, { 1057200, 1600000, 0 } } },
        { "single turn", 10 * kRate, { { 1.0, 2.0, 'P' } }, { { 13600, 34400, 'P' } } },
        { "a short gap is shared",
          10 * kRate,
          { { 1.0, 2.0, 'P' }, { 2.1, 3.0, 'C' } },
          { { 13600, 32800, 'P' }, { 32800, 50400, 'C' } } },
        { "first turn at 0.1 s", 10 * kRate, { { 0.1, 1.0, 'P' } }, { { 800, 18400, 'P' } } },
        { "turn before the recording", 10 * kRate, { { -1.0, 1.0, 'P' } }, { { 0, 18400, 'P' } } },
        { "touching turns, middle one too short",
          10 * kRate,
          { { 4.0, 5.0, 'A' }, { 5.0, 5.05, 'B' }, { 5.05, 6.0, 'C' } },
          { { 61600, 80000, 'A' }, { 80800, 98400, 'C' } } },
        { "overlapping turns",
          10 * kRate,
          { { 1.0, 5.0, 'P' }, { 4.0, 8.0, 'C' } },
          { { 13600, 80000, 'P' }, { 64000, 130400, 'C' } } },
        { "starts 0.2 s after the end", 10 * kRate, { { 10.2, 11.0, 'P' } }, {} },
        { "starts 0.01 s after the end", 10 * kRate, { { 10.01, 11.0, 'P' } }, { { 157760, 160000, 'P' } } },
        { "truncation toward zero", 10 * kRate, { { 3.0, 3.05, 'P' } }, { { 45600, 51199, 'P' } } },
        { "out of time order keeps file order",
          10 * kRate,
          { { 6.0, 7.0, 'P' }, { 2.0, 3.0, 'C' } },
          { { 93600, 112000, 'P' }, { 32000, 50400, 'C' } } },
        { "long turn is split",
          70 * kRate,
          { { 1.0, 61.0, 'P' } },
          { { 13600, 366000, 'P' }, { 366000, 718400, 'P' }, { 718400, 978400, 'P' } } },
        { "every turn dropped: empty plan", 10 * kRate, { { 20.0, 21.0, 'P' }, { -5.0, -4.0, 'C' } }, {} },
        { "exactly 1600 samples are kept",
          159600,
          { { 0.0, 9.875, 'A' }, { 9.875, 12.0, 'P' } },
          { { 0, 158000, 'A' }, { 158000, 159600, 'P' } } },
        { "1599 samples are dropped", 159599, { { 0.0, 9.875, 'A' }, { 9.875, 12.0, 'P' } }, { { 0, 158000, 'A' } } },
        // Times far outside the 32-bit sample range saturate, then clamp into the recording.
        { "huge span covers the recording", 10 * kRate, { { -1e300, 1e300, 'P' } }, { { 0, 160000, 'P' } } },
        { "largest doubles", 10 * kRate, { { -kMax, kMax, 'P' } }, { { 0, 160000, 'P' } } },
        { "infinite span", 10 * kRate, { { -kInf, kInf, 'P' } }, { { 0, 160000, 'P' } } },
        { "end far past the 32-bit range", 10 * kRate, { { 1.0, 1e10, 'P' } }, { { 13600, 160000, 'P' } } },
        { "far after the recording", 10 * kRate, { { 1e12, 1e13, 'P' } }, {} },
        { "far before the recording", 10 * kRate, { { -1e13, -1e12, 'P' } }, {} },
        { "just past the 32-bit range", 10 * kRate, { { 134218.0, 134219.0, 'P' } }, {} },
        { "not-a-number start", 10 * kRate, { { kNan, 2.0, 'P' } }, {} },
        { "not-a-number end", 10 * kRate, { { 1.0, kNan, 'P' } }, {} },
        // A neighbour whose time gives no valid gap widens nothing; an infinite gap widens fully.
        { "not-a-number neighbour", 10 * kRate, { { 1.0, 2.0, 'P' }, { kNan, kNan, 'C' } }, { { 13600, 32000, 'P' } } },
        { "infinite neighbours",
          10 * kRate,
          { { -kInf, -kInf, 'A' }, { 1.0, 2.0, 'P' }, { kInf, kInf, 'C' } },
          { { 13600, 34400, 'P' } } },
    };
    for (const PlanCase & c : cases) {
        const std::vector<float>   samples(static_cast<size_t>(c.samples), 0.0f);
        const std::vector<Segment> segments = plan_segments(c.turns, samples, kRate);
        EXPECT_EQ(segments, c.expected) << c.name << ": " << describe(segments);
    }
}

TEST(SegmentPlan, ChangesOfVoiceCutTheRecordingAndEachPartIsSplitAsAWhole) {
    const std::vector<float> ten(10 * kRate, 0.0f);
    const std::vector<float> seventy(70 * kRate, 0.0f);
    EXPECT_EQ(plan_segments_at({}, seventy, kRate), plan_segments({}, seventy, kRate));
    // Changes at the ends, repeated, out of order or outside the recording cut nothing.
    const std::vector<Segment> two = { { 0, 40000, 0 }, { 40000, 160000, 0 } };
    EXPECT_EQ(plan_segments_at({ 0, 40000, 40000, 20000, 160000, 200000 }, ten, kRate), two);
    EXPECT_EQ(plan_segments_at({ -5, 40000 }, ten, kRate), two);
    // A part longer than 38 s is split as the whole recording would be, from its own start.
    const std::vector<Segment> parts = plan_segments_at({ 16000, 1080000 }, seventy, kRate);
    std::vector<Segment>       expected{ { 0, 16000, 0 } };
    for (const AudioPiece & p : split_long_audio(std::span(seventy).subspan(16000, 1064000), kRate)) {
        expected.push_back({ 16000 + p.start, 16000 + p.end, 0 });
    }
    expected.push_back({ 1080000, 1120000, 0 });
    EXPECT_EQ(parts, expected) << describe(parts);
    EXPECT_GT(parts.size(), 3u);
}

TEST(SegmentPlan, DegenerateRatesKeepSegmentsInside) {
    const std::vector<float> samples(1000, 0.0f);
    const std::vector<Turn>  turns = { { 0.0, 1.0, 'P' }, { -kInf, kInf, 'C' }, { 5.0, 6.0, 'D' } };
    for (const int32_t rate :
         { 0, -16000, 1, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min() }) {
        for (const Segment & s : plan_segments(turns, samples, rate)) {
            EXPECT_LE(0, s.start) << rate;
            EXPECT_LE(s.start, s.end) << rate;
            EXPECT_LE(s.end, 1000) << rate;
        }
    }
}

TEST(SegmentPlan, RandomTurnsStayInsideTheRecording) {
    std::mt19937                           random(7);
    std::uniform_real_distribution<double> start(-30.0, 330.0);
    std::uniform_real_distribution<double> length(-5.0, 90.0);
    std::normal_distribution<float>        noise(0.0f, 0.05f);
    std::vector<float>                     samples(static_cast<size_t>(300 * kRate));
    for (float & s : samples) {
        s = noise(random);
    }
    const int32_t n = static_cast<int32_t>(samples.size());
    for (int trial = 0; trial < 40; trial++) {
        std::vector<Turn> turns;
        const int         count = std::uniform_int_distribution<int>(1, 30)(random);
        for (int i = 0; i < count; i++) {
            const double t = start(random);
            turns.push_back(Turn{ t, t + length(random), static_cast<char>('A' + i) });
        }
        const std::vector<Segment> segments  = plan_segments(turns, samples, kRate);
        size_t                     next_turn = 0; // labels are unique per turn and must come in file order
        for (size_t i = 0; i < segments.size(); i++) {
            const Segment & s = segments[i];
            EXPECT_LE(0, s.start);
            EXPECT_LE(s.start, s.end);
            EXPECT_LE(s.end, n);
            EXPECT_LE(s.end - s.start, 38 * kRate);
            const size_t turn = static_cast<size_t>(s.label - 'A');
            ASSERT_LT(turn, turns.size());
            ASSERT_GE(turn, next_turn) << "trial " << trial;
            if (i > 0 && segments[i - 1].label == s.label) {
                EXPECT_EQ(segments[i - 1].end, s.start) << "pieces of one turn tile it";
            }
            next_turn = turn;
            // Every segment lies inside its turn widened by at most 0.15 s on each side.
            EXPECT_GE(s.start, static_cast<int32_t>((turns[turn].start - 0.15) * kRate) - 1);
            EXPECT_LE(s.end, static_cast<int32_t>((turns[turn].end + 0.15) * kRate) + 1);
        }
    }
}

} // namespace
