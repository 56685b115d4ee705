// The edge after a written word that was heard as another word, taken from the recognised words' alignment.

#include "transcript/transcript.h"

#include <algorithm>

void take_heard_edges(const TranscriptPlan & plan, const Stretch & s, const StretchTimes & heard_times,
                      StretchTimes & times) {
    for (size_t i = s.first + 1; i < s.last; i++) {
        const size_t k = i - s.first;
        // Word k - 1 stands one for one against a recognised word of another key: both alignments placed it.
        const bool heard_otherwise = plan.heard[i - 1] < 0 && !plan.unheard[i - 1] && heard_times.placed[k - 1];
        if (!heard_otherwise || !heard_times.placed[k] || !times.placed[k] || !times.placed[k - 1]) {
            continue;
        }
        const double start = heard_times.start[k];
        if (start <= times.start[k - 1] || start >= times.end[k]) {
            continue; // no room left for one of the two words
        }
        times.start[k]   = start;
        times.end[k - 1] = std::min(times.end[k - 1], start);
    }
}
