// The recogniser's language model: the model folder's word model, interpolated with a small model of
// hesitations ("um", "uh", ...), which texts seldom write but speakers often say. Private to the engine.

#pragma once

#include "engine/decoders/model_text_file.h"

#include <pocketsphinx.h>

#include <string>

namespace kelvo_asr {

// True for the words the hesitation model speaks of.
bool is_hesitation(const std::string & word);

// The hesitation model in the text format of n-gram models.
std::string hesitation_model_text();

// Reads the word model at `path` with `ps`'s settings and interpolates it with the hesitation model and,
// when `vocabulary` was given a text, with that model at `vocabulary_weight`; the vocabulary's words must be
// in the dictionary already. Makes only calls into the library, so that it may run guarded. Returns the
// model (owned by the caller; free with ngram_model_free), or nullptr when a file cannot be read. Words the
// model does not already hold are never added: the decoder library mishandles words added to a model at run
// time when they precede another word.
ngram_model_t * read_language_model(ps_decoder_t * ps, const std::string & path, const model_text_file & hesitations,
                                    const model_text_file & vocabulary, double vocabulary_weight);

} // namespace kelvo_asr
