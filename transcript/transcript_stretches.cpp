#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Where a cut before a run goes: a little ahead of the recognised start, which can be late by a frame or two.
constexpr double cut_lead_seconds = 0.02;

// The fewest recognised words in a row, standing for no transcript word, that are kept out of the alignment.
constexpr size_t min_hole_words = 2;

// Stretches shorter than this are merged: a stretch needs room for the aligner to find its words.
constexpr double min_stretch_seconds = 0.3;

// The share of their rough length that written words are taken to span among the recognised words.
constexpr double said_share = 0.5;

int32_t to_sample(double seconds, int32_t rate) {
    return static_cast<int32_t>(std::lround(seconds * static_cast<double>(rate)));
}

// The written words [first, end), unmatched between two matched ones, beside the recognised words [j_first,
// j_end) between those: when they open a sentence (the word before them closes one) and close none, the
// recognised words they are said over, taken from the end, as many as their time takes at the recogniser's
// pace (half the rough length); when they close one and open none, those from the start. Else an empty range.
std::pair<size_t, size_t> said_beside_hole(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                                           const std::vector<HeardWord> & heard, size_t first, size_t end,
                                           size_t j_first, size_t j_end) {
    if (first == 0 || end <= first || j_end <= j_first || j_end > heard.size()) {
        return { 0, 0 };
    }
    double need   = 0;
    bool   inside = false; // a sentence ends inside the run, before its last word
    for (size_t k = first; k < end; k++) {
        if (plan.unheard[k]) {
            return { 0, 0 };
        }
        need += words[k].key.empty() ? 0.0 : spoken_seconds(words[k].key);
        inside = inside || (k + 1 < end && turn_or_sentence_ends(words, k));
    }
    const bool opens  = turn_or_sentence_ends(words, first - 1);
    const bool closes = turn_or_sentence_ends(words, end - 1);
    if (inside || opens == closes) {
        return { 0, 0 };
    }
    const double span = said_share * need;
    if (opens) { // said at the end: the recognised words from the last one back that span holds
        const double until = j_end < heard.size() ? heard[j_end].start : heard[j_end - 1].start;
        size_t       k     = j_end;
        while (k > j_first && until - heard[k - 1].start < span) {
            k--;
        }
        return { k > j_first ? k - 1 : j_first, j_end };
    }
    size_t k = j_first + 1;
    while (k < j_end && heard[k].start - heard[j_first].start < span) {
        k++;
    }
    return { j_first, k };
}

} // namespace

