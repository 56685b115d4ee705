// The map from a word's lattice posterior to the probability that the word is right, fitted once on
// synthesised conversations (bench/recognition/confidence_bench.cpp) and kept here as constants.
// Needs no decoder type, so that the benchmark that fits it can use it too.

#pragma once

namespace kelvo_asr {

// Returns the probability, in [0, 1], that a recognised word with lattice posterior `posterior` is right;
// monotone non-decreasing in `posterior`. A value outside [0, 1] (or NaN) is taken as the nearest end (0).
float calibrated_confidence(float posterior);

} // namespace kelvo_asr
