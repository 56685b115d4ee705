// Where a transcript's turn or sentence ends: read by the planner, the timing and the unsaid sentences alike,
// and kept apart from the timing so that planning needs no aligner.

#include "transcript/transcript.h"

#include <algorithm>

bool turn_or_sentence_ends(const std::vector<TranscriptWord> & words, size_t i) {
    const std::string & text = words[i].text;
    return i + 1 == words.size() || words[i].who != words[i + 1].who || words[i].speaker != words[i + 1].speaker ||
           (!text.empty() && (text.back() == '.' || text.back() == '?' || text.back() == '!'));
}

std::pair<size_t, size_t> sentence_around(const std::vector<TranscriptWord> & words, size_t i) {
    size_t first = i;
    while (first > 0 && !turn_or_sentence_ends(words, first - 1)) {
        first--;
    }
    size_t end = i;
    while (end < words.size() && !turn_or_sentence_ends(words, end)) {
        end++;
    }
    return { first, std::min(end + 1, words.size()) };
}
