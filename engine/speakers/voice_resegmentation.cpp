// The likelihoods of each voice are summed once per piece, so that smoothing over a window costs two
// lookups per frame and voice.

#include "engine/speakers/voice_resegmentation.h"

#include <algorithm>

namespace kelvo_asr {

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

} // namespace kelvo_asr
