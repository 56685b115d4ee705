#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Energy frames: 10 ms long, every 5 ms.
constexpr double frame_seconds = 0.010;
constexpr double hop_seconds   = 0.005;

// A word sounds from the first frame within this many dB of its loudest.
constexpr double onset_below_loudest_db = 30.0;

// Only a quiet stretch this long is a pause (a stop's closure is shorter), and only one whose middle frame lies
// this far below the word's loudest (in noise a pause is not told from speech, and nothing moves).
constexpr double min_quiet_seconds = 0.1;
constexpr double quiet_below_db    = 40.0;

// In noise a pause is not far below the word but lies at the noise floor (the quietest frame around the word):
// frames within this much of the floor are taken for noise, louder ones for the word's sound. Only a word this far
// above the floor is judged so.
constexpr double noise_margin_db    = 6.0;
constexpr double min_above_floor_db = 15.0;

// A first sound the noise hides (a hiss, a closure) can lie at the floor for up to this long; only a longer
// stretch there is a pause.
constexpr double min_noise_pause_seconds = 0.2;

// How far before a word's drawn start the noise floor is looked for.
constexpr double floor_read_seconds = 1.0;

// A start is put this far ahead of the onset: a weak first sound (f, h) rises a little before it shows.
constexpr double onset_lead_seconds = 0.02;

// A start already this near the onset stays.
constexpr double min_move_seconds = 0.03;

// A start moves back over at most this much sound: more is likely a word the transcript lacks, said just before.
constexpr double max_back_seconds = 0.15;

// How much audio is read around a word.
constexpr double max_read_seconds = 1.5;

// The levels that tell a word's sound from a pause beside it: the word sounds from `onset` up, and a stretch
// whose middle frame lies at or below `pause` is a pause. In quiet both follow the word's loudest frame; in
// noise, where nothing lies that far below it, both follow the noise floor.
struct Levels {
    double onset      = 0;
    double pause      = 0;
    double min_length = min_quiet_seconds; // the shortest pause
};

// The levels for a word whose loudest frame is `loudest`, with `floor` the quietest frame around it.
Levels levels_of(double loudest, double floor) {
    Levels levels{ loudest - onset_below_loudest_db, loudest - quiet_below_db, min_quiet_seconds };
    if (floor > levels.pause && loudest - floor >= min_above_floor_db) {
        levels.onset      = std::max(levels.onset, floor + noise_margin_db);
        levels.pause      = floor + noise_margin_db;
        levels.min_length = min_noise_pause_seconds;
    }
    return levels;
}

// Whether frames [first, last) are a pause by `levels`.
bool is_pause(const std::vector<double> & db, size_t first, size_t last, const Levels & levels) {
    if (static_cast<double>(last - first) * hop_seconds < levels.min_length) {
        return false;
    }
    std::vector<double> quiet(db.begin() + static_cast<std::ptrdiff_t>(first),
                              db.begin() + static_cast<std::ptrdiff_t>(last));
    return median_lead(std::move(quiet)) <= levels.pause;
}

} // namespace

std::vector<double> frame_levels(std::span<const float> samples, int32_t rate, double from, double to, double hop_at) {
    const auto    at    = [&](double t) { return static_cast<int64_t>(std::llround(t * static_cast<double>(rate))); };
    const int64_t frame = at(frame_seconds);
    const int64_t hop   = at(hop_at);
    const int64_t first = at(from);
    const int64_t last  = std::min<int64_t>(static_cast<int64_t>(samples.size()), at(to));
    std::vector<double> db;
    if (frame <= 0 || hop <= 0 || first < 0) {
        return db;
    }
    for (int64_t i = first; i + frame <= last; i += hop) {
        double energy = 0;
        for (int64_t k = i; k < i + frame; k++) {
            const double x = samples[static_cast<size_t>(k)];
            energy += x * x;
        }
        db.push_back(10.0 * std::log10(energy / static_cast<double>(frame) + 1e-12));
    }
    return db;
}

double quiet_opening_end(std::span<const float> samples, int32_t rate, double after, double start, double end) {
    const std::vector<double> db =
        frame_levels(samples, rate, start, std::min(end, start + max_read_seconds), hop_seconds);
    if (db.empty()) {
        return start;
    }
    const std::vector<double> before =
        frame_levels(samples, rate, std::max(0.0, start - floor_read_seconds), start, hop_seconds);
    const double loudest = *std::max_element(db.begin(), db.end());
    double       floor   = *std::min_element(db.begin(), db.end());
    if (!before.empty()) {
        floor = std::min(floor, *std::min_element(before.begin(), before.end()));
    }
    // In noise only a word already drawn after a pause is judged against the floor: one drawn right after the
    // word before it may open with a hiss or a closure the noise hides.
    const bool   noise_too = after < 0 || start - after >= min_quiet_seconds;
    const Levels levels    = levels_of(loudest, noise_too ? floor : loudest - quiet_below_db);
    size_t       onset     = 0;
    while (onset < db.size() && db[onset] < levels.onset) {
        onset++;
    }
    if (onset == db.size() || !is_pause(db, 0, onset, levels)) {
        return start;
    }
    return start + static_cast<double>(onset) * hop_seconds - onset_lead_seconds;
}

