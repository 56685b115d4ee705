// The folder engine/decoders/: the decoder library's decoders: their settings, the pool shared out to
// threads, the guard around calls that may fault, the recogniser's language model, and how sure it is of
// each word.
//
// Decoder settings for the recogniser and the aligner, and the decoder library's process-wide log.
// Private to the engine; decoder types never leave it.

#pragma once

#include "engine/model_files/model_folder.h"

#include <pocketsphinx.h>

namespace kelvo_asr {

// Turns the decoder's log off for the whole process; called before any decoder is made.
void silence_decoder_log();

// Sends the decoder's log to standard error (`on`) or nowhere. The log is one per process: a call on
// one thread routes it for all of them.
void route_decoder_log(bool on);

// Returns the decoder settings for `files` with the recogniser's choices, or nullptr when the library
// refuses them; the caller owns the result. Reads no model file.
cmd_ln_t * make_recognition_config(const model_files & files);

// Returns the decoder settings for `files` with the aligner's choices (no language model, silence kept,
// wide word beam), or nullptr when the library refuses them; the caller owns the result.
cmd_ln_t * make_alignment_config(const model_files & files);

} // namespace kelvo_asr
