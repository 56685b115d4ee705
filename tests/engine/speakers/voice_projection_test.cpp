// The generated voice directions: the kept rows must span as many independent directions as they are
// rows, or every Gaussian of the projected frames would be singular.

#include "engine/speakers/cepstra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(VoiceProjection, KeptRowsAreFiniteAndIndependent) {
    using kelvo_asr::n_stored_cepstra;
    using kelvo_asr::n_voice_cepstra;
    ASSERT_GT(n_voice_cepstra, 0);
    ASSERT_LE(n_voice_cepstra, n_stored_cepstra);
    // Gram-Schmidt over the kept rows: each keeps a share of its length outside the others'.
    std::vector<std::vector<double>> basis;
    for (int r = 0; r < n_voice_cepstra; r++) {
        std::vector<double> v(kelvo_asr::voice_projection[r], kelvo_asr::voice_projection[r] + n_stored_cepstra);
        double              length = 0.0;
        for (const double x : v) {
            ASSERT_TRUE(std::isfinite(x)) << "row " << r;
            length += x * x;
        }
        for (const auto & b : basis) {
            double dot = 0.0;
            for (int k = 0; k < n_stored_cepstra; k++) {
                dot += v[k] * b[k];
            }
            for (int k = 0; k < n_stored_cepstra; k++) {
                v[k] -= dot * b[k];
            }
        }
        double rest = 0.0;
        for (const double x : v) {
            rest += x * x;
        }
        ASSERT_GT(rest, 1e-3 * length) << "row " << r << " lies in the span of the rows before it";
        for (double & x : v) {
            x /= std::sqrt(rest);
        }
        basis.push_back(v);
    }
}

} // namespace
