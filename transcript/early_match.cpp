#include "transcript/transcript.h"

#include <algorithm>

bool lone_match_stands_early(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                             const std::vector<HeardWord> & heard, size_t first, size_t match, double until) {
    // A common short word heard a word early (the "it" of "from it. In the big" heard as "the") takes the
    // written word's place ahead of its speech: the words before it get no time and the speech after it more
    // than the words after it need. Taken as a mishearing when all those words fit after its start.
    const size_t end  = std::min(words.size(), plan.heard.size());
    size_t       next = match + 1;
    while (next < end && plan.heard[next] < 0) {
        next++;
    }
    const double need = rough_seconds(words, first, next);
    // Only where the recogniser heard as many words after it as are written there, and at least one: its own
    // speech may hide among them. With fewer, or none, the speech after it is its own, and the words before it
    // may well be unsaid.
    const int32_t after     = next < end ? plan.heard[next] : static_cast<int32_t>(heard.size());
    const int32_t heard_gap = after - plan.heard[match] - 1;
    if (heard_gap == 0 || heard_gap < static_cast<int32_t>(keyed_between(words, match + 1, next))) {
        return false;
    }
    const double from = heard[static_cast<size_t>(plan.heard[match])].start;
    const double to   = next < end ? heard[static_cast<size_t>(plan.heard[next])].start : until;
    return to - from >= 0.5 * need;
}
