// A BIC test at every candidate point of a piece, over a window of frames on each side; prefix sums of
// the piece's frames make each test cost the same whatever the window.

#include "engine/speakers/voice_changes.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kelvo_asr {

namespace {

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

} // namespace

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
        const double     score =
            bic_score(left.n, log_det_covariance(left, ridge), right.n, log_det_covariance(right, ridge),
                      log_det_covariance(both, ridge), s.change_penalty);
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

} // namespace kelvo_asr
