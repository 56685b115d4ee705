// The folder engine/alignment/: forced alignment of a text's words against the audio, from the decoder's
// words to times in seconds.
//
// The steps of forced alignment: decoder words for the text, a grammar of them, its decoding against
// the audio, and the step from decoded frames to word times. Private to the engine.

#pragma once

#include "engine/alignment/alignment_times.h"

#include <pocketsphinx.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo_asr {

// One word of the alignment text, as the grammar sees it.
struct text_word {
    std::vector<std::string> names;            // decoder words for it (each may have its own alternatives)
    int                      n_phones = 0;     // phones of its shortest pronunciation
    bool                     silent   = false; // no sound (punctuation only): kept out of the grammar
};

//
// Words (alignment_words.cpp)
//

// Adds the spoken fillers that the grammar allows between any two words ("um", "uh", ...) to `ps`'s
// dictionary; false when the decoder refuses one.
bool add_alignment_fillers(ps_decoder_t * ps);

// Decoder names of those fillers.
const std::vector<std::string> & alignment_filler_names();

// True for decoder words that are not words of the text: fillers, silence, noise.
bool is_alignment_filler(const std::string & name);

// The decoder words for `token`: every form of it the dictionary holds, else the spoken readings of a
// number, else the synthesiser's pronunciation, else a word of unspecified speech; `silent` for a token
// of punctuation only. Adds run-time words to `ps`'s dictionary as needed.
text_word prepare_word(ps_decoder_t * ps, const std::string & token);

//
// Decoding (alignment_grammar.cpp, alignment_decode.cpp)
//

// How hard one pass searches: `beam` 0 keeps the configured beams; `may_skip` lets words of the text
// go unspoken.
struct alignment_pass {
    bool   may_skip = false;
    double beam     = 0.0;
};

// Makes a left-to-right grammar of `words`, each optionally followed by spoken fillers, the search of
// `ps`; false when the decoder refuses it.
bool set_alignment_grammar(ps_decoder_t * ps, const std::vector<const text_word *> & words, alignment_pass pass);

enum class decode_status { ok, failed, faulted };

// Decodes `pcm` against a grammar of `words` and fills `where`, one per word. `complete` tells whether
// every word was placed. After `faulted` the decoder must be dropped without being freed.
decode_status decode_alignment(ps_decoder_t * ps, const std::vector<int16_t> & pcm,
                               const std::vector<const text_word *> & words, alignment_pass pass,
                               std::vector<placement> & where, bool & complete);

} // namespace kelvo_asr
