// Word confidence calibration: a piecewise linear, non-decreasing map of the lattice posterior.

#include "engine/decoders/confidence_calibration.h"

#include <array>
#include <utility>

namespace kelvo_asr {

namespace {

// Knots of an isotonic fit (pooled adjacent violators) of right against wrong words over the posteriors of
// the festival conversations of bench/recognition, quiet and with white noise at 20 dB SNR (3,956 words):
// one knot per block of at least 1 % of the words, at its middle posterior, with the share of right words in
// it, never above 0.99 (no recognised word is certain). Non-decreasing in both coordinates; linear between.
// Each knot is (posterior, the share of right words at that posterior).
constexpr std::array<std::pair<float, float>, 23> knots = { {
    { 0.0f, 0.351f },    { 0.004844f, 0.351f }, { 0.01672f, 0.485f }, { 0.04214f, 0.542f }, { 0.0903f, 0.628f },
    { 0.1756f, 0.680f }, { 0.2846f, 0.694f },   { 0.3972f, 0.776f },  { 0.4721f, 0.800f },  { 0.5249f, 0.819f },
    { 0.5713f, 0.837f }, { 0.5981f, 0.844f },   { 0.6355f, 0.889f },  { 0.7254f, 0.915f },  { 0.8283f, 0.920f },
    { 0.8827f, 0.926f }, { 0.9161f, 0.933f },   { 0.9468f, 0.948f },  { 0.9729f, 0.955f },  { 0.9831f, 0.960f },
    { 0.9934f, 0.990f }, { 0.9994f, 0.990f },   { 1.0f, 0.990f },
} };

} // namespace

float calibrated_confidence(float posterior) {
    return interpolate_knots<float>(knots, posterior);
}

} // namespace kelvo_asr
