// Speech the transcript lacks cannot lie between two words written side by side in one sentence: a lone match
// heard apart from its written neighbour by such speech is a common word of other speech.

#include "transcript/transcript.h"

namespace {

// The fewest recognised words between two written neighbours that are taken for unwritten speech.
constexpr int32_t min_unwritten_words = 2;

// True when the matched words `a` < `b` are written side by side (nothing to say between them) in one sentence and
// heard with two or more recognised words between them.
bool heard_apart(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, size_t a, size_t b) {
    if (plan.heard[a] < 0 || plan.heard[b] < 0 || keyed_between(words, a + 1, b) > 0) {
        return false;
    }
    for (size_t k = a; k < b; k++) {
        if (turn_or_sentence_ends(words, k)) {
            return false;
        }
    }
    return plan.heard[b] - plan.heard[a] - 1 >= min_unwritten_words;
}

} // namespace

bool match_heard_apart_in_sentence(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, size_t i) {
    if (plan.heard[i] < 0 || plan.anchor[i]) {
        return false;
    }
    size_t before = i; // the match before i; i when none
    for (size_t k = i; k-- > 0;) {
        if (plan.heard[k] >= 0) {
            before = k;
            break;
        }
    }
    size_t after = i + 1; // the match after i
    while (after < words.size() && plan.heard[after] < 0) {
        after++;
    }
    // The later of the two words is undone, or the earlier when the later is anchored.
    return (before < i && heard_apart(words, plan, before, i)) ||
           (after < words.size() && plan.anchor[after] && heard_apart(words, plan, i, after));
}
