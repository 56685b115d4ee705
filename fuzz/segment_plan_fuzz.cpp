// The long-audio splitter and segment planning on recordings whose samples may be NaN, infinite or huge,
// with any rate and absurd turn times: pieces tile their stretch, every segment lies inside the recording
// (0 <= start <= end <= n) and is at most 38 s long, and both equal a plain step-by-step computation.

#include "fuzz_support.h"
#include "segments/segments.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

float pick_sample(FuzzedDataProvider & in) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
        return std::numeric_limits<float>::quiet_NaN();
    case 1:
        return std::numeric_limits<float>::infinity();
    case 2:
        return -std::numeric_limits<float>::infinity();
    case 3:
        return std::numeric_limits<float>::max();
    case 4:
        return 0.0f;
    case 5:
        return in.ConsumeFloatingPoint<float>();
    default:
        return in.ConsumeFloatingPointInRange<float>(-1.0f, 1.0f);
    }
}

// The splitter done step by step in 64-bit arithmetic; under 40 samples per second there is no window
// to search and the default cut is kept.
std::vector<AudioPiece> plain_split(const float * samples, int64_t n, int32_t rate) {
    std::vector<AudioPiece> pieces;
    const int64_t           longest = 38 * int64_t(rate);
    if (rate <= 0 || n <= longest) {
        pieces.push_back({ 0, int32_t(n) });
        return pieces;
    }
    const int64_t window = rate / 20;
    const int64_t hop    = window / 2;
    int64_t       pos    = 0;
    while (true) {
        int64_t cut  = pos + 30 * int64_t(rate);
        double  best = 1e30;
        for (int64_t p = pos + 22 * int64_t(rate); hop > 0 && p + window < pos + longest; p += hop) {
            double energy = 0.0;
            for (int64_t k = p; k < p + window; k++) {
                energy += double(samples[k]) * double(samples[k]);
            }
            if (energy < best) {
                best = energy;
                cut  = p + hop;
            }
        }
        pieces.push_back({ int32_t(pos), int32_t(cut) });
        pos = cut;
        if (!(n - pos > longest)) {
            break;
        }
    }
    pieces.push_back({ int32_t(pos), int32_t(n) });
    return pieces;
}

bool same_pieces(const std::vector<AudioPiece> & a, const std::vector<AudioPiece> & b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); i++) {
        if (a[i].start != b[i].start || a[i].end != b[i].end) {
            return false;
        }
    }
    return true;
}

void check_tiling(const std::vector<AudioPiece> & pieces, int64_t n, int32_t rate) {
    FUZZ_CHECK(!pieces.empty());
    FUZZ_CHECK(pieces.front().start == 0);
    FUZZ_CHECK(pieces.back().end == n);
    for (size_t i = 0; i < pieces.size(); i++) {
        FUZZ_CHECK(pieces[i].start <= pieces[i].end);
        if (i > 0) {
            FUZZ_CHECK(pieces[i].start == pieces[i - 1].end);
            FUZZ_CHECK(pieces[i].start < pieces[i].end);
        }
        if (rate > 0) {
            FUZZ_CHECK(pieces[i].end - pieces[i].start <= 38 * int64_t(rate));
        }
    }
}

double widening(double before, double after) {
    const double gap = after - before;
    return gap > 0.0 ? std::min(0.5 * gap, 0.15) : 0.0;
}

// The sample position truncated toward zero and clamped into lo ... hi; clamping first gives the same.
int32_t clamp_position(double position, int32_t lo, int32_t hi) {
    if (position <= lo) {
        return lo;
    }
    if (position >= hi) {
        return hi;
    }
    return int32_t(std::trunc(position));
}

