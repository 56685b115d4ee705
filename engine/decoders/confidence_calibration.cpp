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

// Knots of an isotonic fit, increasing in both coordinates; between knots the map is linear.
constexpr std::array<knot, 2> knots = { { { 0.0f, 0.0f }, { 1.0f, 1.0f } } };

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
