// From the frames the decoder gave each word to times in seconds.

#include "engine/alignment/alignment_times.h"
#include "engine/audio/samples.h"

#include <algorithm>
#include <cmath>

namespace kelvo_asr {

namespace {

constexpr size_t words_none = static_cast<size_t>(-1);

// Whether the energy track is quiet at time t: below its own noise floor and speech level.
struct quiet_test {
    const std::vector<double> & energy;
    double                      quiet = 0.0;

    bool operator()(double t) const {
        const double hop_s = energy_hop_samples / static_cast<double>(sample_rate);
        const long   f     = static_cast<long>(t / hop_s);
        return f >= 0 && f < static_cast<long>(energy.size()) && energy[static_cast<size_t>(f)] < quiet;
    }
};

quiet_test quiet_test_of(const std::vector<double> & energy) {
    std::vector<double> sorted = energy;
    std::sort(sorted.begin(), sorted.end());
    const double floor_level  = sorted[sorted.size() / 10];
    const double speech_level = sorted[sorted.size() * 9 / 10];
    return { energy, std::max(1.5 * floor_level, 0.01 * speech_level) };
}

// A word after a pause starts at its first frame of sound: the decoder's 10 ms frames and its silence
// model let such a word begin a little inside the pause. Quiet is judged against the segment's own
// noise floor and speech level (a start's on `onset_energy`), and an edge moves by at most 100 ms. Ends
// move only outwards, into sound the silence model took: trimming them by energy cut the decaying ends of
// words.
void move_edges_off_pauses(const std::vector<double> & energy, const std::vector<double> & onset_energy,
                           double length_s, const std::vector<bool> & placed, std::vector<double> & start,
                           std::vector<double> & end) {
    if (energy.size() < 4 || onset_energy.size() < 4) {
        return;
    }
    const quiet_test quiet_at       = quiet_test_of(energy);
    const quiet_test onset_quiet_at = quiet_test_of(onset_energy);
    const double     max_shift      = 0.1;
    const double     keep           = 0.03; // a word keeps at least this much of its time
    const double     hop_s          = energy_hop_samples / static_cast<double>(sample_rate);
    size_t           previous       = words_none;
    for (size_t i = 0; i < placed.size(); i++) {
        if (!placed[i]) {
            continue;
        }
        const bool pause_before = previous == words_none || end[previous] < start[i] - 1e-6;
        if (pause_before) {
            const double limit = std::min(start[i] + max_shift, end[i] - keep);
            while (start[i] + hop_s <= limit && onset_quiet_at(start[i])) {
                start[i] += hop_s;
            }
            // Sound just before the start (a nasal or a vowel the silence model took) joins the word.
            const double earliest = std::max(start[i] - max_shift, previous == words_none ? 0.0 : end[previous]);
            while (start[i] - hop_s >= earliest - 1e-9 && !onset_quiet_at(start[i] - hop_s / 2)) {
                start[i] -= hop_s;
            }
        }
        size_t next = i + 1;
        while (next < placed.size() && !placed[next]) {
            next++;
        }
        const double next_start = next < placed.size() ? start[next] : length_s;
        if (next_start > end[i] + 1e-6) {
            const double limit = std::min(end[i] + max_shift, next_start);
            while (end[i] + hop_s <= limit + 1e-9 && !quiet_at(end[i] + hop_s / 2)) {
                end[i] += hop_s;
            }
        }
        previous = i;
    }
}

} // namespace

std::vector<double> hop_energies(const float * samples, int32_t n_samples) {
    std::vector<double> energy;
    for (int32_t at = 0; samples != nullptr && at + energy_hop_samples <= n_samples; at += energy_hop_samples) {
        energy.push_back(rms_energy(samples + at, energy_hop_samples));
    }
    return energy;
}

std::vector<double> hop_energies(const std::vector<int16_t> & pcm) {
    std::vector<float> samples(pcm.size());
    std::transform(pcm.begin(), pcm.end(), samples.begin(), [](int16_t v) { return static_cast<float>(v) / 32767.0f; });
    return hop_energies(samples.data(), static_cast<int32_t>(samples.size()));
}

std::vector<word_times> frames_to_times(const std::vector<placement> & where, const std::vector<bool> & silent,
                                        double frame_s, double length_s, const std::vector<double> & energy,
                                        const std::vector<double> & onset_energy) {
    const size_t        n = where.size();
    std::vector<bool>   placed(n, false);
    std::vector<double> start(n, 0.0);
    std::vector<double> end(n, 0.0);
    double              last_end = 0.0;
    for (size_t i = 0; i < n; i++) {
        if (!where[i].placed) {
            continue;
        }
        start[i]  = std::clamp(where[i].sf * frame_s, last_end, length_s);
        end[i]    = std::clamp((where[i].ef + 1) * frame_s, start[i], length_s);
        placed[i] = true;
        last_end  = end[i];
    }
    move_edges_off_pauses(energy, onset_energy.empty() ? energy : onset_energy, length_s, placed, start, end);

    // A silent token sits at the boundary after the word before it (or before the word after it).
    for (size_t i = 1; i < n; i++) {
        if (silent[i] && placed[i - 1]) {
            start[i] = end[i] = end[i - 1];
            placed[i]         = true;
        }
    }
    for (size_t i = n; i-- > 0;) {
        if (silent[i] && !placed[i] && i + 1 < n && placed[i + 1]) {
            start[i] = end[i] = start[i + 1];
            placed[i]         = true;
        }
    }
    // Runs of unplaced words get evenly spaced zero-length times between their placed neighbours.
    for (size_t i = 0; i < n;) {
        if (placed[i]) {
            i++;
            continue;
        }
        size_t j = i;
        while (j < n && !placed[j]) {
            j++;
        }
        const double from  = i > 0 ? end[i - 1] : 0.0;
        const double to    = std::max(from, j < n ? start[j] : length_s);
        const auto   count = static_cast<double>(j - i + 1);
        for (size_t k = i; k < j; k++) {
            start[k] = end[k] = from + (to - from) * static_cast<double>(k - i + 1) / count;
        }
        i = j;
    }
    std::vector<word_times> times(n);
    for (size_t k = 0; k < n; k++) {
        const auto s = static_cast<float>(std::clamp(start[k], 0.0, length_s));
        const auto e = static_cast<float>(std::clamp(end[k], 0.0, length_s));
        times[k]     = { s, std::max(s, e) };
    }
    return times;
}

} // namespace kelvo_asr