std::vector<Segment> plain_plan(const std::vector<Turn> & turns, const std::vector<float> & samples, int32_t rate) {
    const int32_t        n = int32_t(samples.size());
    std::vector<Segment> out;
    if (turns.empty()) {
        for (const AudioPiece & p : plain_split(samples.data(), n, rate)) {
            out.push_back({ p.start, p.end, 0 });
        }
        return out;
    }
    const double duration = double(n) / double(rate);
    for (size_t i = 0; i < turns.size(); i++) {
        const double prev_end   = i > 0 ? turns[i - 1].end : 0.0;
        const double next_start = i + 1 < turns.size() ? turns[i + 1].start : duration;
        const double from       = (turns[i].start - widening(prev_end, turns[i].start)) * rate;
        const double to         = (turns[i].end + widening(turns[i].end, next_start)) * rate;
        if (std::isnan(from) || std::isnan(to)) {
            continue;
        }
        const int32_t s = clamp_position(from, 0, n);
        const int32_t e = clamp_position(to, s, n);
        if (e - s < rate / 10) {
            continue;
        }
        for (const AudioPiece & p : plain_split(samples.data() + s, e - s, rate)) {
            out.push_back({ s + p.start, s + p.end, turns[i].label });
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    FuzzedDataProvider in(data, size);

    // The tool's own rate on short recordings, and now and then on one long enough for two cuts; small
    // rates reach the cutting with few samples; any rate at all, too.
    int32_t rate  = 16000;
    int64_t max_n = 40000;
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0:
        max_n = 1300000;
        break; // a little over 81 s
    case 1:
    case 2:
    case 3:
        break;
    case 4:
        rate  = in.ConsumeIntegral<int32_t>();
        max_n = 4000;
        break;
    default:
        rate  = in.ConsumeIntegralInRange<int32_t>(1, 400);
        max_n = 120 * int64_t(rate);
    }
    const int64_t n = in.ConsumeIntegralInRange<int64_t>(0, max_n);

    // The samples: runs of values from a small palette, the rest silence.
    std::vector<float> palette;
    const int          colours = in.ConsumeIntegralInRange<int>(1, 6);
    for (int i = 0; i < colours; i++) {
        palette.push_back(pick_sample(in));
    }
    std::vector<float> samples(size_t(n), 0.0f);
    const int          runs = in.ConsumeIntegralInRange<int>(0, 16);
    for (int r = 0; r < runs && n > 0; r++) {
        const int64_t from   = in.ConsumeIntegralInRange<int64_t>(0, n - 1);
        const int64_t length = in.ConsumeIntegralInRange<int64_t>(1, std::max<int64_t>(1, n - from));
        const size_t  colour = in.ConsumeIntegralInRange<size_t>(0, palette.size() - 1);
        const float   first  = palette[colour];
        const float   second = in.ConsumeBool() ? palette[(colour + 1) % palette.size()] : first; // stripes
        for (int64_t k = from; k < from + length; k++) {
            samples[size_t(k)] = (k & 1) ? second : first;
        }
    }

    std::vector<Turn> turns;
    const int         turn_count = in.ConsumeIntegralInRange<int>(0, 12);
    for (int i = 0; i < turn_count; i++) {
        const double start = fuzz_pick_time(in, -50, 1000);
        const double end =
            in.ConsumeBool() ? start + in.ConsumeIntegralInRange<int>(0, 900) * 0.1 : fuzz_pick_time(in, -50, 1000);
        turns.push_back(Turn{ start, end, static_cast<char>(in.ConsumeIntegral<uint8_t>()) });
    }

    const std::vector<AudioPiece> pieces = split_long_audio(samples, rate);
    check_tiling(pieces, n, rate);
    FUZZ_CHECK(same_pieces(pieces, plain_split(samples.data(), n, rate)));

    const std::vector<Segment> segments = plan_segments(turns, samples, rate);
    for (const Segment & s : segments) {
        FUZZ_CHECK(0 <= s.start && s.start <= s.end && s.end <= n);
        if (rate > 0) {
            FUZZ_CHECK(s.end - s.start <= 38 * int64_t(rate));
        }
        if (turns.empty()) {
            FUZZ_CHECK(s.label == 0);
        }
    }
    const std::vector<Segment> want = plain_plan(turns, samples, rate);
    FUZZ_CHECK(segments.size() == want.size());
    for (size_t i = 0; i < want.size(); i++) {
        FUZZ_CHECK(segments[i].start == want[i].start && segments[i].end == want[i].end &&
                   segments[i].label == want[i].label);
    }
    return 0;
}
