// Covariances through their Cholesky factors; everything in doubles, one small matrix at a time.

#include "engine/speakers/voice_gaussian.h"

#include <cmath>
#include <numbers>

namespace kelvo_asr {

namespace {

constexpr size_t d = n_voice_cepstra;

constexpr size_t at(size_t i, size_t j) {
    return i * (i + 1) / 2 + j; // j <= i
}

using packed = std::array<double, n_voice_pairs>;

// The covariance of `sums` plus `ridge` on the diagonal, packed.
packed covariance(const frame_sums & sums, const voice_vector & ridge) {
    packed       c{};
    const double n = sums.n > 0.0 ? sums.n : 1.0;
    for (size_t i = 0; i < d; i++) {
        for (size_t j = 0; j <= i; j++) {
            c[at(i, j)] = sums.outer[at(i, j)] / n - (sums.sum[i] / n) * (sums.sum[j] / n);
        }
        c[at(i, i)] += ridge[i];
    }
    return c;
}

// Cholesky factor in place; a pivot that is not positive is raised to a tiny value, so that a degenerate
// covariance still gives a finite (very small) determinant.
void cholesky(packed & c) {
    for (size_t j = 0; j < d; j++) {
        double s = c[at(j, j)];
        for (size_t k = 0; k < j; k++) {
            s -= c[at(j, k)] * c[at(j, k)];
        }
        const double pivot = std::sqrt(s > 1e-12 ? s : 1e-12);
        c[at(j, j)]        = pivot;
        for (size_t i = j + 1; i < d; i++) {
            double t = c[at(i, j)];
            for (size_t k = 0; k < j; k++) {
                t -= c[at(i, k)] * c[at(j, k)];
            }
            c[at(i, j)] = t / pivot;
        }
    }
}

} // namespace

void add_frame(frame_sums & sums, const float * x) {
    sums.n += 1.0;
    for (size_t i = 0; i < d; i++) {
        const double xi = x[i];
        sums.sum[i] += xi;
        for (size_t j = 0; j <= i; j++) {
            sums.outer[at(i, j)] += xi * x[j];
        }
    }
}

void add_sums(frame_sums & into, const frame_sums & from) {
    into.n += from.n;
    for (size_t i = 0; i < d; i++) {
        into.sum[i] += from.sum[i];
    }
    for (size_t k = 0; k < into.outer.size(); k++) {
        into.outer[k] += from.outer[k];
    }
}

double log_det_covariance(const frame_sums & sums, const voice_vector & ridge) {
    if (sums.n <= 0.0) {
        return 0.0;
    }
    packed c = covariance(sums, ridge);
    cholesky(c);
    double log_det = 0.0;
    for (size_t i = 0; i < d; i++) {
        log_det += 2.0 * std::log(c[at(i, i)]);
    }
    return log_det;
}

double bic_score(double n_a, double log_det_a, double n_b, double log_det_b, double log_det_both, double penalty) {
    const double n_both = n_a + n_b;
    const double gain   = 0.5 * (n_both * log_det_both - n_a * log_det_a - n_b * log_det_b);
    return gain - penalty * 0.5 * n_voice_parameters * std::log(n_both);
}

voice_gaussian gaussian_of(const frame_sums & sums, const voice_vector & ridge) {
    voice_gaussian g;
    packed         l = covariance(sums, ridge);
    cholesky(l);
    double log_det = 0.0;
    for (size_t i = 0; i < d; i++) {
        g.mean[i] = sums.n > 0.0 ? sums.sum[i] / sums.n : 0.0;
        log_det += 2.0 * std::log(l[at(i, i)]);
    }
    // The inverse of the lower factor, column by column by forward substitution.
    for (size_t j = 0; j < d; j++) {
        for (size_t i = j; i < d; i++) {
            double s = i == j ? 1.0 : 0.0;
            for (size_t k = j; k < i; k++) {
                s -= l[at(i, k)] * g.inverse_factor[at(k, j)];
            }
            g.inverse_factor[at(i, j)] = s / l[at(i, i)];
        }
    }
    g.log_norm = -0.5 * (static_cast<double>(d) * std::log(2.0 * std::numbers::pi) + log_det);
    return g;
}

double frame_log_likelihood(const voice_gaussian & g, const float * x) {
    voice_vector centred{};
    for (size_t i = 0; i < d; i++) {
        centred[i] = x[i] - g.mean[i];
    }
    double distance = 0.0;
    for (size_t i = 0; i < d; i++) {
        double y = 0.0;
        for (size_t j = 0; j <= i; j++) {
            y += g.inverse_factor[at(i, j)] * centred[j];
        }
        distance += y * y;
    }
    return g.log_norm - 0.5 * distance;
}

} // namespace kelvo_asr
