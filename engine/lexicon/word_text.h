// Words of a text as the engine reads them. Private to the engine.

#pragma once

#include <string>
#include <vector>

namespace kelvo_asr {

// The tokens of `text` between runs of ASCII white space (space, tab, line feed, vertical tab, form feed,
// carriage return), in order; every other byte belongs to a token.
std::vector<std::string> split_words(const std::string & text);

// Removes an alternative-pronunciation suffix such as "(2)" from a decoder word.
std::string strip_alternative_suffix(const std::string & word);

} // namespace kelvo_asr
