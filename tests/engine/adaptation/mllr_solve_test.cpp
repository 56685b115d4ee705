#include "engine/adaptation/mllr_solve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using kelvo_asr::mllr_stream_stats;
using kelvo_asr::mllr_stream_transform;

namespace {

// Statistics of Gaussians whose observations are exactly a * mean + b, with unequal counts and variances.
mllr_stream_stats exact_stats(const std::vector<double> & a, const std::vector<double> & b) {
    const std::vector<std::vector<float>> means = {
        { 0, 0, 1 }, { 1, -2, 0 }, { 3, 1, 2 }, { -1, 4, 1 }, { 2, 2, -3 }
    };
    const std::vector<std::vector<float>> variances = {
        { 1, 2, 1 }, { 0.5f, 1, 3 }, { 2, 2, 0.25f }, { 1, 1, 1 }, { 4, 0.5f, 2 }
    };
    mllr_stream_stats s = kelvo_asr::empty_stream_stats(3);
    for (size_t m = 0; m < means.size(); m++) {
        const double        count = 1.0 + static_cast<double>(m) * 7.5;
        std::vector<double> sum(3);
        for (size_t i = 0; i < 3; i++) {
            double v = b[i];
            for (size_t j = 0; j < 3; j++) {
                v += a[i * 3 + j] * means[m][j];
            }
            sum[i] = count * v;
        }
        kelvo_asr::add_gaussian(s, count, sum.data(), means[m].data(), variances[m].data());
    }
    kelvo_asr::add_gaussian(s, 0.0, nullptr, nullptr, nullptr); // no occupancy: nothing is read
    return s;
}

double distance_from_identity(const mllr_stream_transform & t) {
    double d = 0;
    for (size_t i = 0; i < t.dim; i++) {
        d += t.b[i] * t.b[i];
        for (size_t j = 0; j < t.dim; j++) {
            const double e = t.a[i * t.dim + j] - (i == j ? 1.0 : 0.0);
            d += e * e;
        }
    }
    return std::sqrt(d);
}

} // namespace

// Without a prior the solve returns the transform the observations were made with; a prior draws it toward
// the identity, the more the larger, and a huge one leaves the identity.
TEST(MllrSolve, RecoversAKnownTransformAndAPriorDrawsItToTheIdentity) {
    const std::vector<double> a = { 1.2, -0.3, 0.05, 0.1, 0.9, 0.0, -0.2, 0.4, 0.7 };
    const std::vector<double> b = { 0.5, -1.0, 2.0 };
    const mllr_stream_stats   s = exact_stats(a, b);
    EXPECT_DOUBLE_EQ(s.occupancy, 5.0 + 7.5 * 10);

    const mllr_stream_transform t = kelvo_asr::solve_mllr(s, 0.0);
    ASSERT_EQ(t.dim, 3u);
    for (size_t i = 0; i < 9; i++) {
        EXPECT_NEAR(t.a[i], a[i], 1e-9) << i;
    }
    for (size_t i = 0; i < 3; i++) {
        EXPECT_NEAR(t.b[i], b[i], 1e-9) << i;
    }

    double last = distance_from_identity(t);
    for (const double prior : { 10.0, 100.0, 1000.0 }) {
        const double d = distance_from_identity(kelvo_asr::solve_mllr(s, prior));
        EXPECT_LT(d, last) << prior;
        last = d;
    }
    EXPECT_LT(distance_from_identity(kelvo_asr::solve_mllr(s, 1e12)), 1e-6);
}

// Statistics that cannot determine a row (every Gaussian at one mean) or none at all give the identity,
// never a guess; a prior then still gives a finite transform.
TEST(MllrSolve, UndeterminedRowsStayTheIdentity) {
    EXPECT_EQ(distance_from_identity(kelvo_asr::solve_mllr(kelvo_asr::empty_stream_stats(4), 0.0)), 0.0);

    mllr_stream_stats s      = kelvo_asr::empty_stream_stats(2);
    const float       mean[] = { 1.0f, 2.0f };
    const float       var[]  = { 1.0f, 1.0f };
    const double      sum[]  = { 30.0, 75.0 };
    kelvo_asr::add_gaussian(s, 10.0, sum, mean, var);
    kelvo_asr::add_gaussian(s, 5.0, sum, mean, var);
    EXPECT_EQ(distance_from_identity(kelvo_asr::solve_mllr(s, 0.0)), 0.0);
    const mllr_stream_transform t = kelvo_asr::solve_mllr(s, 50.0);
    for (const double v : t.a) {
        EXPECT_TRUE(std::isfinite(v));
    }
    for (const double v : t.b) {
        EXPECT_TRUE(std::isfinite(v));
    }
}
