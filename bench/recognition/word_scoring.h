// Scoring recognised words against a reference: word errors and filler hits, on the tool's own match keys
// (lower-cased) and filler words. A scored word is a DocumentWord whose text is its key.
#pragma once

#include "bench/scoring/word_errors.h"
#include "formats/formats.h"

#include <string>
#include <vector>

// Words of a plain text file (a reference line, or pocketsphinx_continuous output) or of the tool's JSON
// document (a file starting with '{', read by the converter's reader), as match keys, empty keys dropped.
std::vector<DocumentWord> read_hypothesis(const std::string & path);

// Records `start end speaker word` of a .ref file.
std::vector<DocumentWord> read_reference(const std::string & path);

// Keys of the words, without fillers when drop_fillers.
std::vector<std::string> keys_of(const std::vector<DocumentWord> & words, bool drop_fillers);

struct FillerScore {
    size_t spoken = 0, output = 0, found = 0, found_added = 0, wrong = 0;
};

// Spoken fillers found in the output within hit_s (start to start, one output filler per spoken one), and
// output fillers farther than wrong_s from every spoken filler.
FillerScore score_fillers(const std::vector<DocumentWord> & ref, const std::vector<DocumentWord> & hyp, double hit_s,
                          double wrong_s);
