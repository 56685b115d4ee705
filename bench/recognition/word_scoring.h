// Scoring recognised words against a reference: match keys, fillers, word errors, filler hits.
#pragma once

#include "bench/scoring/word_errors.h"

#include <string>
#include <vector>

struct TimedWord {
    std::string key; // lower-case, letters, digits and inner apostrophes only
    double      start = 0, end = 0;
    bool        added = false;
};

// "Hello," -> "hello"; "Don't" -> "don't"; "--" -> "".
std::string match_key(const std::string & word);

// um, umm, uh, er, ah, hmm and their usual spellings.
bool is_filler(const std::string & key);

// Words of a plain text file (a reference line, or pocketsphinx_continuous output) or of the tool's JSON
// document (a file starting with '{'), as match keys, empty keys dropped.
std::vector<TimedWord> read_hypothesis(const std::string & path);

// Records `start end speaker word` of a .ref file.
std::vector<TimedWord> read_reference(const std::string & path);

// Keys of the words, without fillers when drop_fillers.
std::vector<std::string> keys_of(const std::vector<TimedWord> & words, bool drop_fillers);

struct FillerScore {
    size_t spoken = 0, output = 0, found = 0, found_added = 0, wrong = 0;
};

// Spoken fillers found in the output within hit_s (start to start, one output filler per spoken one), and
// output fillers farther than wrong_s from every spoken filler.
FillerScore score_fillers(const std::vector<TimedWord> & ref, const std::vector<TimedWord> & hyp, double hit_s,
                          double wrong_s);
