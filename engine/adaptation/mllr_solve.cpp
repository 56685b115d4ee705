// Per-row maximum-likelihood mean transform with a prior toward the identity.

#include "engine/adaptation/mllr_solve.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace kelvo_asr {

namespace {

// Solves the n x n system m * x = y in place by Gaussian elimination with partial pivoting; false when the
// matrix is singular or too badly conditioned to trust.
bool solve_linear(std::vector<double> & m, std::vector<double> & y, size_t n) {
    double largest = 0;
    for (const double v : m) {
        largest = std::max(largest, std::fabs(v));
    }
    if (!(largest > 0) || !std::isfinite(largest)) {
        return false;
    }
    const double tiny = largest * 1e-12;
    for (size_t col = 0; col < n; col++) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; r++) {
            if (std::fabs(m[r * n + col]) > std::fabs(m[pivot * n + col])) {
                pivot = r;
            }
        }
        if (std::fabs(m[pivot * n + col]) <= tiny) {
            return false;
        }
        if (pivot != col) {
            for (size_t c = 0; c < n; c++) {
                std::swap(m[pivot * n + c], m[col * n + c]);
            }
            std::swap(y[pivot], y[col]);
        }
        for (size_t r = col + 1; r < n; r++) {
            const double f = m[r * n + col] / m[col * n + col];
            for (size_t c = col; c < n; c++) {
                m[r * n + c] -= f * m[col * n + c];
            }
            y[r] -= f * y[col];
        }
    }
    for (size_t col = n; col-- > 0;) {
        double v = y[col];
        for (size_t c = col + 1; c < n; c++) {
            v -= m[col * n + c] * y[c];
        }
        y[col] = v / m[col * n + col];
        if (!std::isfinite(y[col])) {
            return false;
        }
    }
    return true;
}

} // namespace

mllr_stream_stats empty_stream_stats(size_t dim) {
    mllr_stream_stats s;
    s.dim = dim;
    s.g.assign(dim * (dim + 1) * (dim + 1), 0.0);
    s.k.assign(dim * (dim + 1), 0.0);
    return s;
}

void add_gaussian(mllr_stream_stats & stats, double count, const double * sum, const float * mean,
                  const float * variance) {
    if (!(count > 0)) {
        return;
    }
    const size_t        d = stats.dim;
    const size_t        e = d + 1;
    std::vector<double> x(e);
    x[0] = 1.0;
    for (size_t j = 0; j < d; j++) {
        x[j + 1] = mean[j];
    }
    for (size_t i = 0; i < d; i++) {
        const double w  = 1.0 / variance[i];
        const double cw = count * w;
        double *     g  = stats.g.data() + i * e * e;
        for (size_t r = 0; r < e; r++) {
            const double cr = cw * x[r];
            for (size_t c = 0; c < e; c++) {
                g[r * e + c] += cr * x[c];
            }
            stats.k[i * e + r] += w * sum[i] * x[r];
        }
    }
    stats.occupancy += count;
}

mllr_stream_transform identity_transform(size_t dim) {
    mllr_stream_transform t;
    t.dim = dim;
    t.a.assign(dim * dim, 0.0);
    t.b.assign(dim, 0.0);
    for (size_t i = 0; i < dim; i++) {
        t.a[i * dim + i] = 1.0;
    }
    return t;
}

mllr_stream_transform solve_mllr(const mllr_stream_stats & stats, double prior_frames) {
    mllr_stream_transform t = identity_transform(stats.dim);
    if (!(stats.occupancy > 0)) {
        return t;
    }
    const size_t d = stats.dim;
    const size_t e = d + 1;
    // The prior's precision: the diagonal of G_i per frame of occupancy, so that its weight is counted in
    // frames whatever the scale of the features. Its mean is the identity's row: b = 0, a row = e_i.
    const double scale = prior_frames > 0 ? prior_frames / stats.occupancy : 0.0;
    for (size_t i = 0; i < d; i++) {
        std::vector<double> m(stats.g.begin() + static_cast<std::ptrdiff_t>(i * e * e),
                              stats.g.begin() + static_cast<std::ptrdiff_t>((i + 1) * e * e));
        std::vector<double> y(stats.k.begin() + static_cast<std::ptrdiff_t>(i * e),
                              stats.k.begin() + static_cast<std::ptrdiff_t>((i + 1) * e));
        for (size_t r = 0; r < e; r++) {
            const double p = scale * m[r * e + r];
            m[r * e + r] += p;
            if (r == i + 1) {
                y[r] += p;
            }
        }
        if (!solve_linear(m, y, e)) {
            continue;
        }
        t.b[i] = y[0];
        for (size_t j = 0; j < d; j++) {
            t.a[i * d + j] = y[j + 1];
        }
    }
    return t;
}

} // namespace kelvo_asr
