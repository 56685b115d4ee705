// Word confidence calibration: a piecewise linear, non-decreasing map of the lattice posterior.

#include "engine/decoders/confidence_calibration.h"

#include <array>
#include <cmath>

namespace kelvo_asr {

namespace {

struct knot {
    float posterior;
    float right; // the share of right words at that posterior
};

// Knots of an isotonic fit (pooled adjacent violators) of right against wrong words over the posteriors of
// the festival conversations of bench/recognition, quiet and with white noise at 20 dB SNR (3,956 words):
// one knot per block of at least 1 % of the words, at its middle posterior, with the share of right words in
// it, never above 0.99 (no recognised word is certain). Non-decreasing in both coordinates; linear between.
constexpr std::array<knot, 23> knots = { {
    { 0.0f, 0.351f },    { 0.004844f, 0.351f }, { 0.01672f, 0.485f }, { 0.04214f, 0.542f }, { 0.0903f, 0.628f },
    { 0.1756f, 0.680f }, { 0.2846f, 0.694f },   { 0.3972f, 0.776f },  { 0.4721f, 0.800f },  { 0.5249f, 0.819f },
    { 0.5713f, 0.837f }, { 0.5981f, 0.844f },   { 0.6355f, 0.889f },  { 0.7254f, 0.915f },  { 0.8283f, 0.920f },
    { 0.8827f, 0.926f }, { 0.9161f, 0.933f },   { 0.9468f, 0.948f },  { 0.9729f, 0.955f },  { 0.9831f, 0.960f },
    { 0.9934f, 0.990f }, { 0.9994f, 0.990f },   { 1.0f, 0.990f },
} };

} // namespace

float calibrated_confidence(float posterior) {
    if (!(posterior > knots.front().posterior)) {
        return knots.front().right;
    }
    for (size_t k = 1; k < knots.size(); k++) {
        if (posterior <= knots[k].posterior) {
            const float span = knots[k].posterior - knots[k - 1].posterior;
            const float t    = span > 0 ? (posterior - knots[k - 1].posterior) / span : 1.0f;
            return knots[k - 1].right + t * (knots[k].right - knots[k - 1].right);
        }
    }
    return knots.back().right;
}

} // namespace kelvo_asr
