// The map from a word's lattice posterior to the probability that the word is right, fitted once on
// synthesised conversations (bench/recognition/confidence_bench.cpp) and kept here as constants.
// Needs no decoder type, so that the benchmark that fits it can use it too.

#pragma once

#include <cstddef>
#include <span>
#include <utility>

namespace kelvo_asr {

// Returns the value at `x` of the map through `knots` (posterior, value), ordered by posterior: linear
// between knots, the first knot's value at or below the first posterior (and for NaN), the last's past the
// last; `x` itself when there are no knots.
template <typename Real> Real interpolate_knots(std::span<const std::pair<Real, Real>> knots, Real x) {
    if (knots.empty()) {
        return x;
    }
    if (!(x > knots.front().first)) {
        return knots.front().second;
    }
    for (size_t k = 1; k < knots.size(); k++) {
        if (x <= knots[k].first) {
            const Real span = knots[k].first - knots[k - 1].first;
            const Real t    = span > 0 ? (x - knots[k - 1].first) / span : Real(1);
            return knots[k - 1].second + t * (knots[k].second - knots[k - 1].second);
        }
    }
    return knots.back().second;
}

// Returns the probability, in [0, 1], that a recognised word with lattice posterior `posterior` is right;
// monotone non-decreasing in `posterior`. A value outside [0, 1] (or NaN) is taken as the nearest end (0).
float calibrated_confidence(float posterior);

} // namespace kelvo_asr
