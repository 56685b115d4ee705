// Each frame's likelihoods are kept only while the smoothing window holds them, and the Viterbi pass keeps
// one byte per frame and voice (stayed or switched) and the best voice per frame, so that memory grows
// slowly with the length of a piece.

#include "engine/speakers/voice_resegmentation.h"

#include <algorithm>
#include <cstdint>

namespace kelvo_asr {

void resegment(const voice_cepstra & c, std::vector<piece_frames> & pieces, const std::vector<int32_t> & active,
               const std::vector<voice_gaussian> & models, const voice_finding_settings & s) {
    const size_t k_n  = active.size();
    const auto   half = static_cast<size_t>(std::max(0, s.smooth_frames));
    const size_t ring = 2 * half + 1; // frames [i - half, i + half] of the window, by frame index mod ring
    float        x[n_voice_cepstra];
    for (piece_frames & p : pieces) {
        const size_t          m = p.frames.size();
        std::vector<double>   likelihood(ring * k_n);
        size_t                known = 0; // frames whose likelihoods have been computed
        std::vector<double>   score(k_n);
        std::vector<double>   next(k_n);
        std::vector<uint8_t>  switched(m * k_n);
        std::vector<uint32_t> best_at(m);
        for (size_t i = 0; i < m; i++) {
            const size_t from = i > half ? i - half : 0;
            const size_t to   = std::min(m, i + half + 1);
            for (; known < to; known++) {
                frame_cepstra(c, p.frames[known], x);
                for (size_t k = 0; k < k_n; k++) {
                    likelihood[(known % ring) * k_n + k] =
                        frame_log_likelihood(models[static_cast<size_t>(active[k])], x);
                }
            }
            size_t best = 0;
            for (size_t k = 1; k < k_n; k++) {
                if (score[k] > score[best]) {
                    best = k;
                }
            }
            best_at[i] = static_cast<uint32_t>(best);
            for (size_t k = 0; k < k_n; k++) {
                double sum = 0.0;
                for (size_t f = from; f < to; f++) {
                    sum += likelihood[(f % ring) * k_n + k];
                }
                const double here     = sum / static_cast<double>(to - from);
                const bool   jump     = i > 0 && score[best] - s.switch_penalty > score[k];
                next[k]               = (i > 0 ? score[jump ? best : k] : 0.0) + here;
                switched[i * k_n + k] = jump ? 1 : 0;
            }
            score.swap(next);
        }
        size_t k = static_cast<size_t>(std::max_element(score.begin(), score.end()) - score.begin());
        for (size_t i = m; i-- > 0;) {
            p.voice[i] = active[k];
            if (switched[i * k_n + k] != 0) {
                k = best_at[i];
            }
        }
    }
}

} // namespace kelvo_asr
