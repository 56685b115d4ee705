// Plans the stretches of the recording to transcribe: the whole recording, or each speaker turn widened
// into the gaps to its file neighbours, cut into pieces of at most 38 s by the long-audio splitter.

#include "segments/segments.h"

#include <cmath>
#include <limits>

namespace {

// Half the gap from `before` to `after`, at most 0.15 s; 0 when the gap is not positive or not a number.
double widening(double before, double after) {
    const double gap = after - before;
    if (!(gap > 0.0)) {
        return 0.0;
    }
    const double half = 0.5 * gap;
    return half < 0.15 ? half : 0.15;
}

// The sample position `position` (seconds times rate, not NaN) truncated toward zero and clamped into
// lo ... hi (0 <= lo <= hi). Out-of-range positions are clamped before any conversion, so a position
// beyond the 32-bit range saturates instead of overflowing.
int32_t clamped_sample(double position, int32_t lo, int32_t hi) {
    if (position <= static_cast<double>(lo)) {
        return lo;
    }
    if (position >= static_cast<double>(hi)) {
        return hi;
    }
    return static_cast<int32_t>(position); // lo < position < hi: inside the 32-bit range
}

void append_pieces(std::vector<Segment> & segments, std::span<const float> samples, int32_t first, int32_t last,
                   int32_t rate, char label) {
    const std::vector<AudioPiece> pieces =
        split_long_audio(samples.subspan(static_cast<size_t>(first), static_cast<size_t>(last - first)), rate);
    for (const AudioPiece & piece : pieces) {
        segments.push_back(Segment{ first + piece.start, first + piece.end, label });
    }
}

// The recording's length as a 32-bit count: a longer recording is planned up to its last indexable sample.
int32_t indexable_size(std::span<const float> samples) {
    return samples.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : static_cast<int32_t>(samples.size());
}

} // namespace

std::vector<Segment> plan_segments(const std::vector<Turn> & turns, std::span<const float> samples, int32_t rate) {
    const int32_t n = indexable_size(samples);

    std::vector<Segment> segments;
    if (turns.empty()) {
        append_pieces(segments, samples, 0, n, rate, 0);
        return segments;
    }

    // Rates of 0 or less give no time line; they only have to give segments inside the recording.
    const double duration = rate > 0 ? static_cast<double>(n) / static_cast<double>(rate) : 0.0;
    for (size_t i = 0; i < turns.size(); i++) {
        const Turn & turn       = turns[i];
        const double prev_end   = i > 0 ? turns[i - 1].end : 0.0;
        const double next_start = i + 1 < turns.size() ? turns[i + 1].start : duration;
        const double lead_in    = widening(prev_end, turn.start);
        const double lead_out   = widening(turn.end, next_start);

        const double start_position = (turn.start - lead_in) * rate;
        const double end_position   = (turn.end + lead_out) * rate;
        // A time that is not a number has no place in the recording: the turn yields nothing.
        if (std::isnan(start_position) || std::isnan(end_position)) {
            continue;
        }
        const int32_t s = clamped_sample(start_position, 0, n);
        const int32_t e = clamped_sample(end_position, s, n);
        if (e - s < rate / 10) {
            continue;
        }
        append_pieces(segments, samples, s, e, rate, turn.label);
    }
    return segments;
}

std::vector<Segment> plan_segments_at(const std::vector<int32_t> & changes, std::span<const float> samples,
                                      int32_t rate) {
    const int32_t        n    = indexable_size(samples);
    int32_t              from = 0;
    std::vector<Segment> segments;
    for (const int32_t at : changes) {
        if (at > from && at < n) {
            append_pieces(segments, samples, from, at, rate, 0);
            from = at;
        }
    }
    append_pieces(segments, samples, from, n, rate, 0);
    return segments;
}
