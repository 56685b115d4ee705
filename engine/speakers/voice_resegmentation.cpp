// Each frame's likelihoods are kept only while the smoothing window holds them. The Viterbi pass keeps one
// byte per frame and voice (stayed or switched) and the best voice per frame for a block of frames only:
// the scores are kept at the start of each block, and the trace back runs the pass again over each earlier
// block from its start, so that memory does not grow with the length of a piece. The pass run again does
// the same arithmetic in the same order, so it decides as the first did.

#include "engine/speakers/voice_resegmentation.h"

#include <algorithm>
#include <cstdint>

namespace kelvo_asr {

namespace {

// Frames of a block whose trace-back decisions are kept at once.
constexpr size_t trace_block = 4096;

// The Viterbi pass over one piece, frame by frame; it can start again at any frame from the scores kept
// there.
struct viterbi_pass {
    const voice_cepstra &               c;
    const piece_frames &                p;
    const std::vector<int32_t> &        active;
    const std::vector<voice_gaussian> & models;
    const voice_finding_settings &      s;
    size_t                              k_n  = 0;
    size_t                              half = 0;
    size_t                              ring = 0; // frames [i - half, i + half] of the window, by index mod ring
    std::vector<double>                 likelihood;
    size_t                              known = 0; // frames whose likelihoods have been computed
    frame_walk                          walk;
    std::vector<double>                 score;
    std::vector<double>                 next;
};

// Sets `v` to take frame `i` next, with `score` the scores before it.
void start_at(viterbi_pass & v, size_t i, const std::vector<double> & score) {
    v.score = score;
    v.next.assign(v.k_n, 0.0);
    v.known = i > v.half ? i - v.half : 0;
}

// Takes frame `i`: updates the scores, and writes frame i's decisions into `switched` (k_n bytes) and
// `best_at`.
void take_frame(viterbi_pass & v, size_t i, uint8_t * switched, uint32_t & best_at) {
    const size_t m    = v.p.n_frames;
    const size_t k_n  = v.k_n;
    const size_t from = i > v.half ? i - v.half : 0;
    const size_t to   = std::min(m, i + v.half + 1);
    float        x[n_voice_cepstra];
    for (; v.known < to; v.known++) {
        frame_cepstra(v.c, frame_at(v.p, v.walk, v.known), x);
        for (size_t k = 0; k < k_n; k++) {
            v.likelihood[(v.known % v.ring) * k_n + k] =
                frame_log_likelihood(v.models[static_cast<size_t>(v.active[k])], x);
        }
    }
    size_t best = 0;
    for (size_t k = 1; k < k_n; k++) {
        if (v.score[k] > v.score[best]) {
            best = k;
        }
    }
    best_at = static_cast<uint32_t>(best);
    for (size_t k = 0; k < k_n; k++) {
        double sum = 0.0;
        for (size_t f = from; f < to; f++) {
            sum += v.likelihood[(f % v.ring) * k_n + k];
        }
        const double here = sum / static_cast<double>(to - from);
        const bool   jump = i > 0 && v.score[best] - v.s.switch_penalty > v.score[k];
        v.next[k]         = (i > 0 ? v.score[jump ? best : k] : 0.0) + here;
        switched[k]       = jump ? 1 : 0;
    }
    v.score.swap(v.next);
}

// Frames [from, to) of the pass from the scores before `from`, their decisions into `switched` and `best_at`.
void run_block(viterbi_pass & v, size_t from, size_t to, const std::vector<double> & score,
               std::vector<uint8_t> & switched, std::vector<uint32_t> & best_at) {
    start_at(v, from, score);
    for (size_t i = from; i < to; i++) {
        take_frame(v, i, &switched[(i - from) * v.k_n], best_at[i - from]);
    }
}

} // namespace

void resegment(const voice_cepstra & c, std::vector<piece_frames> & pieces, const std::vector<int32_t> & active,
               const std::vector<voice_gaussian> & models, const voice_finding_settings & s) {
    const size_t k_n  = active.size();
    const auto   half = static_cast<size_t>(std::max(0, s.smooth_frames));
    for (piece_frames & p : pieces) {
        const size_t m = p.n_frames;
        viterbi_pass v{ c, p, active, models, s, k_n, half, 2 * half + 1, {}, 0, {}, {}, {} };
        v.likelihood.assign(v.ring * k_n, 0.0);
        const size_t                     n_blocks = (m + trace_block - 1) / trace_block;
        std::vector<std::vector<double>> block_scores(n_blocks); // the scores before each block's first frame
        std::vector<uint8_t>             switched(std::min(m, trace_block) * k_n);
        std::vector<uint32_t>            best_at(std::min(m, trace_block));
        start_at(v, 0, std::vector<double>(k_n, 0.0));
        for (size_t b = 0; b < n_blocks; b++) {
            block_scores[b] = v.score;
            const size_t to = std::min(m, (b + 1) * trace_block);
            for (size_t i = b * trace_block; i < to; i++) {
                take_frame(v, i, &switched[(i - b * trace_block) * k_n], best_at[i - b * trace_block]);
            }
        }
        // Traced back block by block; the last block's decisions are still there.
        size_t k = static_cast<size_t>(std::max_element(v.score.begin(), v.score.end()) - v.score.begin());
        std::vector<voice_run> backwards; // voice runs from the end
        for (size_t b = n_blocks; b-- > 0;) {
            const size_t from = b * trace_block;
            const size_t to   = std::min(m, from + trace_block);
            if (b + 1 < n_blocks) {
                run_block(v, from, to, block_scores[b], switched, best_at);
            }
            for (size_t i = to; i-- > from;) {
                if (backwards.empty() || backwards.back().voice != active[k]) {
                    backwards.push_back({ i, active[k] });
                }
                backwards.back().from = i;
                if (switched[(i - from) * k_n + k] != 0) {
                    k = best_at[i - from];
                }
            }
        }
        p.voices.assign(backwards.rbegin(), backwards.rend());
    }
}

} // namespace kelvo_asr
