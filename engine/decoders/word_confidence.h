// How sure the recogniser is of each word it heard: what the decoder's lattice of the utterance says about
// the word (confidence_calibration.h turns it into a probability of being right).
// Private to the engine; decoder types never leave it.

#pragma once

#include "engine/decoders/confidence_calibration.h"

#include <pocketsphinx.h>

namespace kelvo_asr {

// Returns what the lattice of the finished utterance says of the word under `seg`: its posterior on the best
// path, the posterior of every link of the same word over its frames, its competitors', its scores and its
// length against its phones (the segment's values are left at 0 for the caller).
word_evidence word_evidence_of(ps_decoder_t * ps, ps_seg_t * seg);

} // namespace kelvo_asr
