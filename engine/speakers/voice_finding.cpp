// Four steps: speech frames inside the recogniser's pieces; changes of voice inside each piece; the
// stretches between changes clustered bottom-up, then every speech frame relabelled and the runs of one
// voice clustered again, for a few rounds; the voices' runs as numbered stretches.

#include "engine/speakers/voice_finding.h"

#include "engine/audio/kth_smallest.h"
#include "engine/audio/noise_suppressor.h"
#include "engine/audio/pause_cutter.h"
#include "engine/speakers/cepstra.h"
#include "engine/speakers/change_placement.h"
#include "engine/speakers/voice_changes.h"
#include "engine/speakers/voice_clustering.h"
#include "engine/speakers/voice_frames.h"
#include "engine/speakers/voice_gaussian.h"
#include "engine/speakers/voice_pitch.h"
#include "engine/speakers/voice_resegmentation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace kelvo_asr {

namespace {

// `walk` carries the place in the piece from one stretch to the next.
frame_sums sums_of(const voice_cepstra & c, const piece_frames & frames, frame_walk & walk, size_t from, size_t to) {
    frame_sums s;
    float      x[n_voice_cepstra];
    for (size_t i = from; i < to; i++) {
        frame_cepstra(c, frame_at(frames, walk, i), x);
        add_frame(s, x);
    }
    return s;
}

// How many of voices 0 .. n_voices - 1 speak at least one frame.
int32_t voices_used(const std::vector<piece_frames> & pieces, int32_t n_voices) {
    std::vector<bool> used(static_cast<size_t>(n_voices), false);
    for (const piece_frames & p : pieces) {
        for (const voice_run & v : p.voices) {
            used[static_cast<size_t>(v.voice)] = true;
        }
    }
    return static_cast<int32_t>(std::count(used.begin(), used.end(), true));
}

// Every run of frames of a voice with less speech than `min_frames` goes to the voice, among those with
// enough, that explains the run best; when no voice has enough, the one with the most speech takes all.
// `sums`, each voice's frame sums, is kept up to date.
void give_away_small_voices(const voice_cepstra & c, std::vector<piece_frames> & pieces, std::vector<frame_sums> & sums,
                            const voice_vector & ridge, int32_t min_frames) {
    std::vector<size_t> kept;
    size_t              largest = 0;
    for (size_t v = 0; v < sums.size(); v++) {
        if (sums[v].n >= static_cast<double>(min_frames)) {
            kept.push_back(v);
        }
        if (sums[v].n > sums[largest].n) {
            largest = v;
        }
    }
    if (kept.empty()) {
        kept.push_back(largest);
    }
    if (std::count_if(sums.begin(), sums.end(), [](const frame_sums & x) { return x.n > 0.0; }) ==
        static_cast<std::ptrdiff_t>(kept.size())) {
        return;
    }
    std::vector<voice_gaussian> models(kept.size());
    for (size_t k = 0; k < kept.size(); k++) {
        models[k] = gaussian_of(sums[kept[k]], ridge);
    }
    std::vector<bool> small(sums.size(), true);
    for (const size_t v : kept) {
        small[v] = false;
    }
    float x[n_voice_cepstra];
    for (piece_frames & p : pieces) {
        frame_walk walk;
        for (size_t r = 0; r < p.voices.size(); r++) {
            if (small[static_cast<size_t>(p.voices[r].voice)]) {
                std::vector<double> total(kept.size(), 0.0);
                frame_sums          run;
                for (size_t f = p.voices[r].from; f < voice_run_end(p, r); f++) {
                    frame_cepstra(c, frame_at(p, walk, f), x);
                    add_frame(run, x);
                    for (size_t k = 0; k < kept.size(); k++) {
                        total[k] += frame_log_likelihood(models[k], x);
                    }
                }
                const auto best   = static_cast<size_t>(std::max_element(total.begin(), total.end()) - total.begin());
                p.voices[r].voice = static_cast<int32_t>(kept[best]);
                add_sums(sums[kept[best]], run);
            }
        }
        p.voices = joined(p.voices, p.n_frames);
    }
    for (size_t v = 0; v < sums.size(); v++) {
        if (small[v]) {
            sums[v] = frame_sums{};
        }
    }
}

// The likelihood two Gaussians gain over one per frame of `a` and `b`: a distance between two voices that
// does not grow with the amount of their speech, as the BIC score does.
double voice_distance(const frame_sums & a, const frame_sums & b, const voice_vector & ridge) {
    frame_sums both = a;
    add_sums(both, b);
    return 0.5 *
           (both.n * log_det_covariance(both, ridge) - a.n * log_det_covariance(a, ridge) -
            b.n * log_det_covariance(b, ridge)) /
           both.n;
}

// The pitches of each of `n_voices` voices' voiced frames: one pass over the speech frames.
std::vector<pitch_histogram> voice_pitches(const voice_cepstra & c, const std::vector<piece_frames> & pieces,
                                           size_t n_voices) {
    std::vector<pitch_histogram> pitches(n_voices);
    for (const piece_frames & p : pieces) {
        frame_walk walk;
        for (size_t r = 0; r < p.voices.size(); r++) {
            pitch_histogram & h = pitches[static_cast<size_t>(p.voices[r].voice)];
            for (size_t i = p.voices[r].from; i < voice_run_end(p, r); i++) {
                const float semitones = frame_pitch_semitones(c.samples, c.n_samples, frame_at(p, walk, i));
                if (semitones > 0.0f) {
                    add_pitch(h, semitones);
                }
            }
        }
    }
    return pitches;
}

// How far apart two voices may lie and still be one, by how high they speak: two voices whose median
// pitches differ by more than `pitch_apart` are never one (infinity); two high voices may lie farther apart
// than two low ones, as a high voice's harmonics, which the low filters resolve, move its cepstra more.
double merge_distance(const pitch_histogram & a, const pitch_histogram & b, const voice_finding_settings & s) {
    const double pitch_a = median_pitch(a);
    const double pitch_b = median_pitch(b);
    if (pitch_a > 0.0 && pitch_b > 0.0 && std::fabs(pitch_a - pitch_b) > s.pitch_apart) {
        return -std::numeric_limits<double>::infinity();
    }
    return std::min(pitch_a, pitch_b) >= s.high_pitch ? s.high_voice_distance : s.voice_distance;
}

// Merges the closest two voices (by their distance over the distance allowed for their pitches), again and
// again down to one or until only pairs of distinct pitch are left, and keeps every merge up to the last
// one closer than it may be: a merge over it that brings the rest under it is kept too, as when one voice
// was split by what it said into parts that each lie far from the others but close to their union. `sums`
// holds each voice's frame sums.
void merge_close_voices(const voice_cepstra & c, std::vector<piece_frames> & pieces, std::vector<frame_sums> sums,
                        const voice_vector & ridge, const voice_finding_settings & s) {
    std::vector<pitch_histogram> pitches = voice_pitches(c, pieces, sums.size());
    std::vector<size_t>          alive; // the voices with speech, in order
    for (size_t v = 0; v < sums.size(); v++) {
        if (sums[v].n > 0.0) {
            alive.push_back(v);
        }
    }
    // Each pair's distance over its allowed distance (among the voices with speech), kept so that a merge
    // computes only the merged voice's.
    const size_t m     = alive.size();
    auto         ratio = [&](size_t i, size_t j) {
        const double allowed = merge_distance(pitches[alive[i]], pitches[alive[j]], s);
        return allowed < 0.0 ? std::numeric_limits<double>::infinity()
                                     : voice_distance(sums[alive[i]], sums[alive[j]], ridge) / allowed;
    };
    std::vector<double> apart(m * m, 0.0);
    for (size_t i = 0; i < m; i++) {
        for (size_t j = i + 1; j < m; j++) {
            apart[i * m + j] = ratio(i, j);
        }
    }
    std::vector<std::pair<size_t, size_t>> merges;   // (into, from), closest first
    size_t                                 keep = 0; // merges kept
    for (;;) {
        double best = std::numeric_limits<double>::infinity();
        size_t a    = 0;
        size_t b    = 0;
        for (size_t i = 0; i < m; i++) {
            for (size_t j = i + 1; j < m; j++) {
                if (sums[alive[i]].n > 0.0 && sums[alive[j]].n > 0.0 && apart[i * m + j] < best) {
                    best = apart[i * m + j];
                    a    = i;
                    b    = j;
                }
            }
        }
        if (a == b) {
            break;
        }
        add_sums(sums[alive[a]], sums[alive[b]]);
        sums[alive[b]] = frame_sums{};
        add_pitches(pitches[alive[a]], pitches[alive[b]]);
        for (size_t j = 0; j < m; j++) {
            if (j != a && sums[alive[j]].n > 0.0) {
                const size_t lo    = std::min(a, j);
                const size_t hi    = std::max(a, j);
                apart[lo * m + hi] = ratio(lo, hi);
            }
        }
        merges.emplace_back(alive[a], alive[b]);
        if (best < 1.0) {
            keep = merges.size();
        }
    }
    std::vector<int32_t> into(sums.size());
    std::iota(into.begin(), into.end(), 0);
    for (size_t k = 0; k < keep; k++) {
        for (int32_t & v : into) {
            if (v == static_cast<int32_t>(merges[k].second)) {
                v = static_cast<int32_t>(merges[k].first);
            }
        }
    }
    for (piece_frames & p : pieces) {
        for (voice_run & v : p.voices) {
            v.voice = into[static_cast<size_t>(v.voice)];
        }
        p.voices = joined(p.voices, p.n_frames);
    }
}

// The ridge: a share of each cepstrum's variance over all speech.
voice_vector ridge_of(const voice_cepstra & c, const std::vector<piece_frames> & pieces, double share) {
    frame_sums all;
    for (const piece_frames & p : pieces) {
        frame_walk walk;
        add_sums(all, sums_of(c, p, walk, 0, p.n_frames));
    }
    voice_vector ridge{};
    for (size_t i = 0; i < ridge.size(); i++) {
        const double mean = all.sum[i] / all.n;
        ridge[i]          = share * std::max(1e-6, all.outer[i * (i + 1) / 2 + i] / all.n - mean * mean);
    }
    return ridge;
}

// The changes of voice in every piece; every frame's voice set to 0.
std::vector<std::vector<size_t>> find_changes(const voice_cepstra & c, std::vector<piece_frames> & pieces,
                                              const voice_vector & ridge, const voice_finding_settings & s) {
    std::vector<std::vector<size_t>> cuts(pieces.size());
    for (size_t q = 0; q < pieces.size(); q++) {
        cuts[q]          = change_points(c, pieces[q], ridge, s);
        pieces[q].voices = { { 0, 0 } };
    }
    return cuts;
}

// Stretches between changes, clustered; then, for each round, every frame relabelled and the runs of one
// voice clustered again, which mends stretches that held two voices. Sets every frame's voice; returns the
// number of voices.
int32_t cluster_voices(const voice_cepstra & c, std::vector<piece_frames> & pieces,
                       std::vector<std::vector<size_t>> cuts, const voice_vector & ridge, int32_t n_fixed,
                       const voice_finding_settings & s) {
    int32_t                 n_voices = 1;
    std::vector<frame_sums> sums; // of each voice
    for (int32_t round = 0;; round++) {
        std::vector<frame_sums>                stretch_sums;
        std::vector<std::pair<size_t, size_t>> stretch_at; // piece, first frame index
        for (size_t q = 0; q < pieces.size(); q++) {
            std::vector<size_t> & at = cuts[q];
            at.insert(at.begin(), 0);
            at.push_back(pieces[q].n_frames);
            frame_walk walk;
            for (size_t k = 0; k + 1 < at.size(); k++) {
                stretch_sums.push_back(sums_of(c, pieces[q], walk, at[k], at[k + 1]));
                stretch_at.emplace_back(q, at[k]);
            }
        }
        const std::vector<int32_t> labels = cluster_stretches(stretch_sums, ridge, { s.merge_penalty, n_fixed });
        for (piece_frames & p : pieces) {
            p.voices.clear();
        }
        for (size_t k = 0; k < labels.size(); k++) {
            pieces[stretch_at[k].first].voices.push_back({ stretch_at[k].second, labels[k] });
        }
        for (piece_frames & p : pieces) {
            p.voices = joined(p.voices, p.n_frames);
        }
        n_voices = labels.empty() ? 1 : *std::max_element(labels.begin(), labels.end()) + 1;
        // Sums of frames that are multiples of 1 / cepstrum_steps are exact, so a voice's sums are its
        // stretches' sums added in any order: no pass over the frames.
        sums.assign(static_cast<size_t>(n_voices), frame_sums{});
        for (size_t k = 0; k < labels.size(); k++) {
            add_sums(sums[static_cast<size_t>(labels[k])], stretch_sums[k]);
        }
        std::vector<frame_sums>().swap(stretch_sums);
        if (n_voices < 2 || round == s.resegment_rounds) {
            break;
        }
        // Resegmentation; a voice left with too little speech is given to the others.
        std::vector<int32_t>        active;
        std::vector<voice_gaussian> models(sums.size());
        for (size_t v = 0; v < sums.size(); v++) {
            if (sums[v].n >= (n_fixed > 0 ? 1.0 : static_cast<double>(s.min_voice_frames))) {
                active.push_back(static_cast<int32_t>(v));
                models[v] = gaussian_of(sums[v], ridge);
            }
        }
        if (active.empty()) {
            break;
        }
        std::vector<std::vector<voice_run>> before;
        if (n_fixed > 0) {
            for (const piece_frames & p : pieces) {
                before.push_back(p.voices);
            }
        }
        resegment(c, pieces, active, models, s);
        if (n_fixed > 0 && voices_used(pieces, n_voices) < n_voices) {
            // A count asked for is kept: the relabelling that lost a voice is undone.
            for (size_t q = 0; q < pieces.size(); q++) {
                pieces[q].voices = std::move(before[q]);
            }
            break;
        }
        // The next round's stretches: the runs of one voice.
        for (size_t q = 0; q < pieces.size(); q++) {
            cuts[q].clear();
            for (size_t k = 1; k < pieces[q].voices.size(); k++) {
                cuts[q].push_back(pieces[q].voices[k].from);
            }
        }
    }
    if (n_fixed == 0) {
        // Small voices first: a voice of a few seconds lies far from its speaker's other voice by content
        // alone, and merging never leaves a voice smaller.
        give_away_small_voices(c, pieces, sums, ridge, s.min_voice_frames);
        merge_close_voices(c, pieces, std::move(sums), ridge, s);
    }
    return n_voices;
}

// Voices numbered from 1 in the order of first speech; stretches are the runs of one voice in a piece.
std::vector<voice_stretch> numbered_stretches(const std::vector<piece_frames> & pieces, int32_t n_voices,
                                              int32_t n_samples) {
    std::vector<int32_t>       number(static_cast<size_t>(n_voices), 0);
    int32_t                    next = 0;
    std::vector<voice_stretch> out;
    for (const piece_frames & p : pieces) {
        frame_walk walk;
        for (size_t k = 0; k < p.voices.size(); k++) {
            int32_t & v = number[static_cast<size_t>(p.voices[k].voice)];
            if (v == 0) {
                v = ++next;
            }
            // From the start of the run's first frame to the end of its last.
            const int64_t first = frame_at(p, walk, p.voices[k].from);
            const int64_t last  = frame_at(p, walk, voice_run_end(p, k) - 1);
            out.push_back({ static_cast<int32_t>(first * pause_rule::frame_samples),
                            static_cast<int32_t>(std::min<int64_t>(n_samples, (last + 1) * pause_rule::frame_samples)),
                            v });
        }
    }
    return out;
}

} // namespace

