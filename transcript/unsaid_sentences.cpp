// Whole sentences of the transcript that the recording does not hold, found where the recognised words leave
// no room for them.

#include "transcript/transcript.h"

#include <algorithm>

namespace {

// The fewest words with something to say that make a sentence worth leaving out whole.
constexpr size_t min_sentence_words = 3;

// The least room, as a share of the time its words take to say, for a run of unmatched words.
constexpr double room_share = 0.5;

} // namespace

void leave_out_unsaid_sentences(const std::vector<TranscriptWord> & words, const std::vector<HeardWord> & heard,
                                double recording_end, TranscriptPlan & plan) {
    const size_t n = words.size();
    if (heard.empty()) {
        return;
    }
    for (size_t i = 0; i < n;) {
        if (plan.heard[i] >= 0) {
            i++;
            continue;
        }
        size_t end = i;
        while (end < n && plan.heard[end] < 0) {
            end++;
        }
        // The time between the matched words around the run: from the end of the one before (its start plus
        // the time it takes to say) to the start of the one after.
        const int32_t j0 = i > 0 ? plan.heard[i - 1] : -1;
        const double  from =
            j0 >= 0 ? heard[static_cast<size_t>(j0)].start + spoken_seconds(heard[static_cast<size_t>(j0)].key) : 0.0;
        const double to   = end < n ? heard[static_cast<size_t>(plan.heard[end])].start : recording_end;
        auto         need = [&]() {
            double sum = 0;
            for (size_t k = i; k < end; k++) {
                sum += plan.unheard[k] ? 0.0 : spoken_seconds(words[k].key);
            }
            return sum;
        };
        // The sentences wholly inside the run, longest first, are left out while the rest has no room.
        std::vector<std::pair<size_t, size_t>> sentences = whole_sentences_within(words, i, end);
        std::stable_sort(sentences.begin(), sentences.end(),
                         [](const auto & a, const auto & b) { return a.second - a.first > b.second - b.first; });
        for (const auto & [first, last] : sentences) {
            if (to - from >= room_share * need()) {
                break;
            }
            std::fill(plan.unheard.begin() + static_cast<std::ptrdiff_t>(first),
                      plan.unheard.begin() + static_cast<std::ptrdiff_t>(last), true);
        }
        i = end;
    }
}

std::vector<std::pair<size_t, size_t>> whole_sentences_within(const std::vector<TranscriptWord> & words, size_t first,
                                                              size_t end) {
    std::vector<std::pair<size_t, size_t>> sentences;
    for (size_t k = first; k < end;) {
        size_t last = k;
        while (last < end && !turn_or_sentence_ends(words, last)) {
            last++;
        }
        const bool starts = k == 0 || turn_or_sentence_ends(words, k - 1);
        if (last < end && starts && keyed_between(words, k, last + 1) >= min_sentence_words) {
            sentences.emplace_back(k, last + 1);
        }
        k = last + 1;
    }
    return sentences;
}

std::pair<size_t, size_t> longest_sentence_within(const std::vector<TranscriptWord> & words, size_t first, size_t end) {
    std::pair<size_t, size_t> longest{ 0, 0 };
    for (const auto & sentence : whole_sentences_within(words, first, end)) {
        if (sentence.second - sentence.first > longest.second - longest.first) {
            longest = sentence;
        }
    }
    return longest;
}

bool fits_only_without(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                       const std::vector<HeardWord> & heard, size_t first, size_t end, size_t sentence_first,
                       size_t sentence_end, double until) {
    int32_t j0 = -1;
    for (size_t k = first; k-- > 0;) {
        if (plan.heard[k] >= 0) {
            j0 = plan.heard[k];
            break;
        }
    }
    int32_t j1 = -1;
    for (size_t k = end; k < plan.heard.size(); k++) {
        if (plan.heard[k] >= 0) {
            j1 = plan.heard[k];
            break;
        }
    }
    const double from =
        j0 >= 0 ? heard[static_cast<size_t>(j0)].start + spoken_seconds(heard[static_cast<size_t>(j0)].key) : 0.0;
    const double to   = j1 >= 0 ? heard[static_cast<size_t>(j1)].start : until;
    const double need = rough_seconds(words, first, end);
    // Recognised words beyond those the rest of the run holds may be the sentence, said and misheard.
    const int32_t heard_between = (j1 >= 0 ? j1 : static_cast<int32_t>(heard.size())) - j0 - 1;
    const auto    rest =
        static_cast<int32_t>(keyed_between(words, first, end) - keyed_between(words, sentence_first, sentence_end));
    return need > to - from && need - rough_seconds(words, sentence_first, sentence_end) <= to - from &&
           heard_between <= rest;
}
