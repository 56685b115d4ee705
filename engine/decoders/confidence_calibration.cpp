// Word confidence: the logistic model of a word's lattice evidence, and the older piecewise linear,
// non-decreasing map of the best-path posterior alone.

#include "engine/decoders/confidence_calibration.h"

#include <algorithm>
#include <array>
#include <cmath>
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

namespace kelvo_asr {

namespace {

// The log odds of `p`, kept within those of 1e-4 and 1 - 1e-4 (NaN as the lower end).
double logit(float p) {
    const double q = p > 1e-4f ? std::min(static_cast<double>(p), 1 - 1e-4) : 1e-4;
    return std::log(q / (1 - q));
}

// A finite value, or 0.
double finite(float v) {
    return std::isfinite(v) ? static_cast<double>(v) : 0.0;
}

} // namespace

std::array<double, evidence_inputs> confidence_inputs(const word_evidence & e) {
    return { logit(e.node_posterior),
             logit(e.word_posterior),
             logit(e.mean_posterior),
             finite(e.competitor),
             finite(e.filler),
             finite(e.acoustic) / 10,
             finite(e.language) / 10,
             std::log(std::clamp(finite(e.frames_per_phone), 0.01, 1e3)),
             std::clamp(finite(e.snr), 0.0, 40.0) / 10,
             logit(e.segment_mean) };
}

float word_confidence(const word_evidence & e) {
    // Weights of a logistic regression of right against wrong words on these inputs, the last the bias.
    constexpr std::array<double, evidence_inputs + 1> weights = {
        -0.021647, 0.43259, -0.012905, 0.48049, 1.1959, 0.96186, 14.896, -0.62133, -0.4784, 1.1664, 2.7844,
    };
    const std::array<double, evidence_inputs> x = confidence_inputs(e);
    double                                    z = weights.back();
    for (size_t i = 0; i < evidence_inputs; i++) {
        z += weights[i] * x[i];
    }
    // No recognised word is certain, and none hopeless.
    return static_cast<float>(std::clamp(1 / (1 + std::exp(-z)), 0.01, 0.99));
}

} // namespace kelvo_asr
