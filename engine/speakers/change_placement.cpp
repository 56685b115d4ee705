// The models of the final voices are estimated once from all their frames; each change then looks only at
// the frames of its window, so that nothing is kept per frame beyond one window.

#include "engine/speakers/change_placement.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kelvo_asr {

namespace {

// Each voice's frame sums over every piece, numbered as the runs number them.
std::vector<frame_sums> final_voice_sums(const voice_cepstra & c, const std::vector<piece_frames> & pieces) {
    std::vector<frame_sums> sums;
    float                   x[n_voice_cepstra];
    for (const piece_frames & p : pieces) {
        frame_walk walk;
        for (size_t r = 0; r < p.voices.size(); r++) {
            const auto v = static_cast<size_t>(p.voices[r].voice);
            if (sums.size() <= v) {
                sums.resize(v + 1);
            }
            for (size_t i = p.voices[r].from; i < voice_run_end(p, r); i++) {
                frame_cepstra(c, frame_at(p, walk, i), x);
                add_frame(sums[v], x);
            }
        }
    }
    return sums;
}

// The split in [lo, hi] of frames [lo, hi) between voice `a` before and `b` after that gives the most
// likelihood; on a tie the one nearest `at`.
size_t best_split(const voice_cepstra & c, const piece_frames & p, frame_walk & walk, size_t lo, size_t hi, size_t at,
                  const voice_gaussian & a, const voice_gaussian & b) {
    float  x[n_voice_cepstra];
    double gain      = 0.0; // likelihood `a` gains over `b` on frames [lo, t)
    double best_gain = 0.0;
    size_t best      = lo;
    auto   nearer    = [at](size_t t, size_t than) {
        return (t > at ? t - at : at - t) < (than > at ? than - at : at - than);
    };
    for (size_t t = lo; t < hi; t++) {
        frame_cepstra(c, frame_at(p, walk, t), x);
        gain += frame_log_likelihood(a, x) - frame_log_likelihood(b, x);
        if (gain > best_gain || (gain == best_gain && nearer(t + 1, best))) {
            best_gain = gain;
            best      = t + 1;
        }
    }
    return best;
}

} // namespace

void place_changes(const voice_cepstra & c, std::vector<piece_frames> & pieces, const voice_vector & ridge,
                   const voice_finding_settings & s) {
    if (s.place_window <= 0) {
        return;
    }
    const std::vector<frame_sums> sums = final_voice_sums(c, pieces);
    std::vector<voice_gaussian>   models(sums.size());
    size_t                        n_voices = 0;
    for (size_t v = 0; v < sums.size(); v++) {
        if (sums[v].n > 0.0) {
            models[v] = gaussian_of(sums[v], ridge);
            n_voices++;
        }
    }
    if (n_voices < 2) {
        return;
    }
    const auto window = static_cast<size_t>(s.place_window);
    for (piece_frames & p : pieces) {
        frame_walk walk;
        for (size_t k = 1; k < p.voices.size(); k++) {
            // Within the window, and past the middle of neither run beside the change.
            const size_t at    = p.voices[k].from;
            const size_t start = p.voices[k - 1].from;
            const size_t end   = voice_run_end(p, k);
            const size_t lo    = std::max(at > window ? at - window : 0, start + (at - start + 1) / 2);
            const size_t hi    = std::min(at + window, at + (end - at) / 2);
            if (lo >= hi) {
                continue;
            }
            p.voices[k].from = best_split(c, p, walk, lo, hi, at, models[static_cast<size_t>(p.voices[k - 1].voice)],
                                          models[static_cast<size_t>(p.voices[k].voice)]);
        }
    }
}

} // namespace kelvo_asr
