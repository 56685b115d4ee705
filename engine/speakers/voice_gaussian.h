// Full-covariance Gaussians of voice cepstra: sums of frames, log-determinants for the likelihood ratios
// that find changes and merge clusters, and frame likelihoods. Private to the engine.

#pragma once

#include "engine/speakers/cepstra.h"

#include <array>
#include <cstdint>

namespace kelvo_asr {

constexpr int32_t n_voice_pairs = n_voice_cepstra * (n_voice_cepstra + 1) / 2;

using voice_vector = std::array<double, n_voice_cepstra>;

// Parameters of one full-covariance Gaussian of voice cepstra.
constexpr double n_voice_parameters = n_voice_cepstra + n_voice_pairs;

// The count, sum and sum of outer products (lower triangle, row by row) of a set of frames.
struct frame_sums {
    double                            n = 0.0;
    voice_vector                      sum{};
    std::array<double, n_voice_pairs> outer{};
};

// Adds one frame of n_voice_cepstra values.
void add_frame(frame_sums & sums, const float * x);

// Adds every frame of `from` to `into`.
void add_sums(frame_sums & into, const frame_sums & from);

// The log-determinant of the covariance of `sums` with `ridge` added to its diagonal, which keeps the
// covariance of a few frames from being singular; 0 for no frames.
double log_det_covariance(const frame_sums & sums, const voice_vector & ridge);

// The BIC score of two Gaussians against one for `n_a` + `n_b` frames, from the log-determinants of the
// covariances of each part and of both: above 0 when two fit better by more than `penalty` times the BIC
// penalty for the parameters of the second.
double bic_score(double n_a, double log_det_a, double n_b, double log_det_b, double log_det_both, double penalty);

// A Gaussian ready to score frames: its mean, the inverse of its covariance's Cholesky factor (lower
// triangle, row by row) and the log of its normalisation.
struct voice_gaussian {
    voice_vector                      mean{};
    std::array<double, n_voice_pairs> inverse_factor{};
    double                            log_norm = 0.0;
};

// The Gaussian of `sums` (which must hold frames), its covariance widened by `ridge`.
voice_gaussian gaussian_of(const frame_sums & sums, const voice_vector & ridge);

// The log-likelihood of one frame of n_voice_cepstra values under `g`.
double frame_log_likelihood(const voice_gaussian & g, const float * x);

} // namespace kelvo_asr
