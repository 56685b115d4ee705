// Written words the audio lacks, told by how the aligner had to draw them.

#include "transcript/transcript.h"

namespace {

// A word of this many letters or more takes its time when said, even where the recogniser missed it.
constexpr size_t min_long_letters = 5;

// A long word drawn shorter than this share of its rough length was given the aligner's fewest frames between
// the said words around it: nothing in the audio stands for it.
constexpr double inserted_share = 0.45;

} // namespace

bool drawn_as_unsaid(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, size_t i, double start,
                     double end) {
    const std::string & key = words[i].key;
    return plan.heard[i] < 0 && key.size() >= min_long_letters && end - start < inserted_share * spoken_seconds(key);
}

void leave_out_squeezed_words(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, const Stretch & s,
                              StretchTimes & times) {
    for (size_t k = 0; k < times.placed.size(); k++) {
        if (times.placed[k] && drawn_as_unsaid(words, plan, s.first + k, times.start[k], times.end[k])) {
            times.placed[k] = false;
        }
    }
}
