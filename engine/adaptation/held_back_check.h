// The transform a voice learns from its listened words, and the check that it carries over to listened words
// it was not learnt from. No decoder types here, so the tests can use it directly. Private to the engine.

#pragma once

#include "engine/adaptation/adaptation_stats.h"
#include "engine/adaptation/gaussian_model.h"
#include "engine/adaptation/mllr_solve.h"

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// How a voice's first transform is checked.
namespace held_back_rule {
constexpr int64_t share    = 3; // the last 1/3 of the listened words' frames are held back from learning
constexpr double  min_gain = 0; // log-likelihood per held-back frame the transform must gain, else none
} // namespace held_back_rule

// One mean transform per stream from `stats`, held toward the identity by the prior.
std::vector<mllr_stream_transform> solve_transform(const gaussian_model & model, const gaussian_stats & stats);

// The transform learnt from the listened pieces `listened`, whose statistics under the model's own means are
// `stats`: solved adaptation_rule::listened_solves times, the words' states aligned again under the
// transform before.
std::vector<mllr_stream_transform> listened_transform(const gaussian_model & model, const gaussian_stats & stats,
                                                      const std::vector<piece_evidence> & listened);

// The log-likelihood per frame that the last held_back_rule::share of the listened words' frames
// (whole words) gains under a transform learnt from the words before them only, over the model's own means;
// `frames` gets the held-back frames scored (0: nothing to hold back, and the gain is 0).
double held_back_gain(const gaussian_model & model, const std::vector<piece_evidence> & listened, int64_t & frames);

} // namespace kelvo_asr
