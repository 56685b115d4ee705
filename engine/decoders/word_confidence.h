// How sure the recogniser is of each word it heard: the word's posterior in the decoder's lattice of the
// utterance, and the map that turns it into a probability of being right.
// Private to the engine; decoder types never leave it.

#pragma once

#include <pocketsphinx.h>

#include <cstdint>

namespace kelvo_asr {

// Returns the lattice posterior of the word under `seg` (a segment of the best path of a finished
// utterance), in [0, 1]: the summed probability of every path through that word at that start frame.
float word_posterior(ps_decoder_t * ps, ps_seg_t * seg);

// Returns the probability, in [0, 1], that a recognised word with lattice posterior `posterior` that lasts
// `frames` frames (10 ms each) is right; monotone non-decreasing in `posterior` for any fixed `frames`.
float calibrated_confidence(float posterior, int32_t frames);

} // namespace kelvo_asr
