// A BIC test at every candidate point of a piece, over a window of frames on each side; the windows slide
// along the piece, so that each test costs the same whatever the window and memory does not grow with the
// piece.

#include "engine/speakers/voice_changes.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <set>
#include <utility>

namespace kelvo_asr {

namespace {

// Adds (sign 1) or removes (sign -1) frames [from, to) of `frames` to or from `sums`. Cepstra as read are
// multiples of 1 / cepstrum_steps, so sums of them and of their products are exact in doubles and a window
// that slides by adding and removing frames holds the same sums as one summed afresh.
// Each edge of a window keeps its own walk, as it moves steadily along the piece.
void slide(frame_sums & sums, const voice_cepstra & c, const piece_frames & frames, frame_walk & walk, size_t from,
           size_t to, double sign) {
    float x[n_voice_cepstra];
    for (size_t i = from; i < to; i++) {
        frame_cepstra(c, frame_at(frames, walk, i), x);
        if (sign > 0) {
            add_frame(sums, x);
            continue;
        }
        frame_sums one;
        add_frame(one, x);
        sums.n -= one.n;
        for (size_t k = 0; k < sums.sum.size(); k++) {
            sums.sum[k] -= one.sum[k];
        }
        for (size_t k = 0; k < sums.outer.size(); k++) {
            sums.outer[k] -= one.outer[k];
        }
    }
}

} // namespace

std::vector<size_t> change_points(const voice_cepstra & c, const piece_frames & frames, const voice_vector & ridge,
                                  const voice_finding_settings & s) {
    const size_t m    = frames.n_frames;
    const auto   edge = static_cast<size_t>(s.min_stretch);
    if (m < 2 * edge) {
        return {};
    }
    // The windows before and after the candidate, slid along the piece: memory stays that of two windows.
    std::vector<std::pair<double, size_t>> found;
    const auto                             w    = static_cast<size_t>(s.change_window);
    const auto                             step = static_cast<size_t>(s.change_step);
    frame_sums                             left;
    frame_sums                             right;
    size_t                                 from = edge > w ? edge - w : 0;
    size_t                                 to   = std::min(m, edge + w);
    frame_walk                             at_from;
    frame_walk                             at_t;
    frame_walk                             at_to;
    slide(left, c, frames, at_from, from, edge, 1.0);
    slide(right, c, frames, at_t, edge, to, 1.0);
    for (size_t t = edge; t + edge <= m; t += step) {
        if (t > edge && step > w) { // windows that do not overlap the last ones are summed afresh
            from = t - w;
            to   = std::min(m, t + w);
            left = right = frame_sums{};
            slide(left, c, frames, at_from, from, t, 1.0);
            slide(right, c, frames, at_t, t, to, 1.0);
        } else if (t > edge) {
            const size_t new_from = t > w ? t - w : 0;
            const size_t new_to   = std::min(m, t + w);
            slide(left, c, frames, at_t, t - step, t, 1.0);
            slide(left, c, frames, at_from, from, new_from, -1.0);
            slide(right, c, frames, at_t, t - step, t, -1.0);
            slide(right, c, frames, at_to, to, new_to, 1.0);
            from = new_from;
            to   = new_to;
        }
        frame_sums both = left;
        add_sums(both, right);
        const double score =
            bic_score(left.n, log_det_covariance(left, ridge), right.n, log_det_covariance(right, ridge),
                      log_det_covariance(both, ridge), s.change_penalty);
        if (score > 0.0) {
            found.emplace_back(-score, t);
        }
    }
    std::sort(found.begin(), found.end());
    // Best first, each kept when no kept one lies closer than the minimum stretch.
    std::set<size_t> kept;
    for (const auto & candidate : found) {
        const size_t t    = candidate.second;
        const auto   next = kept.lower_bound(t);
        const bool   near =
            (next != kept.end() && *next - t < edge) || (next != kept.begin() && t - *std::prev(next) < edge);
        if (!near) {
            kept.insert(t);
        }
    }
    std::vector<size_t> chosen(kept.begin(), kept.end());
    return chosen;
}

} // namespace kelvo_asr
