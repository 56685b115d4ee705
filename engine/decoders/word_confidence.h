// How sure the recogniser is of each word it heard: what the decoder's lattice of the utterance says about
// the word (confidence_calibration.h turns it into a probability of being right).
// Private to the engine; decoder types never leave it.

#pragma once

#include "engine/decoders/confidence_calibration.h"

#include <pocketsphinx.h>

#include <vector>

namespace kelvo_asr {

// One link of a finished utterance's lattice: its frames (both included), base word and posterior.
struct lattice_link {
    int          first     = 0;
    int          last      = 0;
    const char * base      = nullptr; // owned by the decoder's dictionary
    bool         filler    = false;   // silence, a sentence mark or a noise word
    double       posterior = 0;
};

// Returns every link of the lattice of the utterance `ps` just finished; empty when it has none.
std::vector<lattice_link> lattice_links(ps_decoder_t * ps);

// Returns what the lattice `links` of the finished utterance say of the word under `seg`: its posterior on
// the best path, the posterior of every link of the same word over its frames, its competitors', its scores
// and its length against its phones (the segment's values are left at 0 for the caller).
word_evidence word_evidence_of(ps_decoder_t * ps, ps_seg_t * seg, const std::vector<lattice_link> & links);

} // namespace kelvo_asr
