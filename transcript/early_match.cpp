#include "transcript/transcript.h"

#include <algorithm>
#include <numeric>

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
    const double need = std::accumulate(
        words.begin() + static_cast<std::ptrdiff_t>(first), words.begin() + static_cast<std::ptrdiff_t>(next), 0.0,
        [](double sum, const TranscriptWord & w) { return sum + (w.key.empty() ? 0.0 : spoken_seconds(w.key)); });
    const double from = heard[static_cast<size_t>(plan.heard[match])].start;
    const double to   = next < end ? heard[static_cast<size_t>(plan.heard[next])].start : until;
    return to - from >= 0.5 * need;
}
