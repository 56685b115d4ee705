// The recogniser's language model: the model folder's word model, interpolated with a small model of
// hesitations ("um", "uh", ...), which texts seldom write but speakers often say. Private to the engine.

#pragma once

#include <pocketsphinx.h>

#include <string>

namespace kelvo_asr {

// True for the words the hesitation model speaks of.
bool is_hesitation(const std::string & word);

// Reads the word model at `path` with `ps`'s settings and interpolates it with the hesitation model and,
// when `vocabulary_text` is not empty, with that model (text format of n-gram models) at
// `vocabulary_weight`; the vocabulary's words must be in the dictionary already. Returns the model (owned by the
// caller; free with ngram_model_free), or nullptr when the file cannot be read. Words the model does not already hold
// are never added: the decoder library mishandles words added to a model at run time when they precede another word.
ngram_model_t * read_language_model(ps_decoder_t * ps, const std::string & path,
                                    const std::string & vocabulary_text = "", double vocabulary_weight = 0);

} // namespace kelvo_asr
