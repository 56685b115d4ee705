// Reading a decoder's pronunciation dictionary.

#pragma once

#include <pocketsphinx.h>

#include <optional>
#include <string>

namespace kelvo_asr {

// The phones of `word` in `ps`'s dictionary, space-separated; nullopt when the word is not there.
std::optional<std::string> lookup_phones(ps_decoder_t * ps, const std::string & word);

} // namespace kelvo_asr
