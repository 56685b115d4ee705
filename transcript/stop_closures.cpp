// Word starts of voiceless stops after a pause: the closure is silent, so the aligner and the energy rules put
// the word's start at its release.

#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// How long a voiceless stop's closure lasts before its release, at the end of a pause.
constexpr double closure_seconds = 0.065;

// The shortest quiet before the release that is a pause: in quiet as for an opening pause, in noise longer than a
// closure after a vowel (the noise onset rule takes those).
constexpr double min_pause_seconds       = 0.1;
constexpr double min_noise_pause_seconds = 0.15;

// In quiet the release is the first frame within this many dB of the word's loudest, and a pause lies this far
// below it.
constexpr double release_below_loudest_db = 30.0;
constexpr double pause_below_loudest_db   = 40.0;

// A drawn start on sound is walked back to the release over at most this much.
constexpr double max_back_seconds = 0.15;

// A start already this near where the rule puts it stays.
constexpr double min_move_seconds = 0.03;

// Whether `key` opens with a voiceless stop (p, t, k, a hard c, q): a voiced stop's closure carries its voicing.
bool opens_with_voiceless_stop(std::string_view key) {
    return opens_with_stop(key) && std::string_view("bdg").find(key[0]) == std::string_view::npos;
}

} // namespace

double stop_closure_start(std::span<const float> samples, int32_t rate, std::string_view key, double after,
                          double start, double end) {
    if (!opens_with_voiceless_stop(key)) {
        return start;
    }
    const NoiseAround           around = noise_around(samples, rate, start, end);
    const std::vector<double> & db     = around.db;
    const size_t                at     = around.at;
    const double                hop    = around.hop;
    if (at >= db.size()) {
        return start;
    }
    size_t release = at;
    size_t quiet   = 0; // frames of pause before the release
    if (around.in_noise) {
        // Drawn inside the floor: the release is the first frame above it, the pause the floor's frames before.
        if (db[at] > around.noise) {
            return start;
        }
        release          = around.onset;
        const size_t dip = around.dip;
        if (release == db.size() || static_cast<double>(release - dip) * hop <= min_noise_pause_seconds) {
            return start;
        }
        quiet = release - dip;
    } else {
        const double loudest = *std::max_element(db.begin() + static_cast<std::ptrdiff_t>(at), db.end());
        const double sound   = loudest - release_below_loudest_db;
        if (db[at] >= sound) {
            const size_t most = static_cast<size_t>(max_back_seconds / hop);
            while (release > 0 && db[release - 1] >= sound && at - release < most) {
                release--;
            }
            if (at - release >= most) {
                return start;
            }
        } else {
            while (release < db.size() && db[release] < sound) {
                release++;
            }
            if (release == db.size()) {
                return start;
            }
        }
        // The pause: the median frame of the stretch before the release lies far below the word.
        const size_t length = static_cast<size_t>(std::lround(min_pause_seconds / hop));
        if (release < length) {
            return start;
        }
        std::vector<double> before(db.begin() + static_cast<std::ptrdiff_t>(release - length),
                                   db.begin() + static_cast<std::ptrdiff_t>(release));
        if (median_lead(std::move(before)) > loudest - pause_below_loudest_db) {
            return start;
        }
        quiet = length;
    }
    const double at_release = around.from + static_cast<double>(release) * hop;
    const double moved      = std::min(
             start, std::max({ after, at_release - closure_seconds, at_release - static_cast<double>(quiet) * hop }));
    return start - moved < min_move_seconds ? start : moved;
}

void trim_stop_closures(const std::vector<TranscriptWord> & words, const Stretch & s, std::span<const float> samples,
                        int32_t rate, StretchTimes & times) {
    for (size_t k = 0; k < times.placed.size(); k++) {
        if (!times.placed[k]) {
            continue;
        }
        const double after = k > 0 && times.placed[k - 1] ? times.end[k - 1] : -1.0;
        times.start[k] = stop_closure_start(samples, rate, words[s.first + k].key, after, times.start[k], times.end[k]);
    }
}
