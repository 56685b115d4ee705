// Pauses found from frame levels against the segment's own noise floor and loudness, then pieces formed
// from the speech between them.

#include "engine/audio/pause_cutter.h"

#include "engine/audio/kth_smallest.h"

#include <algorithm>
#include <cmath>

namespace kelvo_asr {

namespace {

using namespace pause_rule;

// Hands the level in dB (full scale 1.0) of each 10 ms frame to `sink`, in order; a last partial frame
// counts as a frame.
template <typename Sink> void each_frame_level(const float * samples, int32_t n_samples, const Sink & sink) {
    for (int64_t at = 0; at < n_samples; at += frame_samples) {
        const auto n   = static_cast<int32_t>(std::min<int64_t>(frame_samples, n_samples - at));
        double     sum = 0.0;
        for (int32_t i = 0; i < n; i++) {
            const double v = samples[at + i];
            if (std::isfinite(v)) {
                sum += v * v;
            }
        }
        sink(10.0 * std::log10(sum / n + 1e-12));
    }
}

std::vector<double> frame_levels(const float * samples, int32_t n_samples) {
    std::vector<double> levels;
    each_frame_level(samples, n_samples, [&](double level) { levels.push_back(level); });
    return levels;
}

double percentile(std::vector<double> values, int32_t per_cent) {
    const size_t k = (values.size() - 1) * static_cast<size_t>(per_cent) / 100;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

// A run of frames [first, last) holding speech, with no pause inside.
struct frame_run {
    int32_t first = 0;
    int32_t last  = 0;
};

// The stretches between pauses that hold enough speech.
std::vector<frame_run> speech_runs(const std::vector<bool> & sound) {
    const auto             n_frames = static_cast<int32_t>(sound.size());
    std::vector<frame_run> runs;
    int32_t                f = 0;
    while (f < n_frames) {
        while (f < n_frames && !sound[static_cast<size_t>(f)]) {
            f++;
        }
        if (f == n_frames) {
            break;
        }
        frame_run run{ f, f };
        int32_t   voiced = 0;
        int32_t   quiet  = 0;
        for (; f < n_frames && quiet < min_pause_frames; f++) {
            if (sound[static_cast<size_t>(f)]) {
                voiced++;
                quiet    = 0;
                run.last = f + 1;
            } else {
                quiet++;
            }
        }
        if (voiced >= min_speech_frames) {
            runs.push_back(run);
        }
    }
    return runs;
}

// Splits runs [from, to) into groups no longer than the longest piece, each cut at the longest pause
// inside; appends the groups' first and last run indices to `groups`.
void split_group(const std::vector<frame_run> & runs, size_t from, size_t to,
                 std::vector<std::pair<size_t, size_t>> & groups) {
    if (to - from == 1 || runs[to - 1].last - runs[from].first <= max_piece_frames) {
        groups.emplace_back(from, to);
        return;
    }
    // The longest pause; of equal ones, the one nearest the middle, so that the halves are balanced.
    const int32_t middle = (runs[from].first + runs[to - 1].last) / 2;
    size_t        cut    = from + 1;
    for (size_t k = from + 1; k < to; k++) {
        const int32_t pause      = runs[k].first - runs[k - 1].last;
        const int32_t best_pause = runs[cut].first - runs[cut - 1].last;
        const auto    off_middle = [&](size_t i) { return std::abs(runs[i].first + runs[i - 1].last - 2 * middle); };
        if (pause > best_pause || (pause == best_pause && off_middle(k) < off_middle(cut))) {
            cut = k;
        }
    }
    split_group(runs, from, cut, groups);
    split_group(runs, cut, to, groups);
}

} // namespace

sound_levels measure_levels(const float * samples, int32_t n_samples, int32_t floor_at, int32_t speech_at) {
    if (samples == nullptr || n_samples <= 0) {
        return {};
    }
    const std::vector<double> levels = frame_levels(samples, n_samples);
    return { percentile(levels, floor_at), percentile(levels, speech_at) };
}

std::vector<speech_piece> cut_at_pauses(const float * samples, int32_t n_samples) {
    if (samples == nullptr || n_samples <= 0) {
        return {};
    }
    // The levels are computed again for each pass rather than kept: a long recording has millions of frames.
    const auto   n_frames = static_cast<int32_t>((static_cast<int64_t>(n_samples) + frame_samples - 1) / frame_samples);
    const auto   replay   = [&](const auto & sink) { each_frame_level(samples, n_samples, sink); };
    const size_t last_frame = static_cast<size_t>(n_frames) - 1;
    const std::vector<double> at =
        kth_smallest<double>(replay, { last_frame * static_cast<size_t>(floor_percentile) / 100,
                                       last_frame * static_cast<size_t>(loud_percentile) / 100 });
    const double floor = at[0];
    const double loud  = at[1];
    if (loud < floor + quiet_margin_db) {
        return {}; // a steady sound throughout: silence or noise, not speech
    }
    const double      threshold = std::max({ floor + quiet_margin_db, loud - speech_range_db, silence_db });
    std::vector<bool> sound;
    sound.reserve(static_cast<size_t>(n_frames));
    each_frame_level(samples, n_samples, [&](double level) { sound.push_back(level > threshold); });
    const std::vector<frame_run> runs = speech_runs(sound);

    // Groups of runs: a long pause always ends one; an overlong one is split at its longest pauses.
    std::vector<std::pair<size_t, size_t>> groups;
    size_t                                 from = 0;
    for (size_t k = 1; k <= runs.size(); k++) {
        if (k == runs.size() || runs[k].first - runs[k - 1].last >= cut_pause_frames) {
            split_group(runs, from, k, groups);
            from = k;
        }
    }

    // Each piece keeps some of the silence around it, at most half of the pause it shares with a neighbour.
    std::vector<speech_piece> pieces;
    for (size_t g = 0; g < groups.size(); g++) {
        const int32_t first  = runs[groups[g].first].first;
        const int32_t last   = runs[groups[g].second - 1].last;
        const int32_t before = g == 0 ? first : (first - runs[groups[g - 1].second - 1].last) / 2;
        const int32_t after  = g + 1 == groups.size() ? n_frames - last : (runs[groups[g + 1].first].first - last) / 2;
        const int32_t start  = first - std::min(padding_frames, before);
        const int32_t end    = last + std::min(padding_frames, after);
        pieces.push_back({ start * frame_samples, static_cast<int32_t>(std::min<int64_t>(
                                                      static_cast<int64_t>(end) * frame_samples, n_samples)) });
    }
    return pieces;
}

piece_audio audio_of(const std::vector<int16_t> & pcm, const speech_piece & piece) {
    const auto    n_samples = static_cast<int32_t>(pcm.size());
    const int32_t n_warm    = std::min(piece_warm_up_samples, n_samples);
    const int32_t warm_from = std::max(0, piece.start - n_warm);
    const int32_t warm_to   = std::max(piece.start, n_warm);
    return { pcm.data() + piece.start, static_cast<size_t>(piece.end - piece.start), pcm.data() + warm_from,
             static_cast<size_t>(warm_to - warm_from) };
}

} // namespace kelvo_asr