double sound_before_start(std::span<const float> samples, int32_t rate, double after, double start, double end) {
    const double from = std::max({ 0.0, after, start - max_read_seconds });
    const size_t at   = static_cast<size_t>(std::llround((start - from) / hop_seconds)); // the frame at `start`
    const std::vector<double> db =
        frame_levels(samples, rate, from, std::min(end, start + max_read_seconds), hop_seconds);
    if (at == 0 || at >= db.size()) {
        return start;
    }
    const double loudest = *std::max_element(db.begin() + static_cast<std::ptrdiff_t>(at), db.end());
    const Levels levels  = levels_of(loudest, *std::min_element(db.begin(), db.end()));
    size_t       onset   = at;
    while (onset > 0 && db[onset - 1] >= levels.onset) {
        onset--;
    }
    const double moved = static_cast<double>(at - onset) * hop_seconds;
    if (moved < min_move_seconds || moved > max_back_seconds || !is_pause(db, 0, onset, levels)) {
        return start;
    }
    return std::max(from, from + static_cast<double>(onset) * hop_seconds - onset_lead_seconds);
}

double vowel_opening_end(std::span<const float> samples, int32_t rate, double start, double end) {
    const std::vector<double> db =
        frame_levels(samples, rate, start, std::min(end, start + max_read_seconds), hop_seconds);
    if (db.empty()) {
        return start;
    }
    const double loudest = *std::max_element(db.begin(), db.end());
    size_t       onset   = 0;
    while (onset < db.size() && db[onset] < loudest - onset_below_loudest_db) {
        onset++;
    }
    const double moved = static_cast<double>(onset) * hop_seconds;
    if (onset == db.size() || moved < min_move_seconds ||
        std::any_of(db.begin(), db.begin() + static_cast<std::ptrdiff_t>(onset - 1), // the last overlaps the sound
                    [&](double level) { return level > loudest - quiet_below_db; })) {
        return start;
    }
    return start + moved - onset_lead_seconds;
}

void trim_quiet_starts(std::span<const float> samples, int32_t rate, StretchTimes & times) {
    for (size_t k = 0; k < times.placed.size(); k++) {
        if (!times.placed[k]) {
            continue;
        }
        const double after = k > 0 && times.placed[k - 1] ? times.end[k - 1] : -1.0;
        times.start[k]     = quiet_opening_end(samples, rate, after, times.start[k], times.end[k]);
        // A word after a pause whose sound began before its drawn start (a vowel run in from the pause).
        if (k > 0 && times.placed[k - 1] && times.start[k] - times.end[k - 1] >= min_quiet_seconds) {
            times.start[k] = sound_before_start(samples, rate, times.end[k - 1], times.start[k], times.end[k]);
        }
    }
}

NoiseAround noise_around(std::span<const float> samples, int32_t rate, double start, double end) {
    NoiseAround around;
    around.from = std::max(0.0, start - floor_read_seconds);
    around.hop  = hop_seconds;
    around.at   = static_cast<size_t>(std::llround((start - around.from) / hop_seconds));
    around.db   = frame_levels(samples, rate, around.from, std::min(end, start + max_read_seconds), hop_seconds);
    if (around.at >= around.db.size()) {
        return around;
    }
    const double loudest =
        *std::max_element(around.db.begin() + static_cast<std::ptrdiff_t>(around.at), around.db.end());
    const double floor = *std::min_element(around.db.begin(), around.db.end());
    // Quiet, or no word above the noise: the aligner's edge stays.
    around.in_noise = floor > loudest - quiet_below_db && loudest - floor >= min_above_floor_db;
    around.noise    = floor + noise_margin_db;
    around.onset    = around.at;
    while (around.onset < around.db.size() && around.db[around.onset] <= around.noise) {
        around.onset++;
    }
    around.dip = around.at;
    while (around.dip > 0 && around.db[around.dip - 1] <= around.noise) {
        around.dip--;
    }
    return around;
}

double hidden_onset_start(std::span<const float> samples, int32_t rate, double start, double end) {
    const NoiseAround           around = noise_around(samples, rate, start, end);
    const size_t                at     = around.at;
    const std::vector<double> & db     = around.db;
    const double                noise  = around.noise;
    if (at == 0 || !around.in_noise) {
        return start;
    }
    const size_t dip   = around.dip;
    const double moved = static_cast<double>(at - dip) * hop_seconds;
    if (db[at] > noise || dip == 0 || moved < min_move_seconds || moved > max_back_seconds) {
        return start;
    }
    // The quiet may also hold the end of the word before (its closure, its hiss): the start goes halfway back.
    return start - 0.5 * moved;
}

void trim_hidden_onsets(const std::vector<TranscriptWord> & words, const Stretch & s, std::span<const float> samples,
                        int32_t rate, StretchTimes & times) {
    for (size_t k = 1; k < times.placed.size(); k++) {
        // Only a word drawn against the word before: a gap the aligner drew may be a pause nobody wrote, and a
        // word written with a pause after it (a comma, a sentence's end) may well have one.
        const std::string & before = words[s.first + k - 1].text;
        if (!times.placed[k] || !times.placed[k - 1] || before.empty() ||
            std::string_view(",;:.?!").find(before.back()) != std::string_view::npos ||
            times.start[k] - times.end[k - 1] > transcript_overlap_seconds) {
            continue;
        }
        const double start = hidden_onset_start(samples, rate, times.start[k], times.end[k]);
        if (start < times.start[k]) {
            times.end[k - 1] = std::max(times.start[k - 1], std::min(times.end[k - 1], start));
            times.start[k]   = start;
        }
    }
}
