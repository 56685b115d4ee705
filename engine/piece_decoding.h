// Decoding one piece of a segment as an utterance of its own, by one recognition decoder. Private to the
// engine.

#pragma once

#include "engine/audio/pause_cutter.h"
#include "engine/decoders/confidence_calibration.h"
#include "engine/decoders/decoder_pool.h"

#include <pocketsphinx.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo_asr {

// A recognised word of a piece: its text, dictionary entry and frames in the piece.
struct heard_word {
    std::string   text;
    int32_t       frame = 0;
    int32_t       last  = 0;
    std::string   entry;
    word_evidence evidence; // what the piece's lattice says of it; filled only when asked for
};

// Decodes one piece as a whole utterance and appends its words to `words` (sentence marks, silence, noise
// words and hesitations left out unless `keep_noise_words`; lattice evidence only with `posteriors`). The
// decoder's noise estimate is first brought to the noise of the piece's surroundings by running its front
// end, without decoding, over the warm-up; a new stream makes it forget every piece before.
job_outcome decode_piece(ps_decoder_t * ps, const piece_audio & audio, bool keep_noise_words, bool posteriors,
                         std::vector<heard_word> & words);

} // namespace kelvo_asr
