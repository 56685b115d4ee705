// Words at a turn's or a sentence's edge, kept on their side of the pause beside them.

#include "transcript/transcript.h"

#include <cmath>

namespace {

// A word that opens a turn or a sentence, drawn against the word before it with a pause after it, belongs
// after the pause (and one that closes a turn or sentence, likewise, before the pause ahead of it).
constexpr double turn_pause_seconds = 0.3;
constexpr double abutting_seconds   = 0.03;

} // namespace

void keep_turn_edges(const std::vector<TranscriptWord> & words, const Stretch & s, StretchTimes & times) {
    // Between placed words b and a (stretch positions, b < a): whether a turn or sentence ends anywhere there,
    // so that words left out between them (a sentence never said) do not hide the turn.
    const auto turn_in = [&](size_t b, size_t a) {
        for (size_t m = b; m < a; m++) {
            if (turn_or_sentence_ends(words, s.first + m)) {
                return true;
            }
        }
        return false;
    };
    for (size_t k = 1; k + 1 < times.placed.size(); k++) {
        if (!times.placed[k]) {
            continue;
        }
        size_t b = k - 1;
        while (b > 0 && !times.placed[b]) {
            b--;
        }
        size_t a = k + 1;
        while (a + 1 < times.placed.size() && !times.placed[a]) {
            a++;
        }
        if (!times.placed[b] || !times.placed[a]) {
            continue;
        }
        const double length = times.end[k] - times.start[k];
        const double before = times.start[k] - times.end[b];
        const double after  = times.start[a] - times.end[k];
        if (turn_in(b, k) && !turn_in(k, a) && before <= abutting_seconds && after >= turn_pause_seconds) {
            times.end[k]   = times.start[a];
            times.start[k] = times.end[k] - length;
        } else if (turn_in(k, a) && !turn_in(b, k) && after <= abutting_seconds && before >= turn_pause_seconds) {
            times.start[k] = times.end[b];
            times.end[k]   = times.start[k] + length;
        }
    }
}
