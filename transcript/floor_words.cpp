// Words the aligner drew inside the noise floor of a pause: no said word is soundless, so such a word is said
// after the pause, where the words after it were drawn over its sound.

#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The floor must go on this long after the word: the aligner drew a pause after it.
constexpr double min_pause_after_seconds = 0.1;

// A gap this long between two words drawn after the moved one is where the words it pushed end.
constexpr double min_gap_seconds = 0.1;

// The words are drawn again from this long before the first sound after the pause (a first sound hidden in the
// noise); the start rules after this step place the first word's start.
constexpr double lead_seconds = 0.05;

// How far past a word's drawn start the pause and the sound after it are looked for.
constexpr double max_read_seconds = 1.5;

// The length of a level frame: the word's last whole frame starts this long before its end.
constexpr double frame_seconds = 0.01;

} // namespace

double sound_after_floor(std::span<const float> samples, int32_t rate, double start, double end) {
    // Read on past the word, into the pause and the sound after it.
    const NoiseAround around = noise_around(samples, rate, start, start + max_read_seconds);
    if (!around.in_noise || around.at >= around.db.size()) {
        return -1;
    }
    const size_t frame = around.onset;
    const size_t drawn =
        around.at + static_cast<size_t>(std::lround(std::max(0.0, end - start - frame_seconds) / around.hop));
    if (frame == around.db.size() || frame <= drawn) {
        return -1;
    }
    const double sound = around.from + static_cast<double>(frame) * around.hop;
    return sound - end >= min_pause_after_seconds ? sound : -1;
}

bool redraw_floor_words(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                        const std::vector<HeardWord> & heard, const Stretch & s, std::span<const float> samples,
                        int32_t rate, const std::string & language, bool denoise, kelvo_asr::ForcedAligner & aligner,
                        StretchTimes & times, std::string & error) {
    const size_t count = times.placed.size();
    for (size_t k = 0; k + 1 < count; k++) {
        if (!times.placed[k] || !times.placed[k + 1]) {
            continue;
        }
        const double sound = sound_after_floor(samples, rate, times.start[k], times.end[k]);
        if (sound < 0) {
            continue;
        }
        // The words after it, up to the first gap drawn between two of them (or the stretch's end).
        size_t end  = k + 2;
        double last = times.end[k + 1];
        for (; end < count; end++) {
            if (!times.placed[end]) {
                continue;
            }
            if (times.start[end] - last >= min_gap_seconds) {
                break;
            }
            last = times.end[end];
        }
        const double  from_s = std::max(times.end[k], sound - lead_seconds);
        const double  to_s   = end < count ? times.start[end] : last;
        const Stretch after{ static_cast<int32_t>(std::lround(from_s * rate)),
                             std::min(s.to, static_cast<int32_t>(std::lround(to_s * rate))), s.first + k,
                             s.first + end };
        if (after.to <= after.from) {
            continue;
        }
        StretchTimes redrawn;
        if (!align_stretch(words, plan, plan.unheard, heard, after, after.from, after.to, samples, rate, language,
                           denoise, aligner, redrawn, error)) {
            return false;
        }
        // Kept only when every word placed before is placed again.
        bool all = true;
        for (size_t q = k; q < end && all; q++) {
            all = !times.placed[q] || redrawn.placed[q - k];
        }
        if (!all) {
            continue;
        }
        for (size_t q = k; q < end; q++) {
            times.start[q]  = redrawn.start[q - k];
            times.end[q]    = redrawn.end[q - k];
            times.placed[q] = redrawn.placed[q - k];
        }
        k = end - 1;
    }
    return true;
}
