// The folder engine/lexicon/: words and how they sound: the text's words, the dictionary, pronunciations
// made for words it lacks, and a user's vocabulary.
//
// Pronunciations for words the dictionary does not hold: numbers read as words, letters-to-sound from
// the speech synthesiser mapped onto the acoustic model's phone set, and the kind of sound a token makes.
// Private to the engine (no decoder types here, so the tests can use it directly).

#pragma once

#include <string>
#include <vector>

namespace kelvo_asr {

// What a token of the alignment text sounds like.
enum class token_sound {
    spoken,  // letters or digits of a script the synthesiser reads
    foreign, // a script the synthesiser would only spell out letter by letter
    none,    // punctuation only (a dash, a curly apostrophe): no sound at all
};

// Classifies `token` (UTF-8 bytes) by its characters.
token_sound classify_token(const std::string & token);

// Copy of `word` with ASCII letters lower-cased and curly apostrophes replaced by ASCII ones.
std::string normalize_word(const std::string & word);

// Spoken readings of a number token ("35", "1995", "2nd"), each a list of words: the cardinal reading
// first, then the year reading where one applies. Empty when `token` is not a number.
std::vector<std::vector<std::string>> number_readings(const std::string & token);

// Maps the synthesiser's phoneme names, separated by `phoneme_separator` (word breaks by spaces, stress
// and length marks included), onto the model's phones, space-separated; empty when nothing maps.
std::string map_synth_phonemes(const std::string & phonemes);

// The synthesiser's phoneme names for `word` (American English), in the form `map_synth_phonemes` reads;
// empty when it has no sound for it or the synthesiser is not available. Thread-safe.
std::string synth_phonemes(const std::string & word);

// Separator the synthesiser is asked to put between phoneme names.
constexpr char phoneme_separator = '|';

} // namespace kelvo_asr
