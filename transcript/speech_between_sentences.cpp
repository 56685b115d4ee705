// Speech the transcript lacks between two of its sentences: where it lies among the recognised words, and which
// lone matches inside it are no evidence that a written sentence was said there.

#include "transcript/transcript.h"

#include <algorithm>

namespace {

// The fewest words with something to say in a sentence whose only match is doubted, and on each side of a gap.
constexpr size_t min_sentence_words = 3;

// The share of their rough length that written words are given on either side of the gap: the recogniser's
// starts run early, so the match after the gap is heard ahead of where its words end.
constexpr double kept_share = 1.25;

// The fewest recognised words left between the two kept spans that make a hole.
constexpr size_t min_gap_words = 2;

} // namespace

bool only_match_of_sentence(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, size_t i) {
    const auto [first, end] = sentence_around(words, i);
    size_t keyed            = 0;
    for (size_t k = first; k < end; k++) {
        keyed += words[k].key.empty() ? 0 : 1;
        if (k != i && plan.heard[k] >= 0) {
            return false;
        }
    }
    return keyed >= min_sentence_words;
}

SentenceGap gap_between_sentences(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                                  const std::vector<HeardWord> & heard, size_t first, size_t end, size_t j_first,
                                  size_t j_end) {
    const SentenceGap none{ 0, 0, 0 };
    if (first == 0 || end <= first || end >= words.size() || j_end <= j_first || j_end >= heard.size() ||
        turn_or_sentence_ends(words, first - 1) || turn_or_sentence_ends(words, end - 1)) {
        return none;
    }
    size_t split = end; // the first word after the run's first sentence end
    for (size_t k = first; k < end; k++) {
        if (plan.unheard[k]) {
            return none;
        }
        if (split == end && turn_or_sentence_ends(words, k)) {
            split = k + 1;
        }
    }
    // Each side must hold words enough to measure its speech by: a word or two says little of how long it lasts.
    if (split == end || keyed_between(words, first, split) < min_sentence_words ||
        keyed_between(words, split, end) < min_sentence_words) {
        return none;
    }
    // Each side keeps the recognised words its whole rough length spans: the head from the run's first
    // recognised word on, the tail back from the match after it.
    const double head = kept_share * rough_seconds(words, first, split);
    size_t       from = j_first;
    while (from < j_end && heard[from].start - heard[j_first].start < head) {
        from++;
    }
    const double tail = kept_share * rough_seconds(words, split, end);
    size_t       to   = j_end;
    while (to > from && heard[j_end].start - heard[to - 1].start < tail) {
        to--;
    }
    if (to < from + min_gap_words) {
        return none;
    }
    return { from, to, split };
}

bool match_hides_sentence_gap(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                              const std::vector<HeardWord> & heard, size_t i) {
    const size_t n = words.size();
    if (plan.heard[i] < 0 || plan.anchor[i] || !only_match_of_sentence(words, plan, i)) {
        return false;
    }
    size_t before = i; // the first word after the match before i
    while (before > 0 && plan.heard[before - 1] < 0) {
        before--;
    }
    size_t after = i + 1; // the match after i
    while (after < n && plan.heard[after] < 0) {
        after++;
    }
    if (before == 0 || after == n) {
        return false;
    }
    const auto j0 = static_cast<size_t>(plan.heard[before - 1]);
    const auto j  = static_cast<size_t>(plan.heard[i]);
    const auto j1 = static_cast<size_t>(plan.heard[after]);
    // Unwritten speech on one side: two or more recognised words beyond the written ones.
    const bool beside = j - j0 - 1 >= keyed_between(words, before, i) + min_gap_words ||
                        j1 - j - 1 >= keyed_between(words, i + 1, after) + min_gap_words;
    if (!beside) {
        return false;
    }
    const SentenceGap gap = gap_between_sentences(words, plan, heard, before, after, j0 + 1, j1);
    return gap.heard_to > gap.heard_from;
}
