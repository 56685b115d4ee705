// How sure the recogniser is of each word it heard: the word's posterior in the decoder's lattice of the
// utterance (confidence_calibration.h turns it into a probability of being right).
// Private to the engine; decoder types never leave it.

#pragma once

#include <pocketsphinx.h>

namespace kelvo_asr {

// Returns the lattice posterior of the word under `seg` (a segment of the best path of a finished
// utterance), in [0, 1]: the summed probability of every path through that word at that start frame.
float word_posterior(ps_decoder_t * ps, ps_seg_t * seg);

} // namespace kelvo_asr
