#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Energy frames: 10 ms long, every 5 ms.
constexpr double frame_seconds = 0.010;
constexpr double hop_seconds   = 0.005;

// The word's sound starts at the first frame within this many dB of its loudest.
constexpr double onset_below_loudest_db = 30.0;

// Only a quiet opening this long is a pause (a stop's closure is shorter), and only one this far below the
// word's loudest frame (in noise the pause is not told from speech and nothing moves).
constexpr double min_quiet_seconds = 0.1;
constexpr double quiet_below_db    = 40.0;

// The new start lies this far ahead of the onset: a weak first sound (f, h) rises a little before it shows.
constexpr double onset_lead_seconds = 0.02;

// How much of a word is read.
constexpr double max_read_seconds = 1.5;

} // namespace

double quiet_opening_end(std::span<const float> samples, int32_t rate, double start, double end) {
    const auto    at    = [&](double t) { return static_cast<int64_t>(std::llround(t * static_cast<double>(rate))); };
    const int64_t frame = at(frame_seconds);
    const int64_t hop   = at(hop_seconds);
    const int64_t first = std::max<int64_t>(0, at(start));
    const int64_t last =
        std::min<int64_t>(static_cast<int64_t>(samples.size()), at(std::min(end, start + max_read_seconds)));
    if (frame <= 0 || hop <= 0 || last - first < frame) {
        return start;
    }
    std::vector<double> db;
    for (int64_t i = first; i + frame <= last; i += hop) {
        double energy = 0;
        for (int64_t k = i; k < i + frame; k++) {
            const double x = samples[static_cast<size_t>(k)];
            energy += x * x;
        }
        db.push_back(10.0 * std::log10(energy / static_cast<double>(frame) + 1e-12));
    }
    const double loudest = *std::max_element(db.begin(), db.end());
    size_t       onset   = 0;
    while (onset < db.size() && db[onset] < loudest - onset_below_loudest_db) {
        onset++;
    }
    const double quiet_length = static_cast<double>(onset) * hop_seconds;
    if (onset == 0 || onset == db.size() || quiet_length < min_quiet_seconds) {
        return start;
    }
    const double quietest = *std::min_element(db.begin(), db.begin() + static_cast<std::ptrdiff_t>(onset));
    if (quietest > loudest - quiet_below_db) {
        return start;
    }
    return std::max(start, start + quiet_length - onset_lead_seconds);
}

void trim_quiet_starts(std::span<const float> samples, int32_t rate, StretchTimes & times) {
    for (size_t k = 0; k < times.placed.size(); k++) {
        if (times.placed[k]) {
            times.start[k] = quiet_opening_end(samples, rate, times.start[k], times.end[k]);
        }
    }
}
