#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

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

// A start is put this far ahead of the onset: a weak first sound (f, h) rises a little before it shows.
constexpr double onset_lead_seconds = 0.02;

// A start already this near the onset stays.
constexpr double min_move_seconds = 0.03;

// A start moves back over at most this much sound: more is likely a word the transcript lacks, said just before.
constexpr double max_back_seconds = 0.15;

// How much audio is read around a word.
constexpr double max_read_seconds = 1.5;

// Frame levels in dB over [from, to) seconds; frame k starts at from + k * hop_seconds.
std::vector<double> frame_levels(std::span<const float> samples, int32_t rate, double from, double to) {
    const auto    at    = [&](double t) { return static_cast<int64_t>(std::llround(t * static_cast<double>(rate))); };
    const int64_t frame = at(frame_seconds);
    const int64_t hop   = at(hop_seconds);
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

// Whether frames [first, last) are a pause beside a word whose loudest frame is `loudest`.
bool is_pause(const std::vector<double> & db, size_t first, size_t last, double loudest) {
    if (static_cast<double>(last - first) * hop_seconds < min_quiet_seconds) {
        return false;
    }
    std::vector<double> quiet(db.begin() + static_cast<std::ptrdiff_t>(first),
                              db.begin() + static_cast<std::ptrdiff_t>(last));
    return median_lead(std::move(quiet)) <= loudest - quiet_below_db;
}

} // namespace

double quiet_opening_end(std::span<const float> samples, int32_t rate, double start, double end) {
    const std::vector<double> db = frame_levels(samples, rate, start, std::min(end, start + max_read_seconds));
    if (db.empty()) {
        return start;
    }
    const double loudest = *std::max_element(db.begin(), db.end());
    size_t       onset   = 0;
    while (onset < db.size() && db[onset] < loudest - onset_below_loudest_db) {
        onset++;
    }
    if (onset == db.size() || !is_pause(db, 0, onset, loudest)) {
        return start;
    }
    return start + static_cast<double>(onset) * hop_seconds - onset_lead_seconds;
}

double sound_before_start(std::span<const float> samples, int32_t rate, double after, double start, double end) {
    const double from = std::max({ 0.0, after, start - max_read_seconds });
    const size_t at   = static_cast<size_t>(std::llround((start - from) / hop_seconds)); // the frame at `start`
    const std::vector<double> db = frame_levels(samples, rate, from, std::min(end, start + max_read_seconds));
    if (at == 0 || at >= db.size()) {
        return start;
    }
    const double loudest = *std::max_element(db.begin() + static_cast<std::ptrdiff_t>(at), db.end());
    size_t       onset   = at;
    while (onset > 0 && db[onset - 1] >= loudest - onset_below_loudest_db) {
        onset--;
    }
    const double moved = static_cast<double>(at - onset) * hop_seconds;
    if (moved < min_move_seconds || moved > max_back_seconds || !is_pause(db, 0, onset, loudest)) {
        return start;
    }
    return std::max(from, from + static_cast<double>(onset) * hop_seconds - onset_lead_seconds);
}

void trim_quiet_starts(std::span<const float> samples, int32_t rate, StretchTimes & times) {
    for (size_t k = 0; k < times.placed.size(); k++) {
        if (!times.placed[k]) {
            continue;
        }
        times.start[k] = quiet_opening_end(samples, rate, times.start[k], times.end[k]);
        // A word after a pause whose sound began before its drawn start (a vowel run in from the pause).
        if (k > 0 && times.placed[k - 1] && times.start[k] - times.end[k - 1] >= min_quiet_seconds) {
            times.start[k] = sound_before_start(samples, rate, times.end[k - 1], times.start[k], times.end[k]);
        }
    }
}
