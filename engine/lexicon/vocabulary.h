// A user's vocabulary: words and short phrases to be recognised, one a line, each one-word entry with an
// optional pronunciation in the model's phones after a tab. This part reads the text only (no decoder
// types here, so the tests can use it directly). Private to the engine.

#pragma once

#include "engine/kelvo_asr.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kelvo_asr {

// Limits past which a line is skipped as over-long.
struct vocabulary_limits {
    static constexpr size_t line_bytes = 256; // bytes of a line, pronunciation included
    static constexpr size_t words      = 6;   // words of a phrase
    static constexpr size_t word_bytes = 48;  // bytes of one word
    static constexpr size_t phones     = 40;  // phones of one pronunciation
};

// One entry: its words, lower-cased as the dictionary writes them, and the pronunciations given for it
// (space-separated phones, upper-case, stress digits removed), never more than one word when any is given.
struct vocabulary_entry {
    std::vector<std::string> words;
    std::vector<std::string> pronunciations;
    int32_t                  line = 0; // the first line that gave it
};

struct vocabulary_text {
    std::vector<vocabulary_entry>   entries; // in the order of their first lines; duplicates merged
    std::vector<vocabulary_warning> skipped; // lines not used, in line order; blank lines are not listed
};

// Reads the lines of `text`; a phone of a given pronunciation is accepted when `known_phone` says so.
vocabulary_text parse_vocabulary(const std::string &                              text,
                                 const std::function<bool(const std::string &)> & known_phone);

} // namespace kelvo_asr
