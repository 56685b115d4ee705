// Four steps: speech frames inside the recogniser's pieces; changes of voice inside each piece; the
// stretches between changes clustered bottom-up, then every speech frame relabelled and the runs of one
// voice clustered again, for a few rounds; the voices' runs as numbered stretches.

#include "engine/speakers/voice_finding.h"

#include "engine/audio/pause_cutter.h"
#include "engine/speakers/cepstra.h"
#include "engine/speakers/voice_changes.h"
#include "engine/speakers/voice_clustering.h"
#include "engine/speakers/voice_gaussian.h"
#include "engine/speakers/voice_resegmentation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace kelvo_asr {

namespace {

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

// The ridge: a share of each cepstrum's variance over all speech.
voice_vector ridge_of(const voice_cepstra & c, const std::vector<piece_frames> & pieces, double share) {
    frame_sums all;
    for (const piece_frames & p : pieces) {
        add_sums(all, sums_of(c, p.frames, 0, p.frames.size()));
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
        cuts[q] = change_points(c, pieces[q].frames, ridge, s);
        pieces[q].voice.assign(pieces[q].frames.size(), 0);
    }
    return cuts;
}

// Stretches between changes, clustered; then, for each round, every frame relabelled and the runs of one
// voice clustered again, which mends stretches that held two voices. Sets every frame's voice; returns the
// number of voices.
int32_t cluster_voices(const voice_cepstra & c, std::vector<piece_frames> & pieces,
                       std::vector<std::vector<size_t>> cuts, const voice_vector & ridge, int32_t n_fixed,
                       const voice_finding_settings & s) {
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
    return n_voices;
}

// Voices numbered from 1 in the order of first speech; stretches are the runs of one voice in a piece.
std::vector<voice_stretch> numbered_stretches(const std::vector<piece_frames> & pieces, int32_t n_voices,
                                              int32_t n_samples) {
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

} // namespace

std::vector<voice_stretch> find_voice_stretches(const float * samples, int32_t n_samples, int32_t n_fixed,
                                                const voice_finding_settings & s) {
    const voice_cepstra       c      = compute_voice_cepstra(samples, n_samples);
    std::vector<piece_frames> pieces = speech_frames(samples, n_samples, c, s.speech_margin_db);
    if (pieces.empty()) {
        return {};
    }
    const voice_vector               ridge    = ridge_of(c, pieces, s.ridge);
    std::vector<std::vector<size_t>> cuts     = find_changes(c, pieces, ridge, s);
    const int32_t                    n_voices = cluster_voices(c, pieces, std::move(cuts), ridge, n_fixed, s);
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
