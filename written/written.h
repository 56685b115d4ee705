// written: recognised words as people write them: a capital at each sentence's start, a full stop or a
// question mark at its end, "I" and its contractions, titles, and names as the word list writes them.
//
// Marks are glued to their words, so that a word's match key changes only in case; the times, the
// confidences and the restored fillers stay as they were. Text is bytes; character classes are ASCII.

#pragma once

#include "output/output.h"
#include "segments/segments.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Lower-case words mapped onto the way they are written ("sunday" -> "Sunday", "mr" -> "Mr").
using NameList = std::unordered_map<std::string, std::string>;

// Where the system's word list is looked for, in order; the first that can be read is used.
inline constexpr std::array<std::string_view, 2> word_list_paths = {
    "/usr/share/dict/american-english",
    "/usr/share/dict/british-english",
};

// The words of a word list (one a line) that it only ever writes with a capital: a line whose lower-case
// copy is not a line of its own.
NameList names_from_word_list(std::string_view list);

// Adds every word of a vocabulary text (words before a tab, on each line) that holds a capital, as the
// vocabulary writes it; they replace the word list's.
void add_vocabulary_names(NameList & names, std::string_view vocabulary);

// The names of the first readable list of `word_list_paths` and of `vocabulary`; only the vocabulary's when
// no list is installed.
NameList read_name_list(const std::string & vocabulary);

// How sentences are found; the defaults are the measured ones.
struct SentenceSettings {
    double pause         = 0.3;  // seconds of silence between two words that end a sentence
    float  question_rise = 1.0f; // semitones of pitch rise at a sentence's end that make it a question
    float  highest_rise  = 5.0f; // a larger rise is a pitch error, not a question
};

// One sentence: words [first, last] of the run.
struct Sentence {
    size_t first    = 0;
    size_t last     = 0;
    bool   question = false;
};

// Cuts the words into sentences: at each segment's end, at each change of turn (label or found speaker), at
// each pause of at least `settings.pause`, and before an auxiliary and its subject ("did you") or a question
// word and its auxiliary ("where is the") that open a question mid-way. None for no words.
std::vector<Sentence> find_sentences(const std::vector<TimedWord> & words, const std::vector<Segment> & segments,
                                     int32_t rate, const SentenceSettings & settings = {});

// True when the words of [first, last] read as a question: they open with an auxiliary verb or a question
// word (after any fillers and linking words such as "so" or "and"), or end with a tag such as "right".
bool reads_as_question(const std::vector<TimedWord> & words, size_t first, size_t last);

// Returns `word` written as people write it: "I" and its contractions, a name of `names`, and a capital
// first letter when it opens a sentence. Only the letters' case changes.
std::string written_word(const std::string & word, const NameList & names, bool opens_sentence);

// Writes every word as people write it: sentences found, each one's first word with a capital and its last
// with "." or "?" glued on (a question by its words, or by the voice's pitch rising at its end, measured on
// `samples`), names from `names`. A word that already ends in a mark keeps it. Times are not touched.
void write_as_people_do(std::vector<TimedWord> & words, const std::vector<Segment> & segments,
                        std::span<const float> samples, int32_t rate, const NameList & names,
                        const SentenceSettings & settings = {});
