// A vocabulary made ready for recognition decoders: the words and pronunciations each decoder's dictionary
// gets, and a small language model of the entries interpolated with the word model. Private to the engine.

#pragma once

#include "engine/kelvo_asr.h"

#include <pocketsphinx.h>

#include <string>
#include <vector>

namespace kelvo_asr {

// A word (or an alternative "word(2)") and its phones, as added to a dictionary.
struct dictionary_word {
    std::string name;
    std::string phones;
};

struct prepared_vocabulary {
    std::vector<dictionary_word> additions;  // added to every recognition decoder's dictionary, in order
    std::string                  model_text; // the entries' model in the text format of n-gram models
    int32_t                      n_entries = 0;
};

// Weight of the vocabulary's model against the word model (see language_model.h).
constexpr double vocabulary_weight = 1e-4;

// Reads `text` and works out the dictionary additions of its entries against the dictionary of `scratch`,
// a decoder of the same model that is changed (words are added to it) and must be discarded afterwards.
// Lines not used are appended to `skipped`.
prepared_vocabulary prepare_vocabulary(ps_decoder_t * scratch, const std::string & text,
                                       std::vector<vocabulary_warning> & skipped);

// Adds `phones` for `word` to the dictionary of `ps`: as the word itself when the dictionary lacks it, as
// its next alternative when the word's pronunciations differ from it. Returns the name added (empty when
// nothing needed adding) and false in `ok` when the decoder refuses it.
std::string add_pronunciation(ps_decoder_t * ps, const std::string & word, const std::string & phones, bool & ok);

// Adds the dictionary additions of `v` to `ps`; false when the decoder refuses one.
bool add_vocabulary_words(ps_decoder_t * ps, const prepared_vocabulary & v);

} // namespace kelvo_asr