double steady_noise_db(const float * samples, int32_t n_samples, const voice_finding_settings & s) {
    const int32_t n_frames = voice_frame_count(n_samples);
    if (n_frames == 0) {
        return -std::numeric_limits<double>::infinity();
    }
    const auto replay = [&](const auto & sink) {
        for (int32_t f = 0; f < n_frames; f++) {
            sink(frame_level_db(samples, n_samples, f));
        }
    };
    // The percentiles noise suppression reads, found without keeping a level per frame.
    const auto               last = static_cast<size_t>(n_frames - 1);
    const std::vector<float> at =
        kth_smallest<float>(replay, { last * static_cast<size_t>(suppression_rule::floor_percentile) / 100,
                                      last * static_cast<size_t>(pause_rule::floor_percentile) / 100,
                                      last * static_cast<size_t>(pause_rule::loud_percentile) / 100 });
    const double lowest = at[0];
    const double floor  = at[1];
    const double loud   = at[2];
    if (!(loud - lowest < s.noisy_span_db && floor - lowest < s.steady_spread_db)) {
        return -std::numeric_limits<double>::infinity();
    }
    return floor + s.noise_margin_db;
}

std::vector<voice_stretch> find_voice_stretches(const float * samples, int32_t n_samples, int32_t n_fixed,
                                                const voice_finding_settings & s) {
    const voice_cepstra       c = compute_voice_cepstra(samples, n_samples, steady_noise_db(samples, n_samples, s));
    std::vector<piece_frames> pieces = speech_frames(samples, n_samples, s.speech_margin_db, s.speech_margin_share);
    if (pieces.empty()) {
        return {};
    }
    const voice_vector               ridge    = ridge_of(c, pieces, s.ridge);
    std::vector<std::vector<size_t>> cuts     = find_changes(c, pieces, ridge, s);
    const int32_t                    n_voices = cluster_voices(c, pieces, std::move(cuts), ridge, n_fixed, s);
    place_changes(c, pieces, ridge, s);
    return numbered_stretches(pieces, n_voices, n_samples);
}

speaker_result find_speakers(const float * samples, int32_t n_samples, const speaker_params & params) {
    speaker_result result;
    result.success = true;
    if (samples == nullptr || n_samples <= 0) {
        return result; // no speech in no samples
    }
    result.stretches = find_voice_stretches(samples, n_samples, std::max(0, params.n_speakers), {});
    for (const voice_stretch & v : result.stretches) {
        result.n_voices = std::max(result.n_voices, v.voice);
    }
    return result;
}

} // namespace kelvo_asr