std::vector<Stretch> plan_stretches(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                                    const std::vector<HeardWord> & heard, const Segment & segment, size_t index,
                                    int32_t rate) {
    const size_t n     = plan.segment.size();
    size_t       first = 0;
    while (first < n && plan.segment[first] < index) {
        first++;
    }
    size_t last = first;
    while (last < n && plan.segment[last] == index) {
        last++;
    }
    std::vector<Stretch> stretches;
    if (first == last) {
        return stretches;
    }
    // The segment is aligned whole, but for holes: runs of recognised speech that no transcript word stands for,
    // between two matched words (or a matched word and the segment's edge) with nothing to align between them.
    // The aligner would draw the words around a hole over it, so the audio on either side is aligned apart.
    size_t heard_from = 0; // the segment's recognised words are [heard_from, heard_to)
    while (heard_from < heard.size() && heard[heard_from].segment < index) {
        heard_from++;
    }
    size_t heard_to = heard_from;
    while (heard_to < heard.size() && heard[heard_to].segment == index) {
        heard_to++;
    }
    const int32_t min_samples = to_sample(min_stretch_seconds, rate);
    auto          cut_before  = [&](size_t j) {
        return j < heard_to ? std::clamp(to_sample(heard[j].start - cut_lead_seconds, rate), segment.start, segment.end)
                                      : segment.end;
    };
    stretches.push_back({ segment.start, segment.end, first, last });
    size_t j_next = heard_from; // the first recognised word after the last matched one
    size_t i_next = first;      // the first transcript word after the last matched one
    for (size_t i = first; i <= last; i++) {
        if (i < last && plan.heard[i] < 0) {
            continue;
        }
        const size_t j                = i < last ? static_cast<size_t>(plan.heard[i]) : heard_to;
        bool         nothing_to_align = true;
        for (size_t k = i_next; k < i; k++) {
            nothing_to_align = nothing_to_align && plan.unheard[k];
        }
        if (nothing_to_align && j >= j_next + min_hole_words) {
            const int32_t from = cut_before(j_next);
            const int32_t to   = cut_before(j);
            Stretch &     open = stretches.back();
            if (from - open.from >= min_samples) {
                open.to   = from;
                open.last = i;
                stretches.push_back({ to, segment.end, i, last });
            } else { // too little before the hole to align: the stretch starts after it
                open.from = to;
            }
        } else if (!nothing_to_align && i < last) {
            // A few written words beside more recognised speech than they take, that open a sentence (or close
            // one): they are said at that speech's end (or start), and the rest is a hole.
            const auto [keep_from, keep_to] = said_beside_hole(words, plan, heard, i_next, i, j_next, j);
            const SentenceGap gap =
                i_next > first ? gap_between_sentences(words, plan, heard, i_next, i, j_next, j) : SentenceGap{};
            Stretch & open = stretches.back();
            if (gap.heard_to > gap.heard_from) { // speech the transcript lacks between two of its sentences
                const int32_t from = cut_before(gap.heard_from);
                const int32_t to   = cut_before(gap.heard_to);
                if (from - open.from >= min_samples && gap.word > open.first) {
                    open.to              = from;
                    open.last            = gap.word;
                    open.unwritten_after = true;
                    stretches.push_back({ to, segment.end, gap.word, last, true, false });
                }
            } else if (keep_to > keep_from && keep_to == j && keep_from >= j_next + min_hole_words) {
                const int32_t from = cut_before(j_next);
                const int32_t to   = cut_before(keep_from);
                if (from - open.from >= min_samples && i_next > open.first) {
                    open.to   = from;
                    open.last = i_next;
                    stretches.push_back({ to, segment.end, i_next, last });
                } else if (i_next == open.first) {
                    open.from = to;
                }
            } else if (keep_to > keep_from && keep_from == j_next && j >= keep_to + min_hole_words) {
                const int32_t from = cut_before(keep_to);
                const int32_t to   = cut_before(j);
                if (from - open.from >= min_samples) {
                    open.to   = from;
                    open.last = i;
                    stretches.push_back({ to, segment.end, i, last });
                }
            }
        }
        j_next = j + 1;
        i_next = i + 1;
    }
    // A stretch too short to hold its words is given back to the one before it, hole and all.
    std::vector<Stretch> kept;
    for (const Stretch & st : stretches) {
        if (!kept.empty() && st.first == st.last) {
            continue; // nothing left to align after a hole at the segment's end
        }
        if (!kept.empty() && st.to - st.from < min_samples) {
            kept.back().to              = st.to;
            kept.back().last            = st.last;
            kept.back().unwritten_after = st.unwritten_after;
            continue;
        }
        kept.push_back(st);
    }
    return kept;
}

std::vector<Stretch> split_at_anchors(const TranscriptPlan & plan, const std::vector<HeardWord> & heard,
                                      const Stretch & whole, int32_t rate) {
    const int32_t        min_samples = to_sample(min_stretch_seconds, rate);
    std::vector<Stretch> pieces      = { whole };
    int32_t              previous    = -1; // recognised index of the last anchored word
    for (size_t i = whole.first; i < whole.last; i++) {
        if (!plan.anchor[i]) {
            continue;
        }
        const int32_t h = plan.heard[i];
        if (previous < 0 || h != previous + 1) { // a run starts here
            const int32_t cut  = std::clamp(to_sample(heard[static_cast<size_t>(h)].start - cut_lead_seconds, rate),
                                            whole.from, whole.to);
            Stretch &     open = pieces.back();
            if (i > open.first && cut - open.from >= min_samples && whole.to - cut >= min_samples) {
                open.to   = cut;
                open.last = i;
                pieces.push_back({ cut, whole.to, i, whole.last });
            }
        }
        previous = h;
    }
    return pieces;
}
