// Runs of words the check against the recognised words squeezed off their speech, given their first alignment back.

#include "transcript/transcript.h"

#include <cmath>

namespace {

// A word drawn shorter than this share of its rough length was squeezed into a place with no room for it.
constexpr double squeezed_share = 0.35;

// One word squeezed is what a written word the audio lacks costs; this many more than the first alignment
// squeezes are said words drawn off their speech.
constexpr int squeezed_beyond = 2;

// Whether word k of stretch `s` is unplaced in `v`, or drawn squeezed.
bool squeezed(const std::vector<TranscriptWord> & words, const Stretch & s, const StretchTimes & v, size_t k) {
    return !v.placed[k] || v.end[k] - v.start[k] < squeezed_share * spoken_seconds(words[s.first + k].key);
}

} // namespace

void keep_unsqueezed(const std::vector<TranscriptWord> & words, const Stretch & s, const StretchTimes & written,
                     StretchTimes & times) {
    const auto same = [&](size_t k) {
        return times.placed[k] == written.placed[k] &&
               (!times.placed[k] || (times.start[k] == written.start[k] && times.end[k] == written.end[k]));
    };
    for (size_t k = 0; k < times.placed.size();) {
        if (same(k)) {
            k++;
            continue;
        }
        size_t end = k;
        int    now = 0, before = 0;
        for (; end < times.placed.size() && !same(end); end++) {
            now += squeezed(words, s, times, end) ? 1 : 0;
            before += squeezed(words, s, written, end) ? 1 : 0;
        }
        if (now >= before + squeezed_beyond) {
            for (size_t q = k; q < end; q++) {
                times.start[q]  = written.start[q];
                times.end[q]    = written.end[q];
                times.placed[q] = written.placed[q];
            }
        }
        k = end;
    }
}
