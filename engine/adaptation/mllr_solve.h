// The closed-form mean transform of one feature stream from Gaussian statistics: plain arrays in, a
// matrix and a bias out. No decoder types here, so the tests can use it directly. Private to the engine.

#pragma once

#include <cstddef>
#include <vector>

namespace kelvo_asr {

// What the transform of one stream of `dim` values is solved from: for every row i, the matrix
// G_i = sum_m c_m / var_mi * x_m x_m^T and the vector k_i = sum_m s_mi / var_mi * x_m, where x_m is the
// extended mean (1, mean_m), c_m the Gaussian's occupancy and s_m its occupancy-weighted observation sum.
struct mllr_stream_stats {
    size_t              dim = 0;
    std::vector<double> g;             // dim matrices of (dim + 1)^2, row after row
    std::vector<double> k;             // dim vectors of dim + 1
    double              occupancy = 0; // sum of c_m over every Gaussian added
};

// Statistics for a stream of `dim` values, all zero.
mllr_stream_stats empty_stream_stats(size_t dim);

// Adds one Gaussian: its occupancy `count`, observation sum `sum`, `mean` and `variance` (dim values each;
// variances above 0). A Gaussian with no occupancy adds nothing.
void add_gaussian(mllr_stream_stats & stats, double count, const double * sum, const float * mean,
                  const float * variance);

// The transform new_mean = a * mean + b of one stream; a is dim x dim, row after row.
struct mllr_stream_transform {
    size_t              dim = 0;
    std::vector<double> a;
    std::vector<double> b;
};

// The identity transform of a stream of `dim` values.
mllr_stream_transform identity_transform(size_t dim);

// Solves each row for the transform of highest likelihood, drawn toward the identity by a prior worth
// `prior_frames` frames of the statistics' own average precision: with no prior the maximum-likelihood
// transform, with a large one nearly the identity. A row whose system cannot be solved stays the identity's.
mllr_stream_transform solve_mllr(const mllr_stream_stats & stats, double prior_frames);

} // namespace kelvo_asr
