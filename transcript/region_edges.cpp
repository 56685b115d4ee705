// The edges of a place where the check against the recognised words drew the words otherwise than the first
// alignment.

#include "transcript/transcript.h"

#include <cmath>

namespace {

// The word after a place was drawn against its last word when the first alignment left no more than this
// between them.
constexpr double abutting_seconds = 0.005;

// The most a word after a place is drawn back to where the place's last word now ends.
constexpr double pull_back_seconds = 0.15;

} // namespace

size_t region_words_lost(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, const Stretch & s,
                         size_t first, size_t last, const StretchTimes & written, const StretchTimes & times) {
    size_t before = 0, now = 0;
    for (size_t i = first; i < last; i++) {
        const size_t k = i - s.first;
        now += times.placed[k] ? 1 : 0;
        // A word drawn at the aligner's fewest frames is left out anyway (leave_out_squeezed_words).
        before += written.placed[k] && !drawn_as_unsaid(words, plan, i, written.start[k], written.end[k]) ? 1 : 0;
    }
    return before > now ? before - now : 0;
}

void fit_region_edges(const Stretch & s, size_t first, size_t last, const StretchTimes & written,
                      StretchTimes & times) {
    const size_t a = first - s.first;
    if (a > 0 && times.placed[a - 1] && times.placed[a] &&
        times.end[a - 1] > times.start[a] + transcript_overlap_seconds && times.start[a] > times.start[a - 1]) {
        times.end[a - 1] = times.start[a];
    }
    const size_t b = last - s.first;
    if (b == 0 || b >= times.placed.size() || !times.placed[b - 1] || !times.placed[b]) {
        return;
    }
    if (times.end[b - 1] > times.start[b] + transcript_overlap_seconds && times.start[b] > times.start[b - 1]) {
        times.end[b - 1] = times.start[b];
    }
    // The first alignment drew the word after against the place's last word: where that word now ends earlier,
    // the word after had been pushed with it.
    if (written.placed[b - 1] && written.placed[b] &&
        std::fabs(written.start[b] - written.end[b - 1]) < abutting_seconds && times.end[b - 1] < times.start[b] &&
        times.start[b] - times.end[b - 1] <= pull_back_seconds) {
        times.start[b] = times.end[b - 1];
    }
}
