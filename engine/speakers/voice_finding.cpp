// Speech frames inside the recogniser's pieces; changes of voice where a BIC test between the frames
// before and after a point says two Gaussians fit better than one; the stretches between changes clustered
// bottom-up; then every speech frame relabelled by a Viterbi pass over smoothed per-voice likelihoods,
// which also moves the changes to where the voices' models place them.

#include "engine/speakers/voice_finding.h"

#include "engine/audio/pause_cutter.h"
#include "engine/speakers/cepstra.h"
#include "engine/speakers/voice_clustering.h"
#include "engine/speakers/voice_gaussian.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace kelvo_asr {

namespace {

constexpr double n_parameters = n_voice_cepstra + n_voice_pairs;

// The speech frames of one piece, in order, and the voice of each.
struct piece_frames {
    std::vector<int32_t> frames;
    std::vector<int32_t> voice;
};

double percentile(std::vector<float> values, double share) {
    const auto k = static_cast<size_t>(share * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

// Speech frames of each piece: those clearly above the recording's noise floor.
std::vector<piece_frames> speech_frames(const float * samples, int32_t n_samples, const voice_cepstra & c,
                                        double margin_db) {
    std::vector<piece_frames> out;
    if (c.n_frames == 0) {
        return out;
    }
    const double floor     = percentile(c.level_db, pause_rule::floor_percentile / 100.0);
    const double loud      = percentile(c.level_db, pause_rule::loud_percentile / 100.0);
    const double threshold = std::max(floor + margin_db, loud - pause_rule::speech_range_db);
    for (const speech_piece & p : cut_at_pauses(samples, n_samples)) {
        piece_frames pf;
        for (int32_t f = p.start / pause_rule::frame_samples;
             f < std::min(c.n_frames, (p.end + pause_rule::frame_samples - 1) / pause_rule::frame_samples); f++) {
            if (c.level_db[static_cast<size_t>(f)] > threshold) {
                pf.frames.push_back(f);
            }
        }
        if (!pf.frames.empty()) {
            out.push_back(std::move(pf));
        }
    }
    return out;
}

frame_sums sums_of(const voice_cepstra & c, const std::vector<int32_t> & frames, size_t from, size_t to) {
    frame_sums s;
    float      x[n_voice_cepstra];
    for (size_t i = from; i < to; i++) {
        frame_cepstra(c, frames[i], x);
        add_frame(s, x);
    }
    return s;
}

frame_sums difference(const frame_sums & a, const frame_sums & b) {
    frame_sums d = a;
    d.n -= b.n;
    for (size_t i = 0; i < d.sum.size(); i++) {
        d.sum[i] -= b.sum[i];
    }
    for (size_t i = 0; i < d.outer.size(); i++) {
        d.outer[i] -= b.outer[i];
    }
    return d;
}

// Points of a piece where the voice changes: the best-scoring candidates, none closer than the minimum
// stretch to another or to an end.
std::vector<size_t> change_points(const voice_cepstra & c, const std::vector<int32_t> & frames,
                                  const voice_vector & ridge, const voice_finding_settings & s) {
    const size_t m    = frames.size();
    const auto   edge = static_cast<size_t>(s.min_stretch);
    if (m < 2 * edge) {
        return {};
    }
    std::vector<frame_sums> prefix(m + 1);
    float                   x[n_voice_cepstra];
    for (size_t i = 0; i < m; i++) {
        prefix[i + 1] = prefix[i];
        frame_cepstra(c, frames[i], x);
        add_frame(prefix[i + 1], x);
    }
    std::vector<std::pair<double, size_t>> found;
    const auto                             w = static_cast<size_t>(s.change_window);
    for (size_t t = edge; t + edge <= m; t += static_cast<size_t>(s.change_step)) {
        const size_t     from  = t > w ? t - w : 0;
        const size_t     to    = std::min(m, t + w);
        const frame_sums left  = difference(prefix[t], prefix[from]);
        const frame_sums right = difference(prefix[to], prefix[t]);
        const frame_sums both  = difference(prefix[to], prefix[from]);
        const double gain = 0.5 * (both.n * log_det_covariance(both, ridge) - left.n * log_det_covariance(left, ridge) -
                                   right.n * log_det_covariance(right, ridge));
        const double score = gain - s.change_penalty * 0.5 * n_parameters * std::log(both.n);
        if (score > 0.0) {
            found.emplace_back(-score, t);
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<size_t> chosen;
    for (const auto & candidate : found) {
        const size_t t = candidate.second;
        const bool   near =
            std::any_of(chosen.begin(), chosen.end(), [&](size_t u) { return (t > u ? t - u : u - t) < edge; });
        if (!near) {
            chosen.push_back(t);
        }
    }
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

// Relabels every speech frame with the voices `active` (others take no frames), by a Viterbi pass over
// each piece's smoothed likelihoods with a cost for each change of voice.
void resegment(const voice_cepstra & c, std::vector<piece_frames> & pieces, const std::vector<int32_t> & active,
               const std::vector<voice_gaussian> & models, const voice_finding_settings & s) {
    const size_t k_n = active.size();
    float        x[n_voice_cepstra];
    for (piece_frames & p : pieces) {
        const size_t        m = p.frames.size();
        std::vector<double> cumulative((m + 1) * k_n, 0.0);
        for (size_t i = 0; i < m; i++) {
            frame_cepstra(c, p.frames[i], x);
            for (size_t k = 0; k < k_n; k++) {
                cumulative[(i + 1) * k_n + k] =
                    cumulative[i * k_n + k] + frame_log_likelihood(models[static_cast<size_t>(active[k])], x);
            }
        }
        const auto          half = static_cast<size_t>(s.smooth_frames);
        std::vector<double> score(k_n);
        std::vector<double> next(k_n);
        std::vector<size_t> back(m * k_n);
        for (size_t i = 0; i < m; i++) {
            const size_t from = i > half ? i - half : 0;
            const size_t to   = std::min(m, i + half + 1);
            size_t       best = 0;
            for (size_t k = 1; k < k_n; k++) {
                if (score[k] > score[best]) {
                    best = k;
                }
            }
            for (size_t k = 0; k < k_n; k++) {
                const double here =
                    (cumulative[to * k_n + k] - cumulative[from * k_n + k]) / static_cast<double>(to - from);
                size_t prev = k;
                if (i > 0 && score[best] - s.switch_penalty > score[k]) {
                    prev = best;
                }
                next[k]           = (i > 0 ? score[prev] : 0.0) + here;
                back[i * k_n + k] = prev;
            }
            score.swap(next);
        }
        size_t k = static_cast<size_t>(std::max_element(score.begin(), score.end()) - score.begin());
        for (size_t i = m; i-- > 0;) {
            p.voice[i] = active[k];
            k          = back[i * k_n + k];
        }
    }
}

// The frame sums of every voice 0 .. n_voices - 1.
std::vector<frame_sums> voice_sums(const voice_cepstra & c, const std::vector<piece_frames> & pieces,
                                   int32_t n_voices) {
    std::vector<frame_sums> sums(static_cast<size_t>(n_voices));
    float                   x[n_voice_cepstra];
    for (const piece_frames & p : pieces) {
        for (size_t i = 0; i < p.frames.size(); i++) {
            frame_cepstra(c, p.frames[i], x);
            add_frame(sums[static_cast<size_t>(p.voice[i])], x);
        }
    }
    return sums;
}

} // namespace

std::vector<voice_stretch> find_voice_stretches(const float * samples, int32_t n_samples, int32_t n_fixed,
                                                const voice_finding_settings & s) {
    const voice_cepstra       c      = compute_voice_cepstra(samples, n_samples);
    std::vector<piece_frames> pieces = speech_frames(samples, n_samples, c, s.speech_margin_db);
    if (pieces.empty()) {
        return {};
    }
    // The ridge: a share of each cepstrum's variance over all speech.
    frame_sums all;
    for (const piece_frames & p : pieces) {
        add_sums(all, sums_of(c, p.frames, 0, p.frames.size()));
    }
    voice_vector ridge{};
    for (size_t i = 0; i < ridge.size(); i++) {
        const double mean = all.sum[i] / all.n;
        ridge[i]          = s.ridge * std::max(1e-6, all.outer[i * (i + 1) / 2 + i] / all.n - mean * mean);
    }

    // Stretches between changes, clustered; then, for each round, every frame relabelled and the runs of
    // one voice clustered again, which mends stretches that held two voices.
    std::vector<std::vector<size_t>> cuts(pieces.size());
    for (size_t q = 0; q < pieces.size(); q++) {
        cuts[q] = change_points(c, pieces[q].frames, ridge, s);
        pieces[q].voice.assign(pieces[q].frames.size(), 0);
    }
    int32_t n_voices = 1;
    for (int32_t round = 0;; round++) {
        std::vector<frame_sums>                stretch_sums;
        std::vector<std::pair<size_t, size_t>> stretch_at; // piece, first frame index
        for (size_t q = 0; q < pieces.size(); q++) {
            std::vector<size_t> & at = cuts[q];
            at.insert(at.begin(), 0);
            at.push_back(pieces[q].frames.size());
            for (size_t k = 0; k + 1 < at.size(); k++) {
                stretch_sums.push_back(sums_of(c, pieces[q].frames, at[k], at[k + 1]));
                stretch_at.emplace_back(q, at[k]);
            }
        }
        const std::vector<int32_t> labels =
            cluster_stretches(std::move(stretch_sums), ridge, { s.merge_penalty, n_fixed });
        for (size_t k = 0; k < labels.size(); k++) {
            piece_frames & p   = pieces[stretch_at[k].first];
            const size_t   end = k + 1 < labels.size() && stretch_at[k + 1].first == stretch_at[k].first
                                     ? stretch_at[k + 1].second
                                     : p.frames.size();
            std::fill(p.voice.begin() + static_cast<std::ptrdiff_t>(stretch_at[k].second),
                      p.voice.begin() + static_cast<std::ptrdiff_t>(end), labels[k]);
        }
        n_voices = labels.empty() ? 1 : *std::max_element(labels.begin(), labels.end()) + 1;
        if (n_voices < 2 || round == s.resegment_rounds) {
            break;
        }
        // Resegmentation; a voice left with too little speech is given to the others.
        const std::vector<frame_sums> sums = voice_sums(c, pieces, n_voices);
        std::vector<int32_t>          active;
        std::vector<voice_gaussian>   models(sums.size());
        for (size_t v = 0; v < sums.size(); v++) {
            if (sums[v].n >= (n_fixed > 0 ? 1.0 : static_cast<double>(s.min_voice_frames))) {
                active.push_back(static_cast<int32_t>(v));
                models[v] = gaussian_of(sums[v], ridge);
            }
        }
        if (active.empty()) {
            break;
        }
        resegment(c, pieces, active, models, s);
        // The next round's stretches: the runs of one voice.
        for (size_t q = 0; q < pieces.size(); q++) {
            cuts[q].clear();
            for (size_t i = 1; i < pieces[q].voice.size(); i++) {
                if (pieces[q].voice[i] != pieces[q].voice[i - 1]) {
                    cuts[q].push_back(i);
                }
            }
        }
    }

    // Voices numbered from 1 in the order of first speech; stretches are the runs of one voice in a piece.
    std::vector<int32_t>       number(static_cast<size_t>(n_voices), 0);
    int32_t                    next = 0;
    std::vector<voice_stretch> out;
    for (const piece_frames & p : pieces) {
        for (size_t i = 0; i < p.frames.size(); i++) {
            int32_t & v = number[static_cast<size_t>(p.voice[i])];
            if (v == 0) {
                v = ++next;
            }
            const int32_t start = p.frames[i] * pause_rule::frame_samples;
            const int32_t end   = std::min(n_samples, start + pause_rule::frame_samples);
            if (i > 0 && p.voice[i] == p.voice[i - 1]) {
                out.back().end = end;
            } else {
                out.push_back({ start, end, v });
            }
        }
    }
    return out;
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
