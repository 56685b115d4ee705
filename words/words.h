// words: recognised text into display words and match keys, and fillers restored from extra words.
//
// Text is bytes and is never decoded; character classes are ASCII, applied to each byte as unsigned.

#pragma once

#include "segments/segments.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One segment's words as three parallel lists of equal length, in transcript order, and a fourth when the
// recogniser scored its words. No display word and no key is ever empty.
struct SegmentWords {
    std::vector<std::string> display;    // as printed, trailing punctuation-only tokens glued on
    std::vector<std::string> keys;       // match keys, in the word's own case
    std::vector<bool>        added;      // true for a filler restored from the extra words
    std::vector<float>       confidence; // empty, or one per word: in [0, 1], or no_confidence
};

// The confidence of a word nobody scored (a restored filler).
inline constexpr float no_confidence = -1.0f;

// The hesitation words that filler restoration puts back, lower case.
inline constexpr std::array<std::string_view, 16> FillerWords = {
    "um", "umm", "ummm", "uh", "uhh", "uhm", "er", "err", "erm", "ah", "ahh", "eh", "hmm", "hm", "mm", "mmm",
};

//
// Transcript words
//

// Returns the maximal runs of non-white-space bytes of `text`, in order; never an empty token.
std::vector<std::string> split_tokens(const std::string & text);

// Returns the match key of `word`: its ASCII letters and digits, its bytes >= 0x80, and each apostrophe
// that follows a non-empty key and precedes an ASCII letter or digit. May be empty.
std::string make_match_key(const std::string & word);

// Returns a copy of `text` with A-Z mapped onto a-z; every other byte unchanged.
std::string to_lower(const std::string & text);

// Returns true when `word` equals one entry of FillerWords exactly (case-sensitive).
bool is_filler(const std::string & word);

// Returns the words of one segment's recognised text; every `added` flag false. With `confidence` holding
// one value per token of `text`, the words carry them too; tokens joined into one display word keep the
// lowest, and a dropped token's value goes with it.
SegmentWords build_segment_words(const std::string & text, const std::vector<float> & confidence = {});

//
// Filler restoration
//

// Returns, for each entry of `a`, the index of the entry of `b` it is paired with in a longest common
// subsequence under byte equality, or -1; on a tie the entry of `a` is given up. Memory grows with
// sqrt(n) * m for n entries of `a` that `b` holds and m entries of `b`, not with n * m.
std::vector<int32_t> match_sequences(const std::vector<std::string> & a, const std::vector<std::string> & b);

// Inserts into `words` the extra fillers of the segment's time window whose matched neighbours lie at most
// one recognised word apart, and at most one unmatched extra word more than that (towards a side with no
// matched neighbour, counting the extra words inside the segment's span only); between two neighbours one
// word apart, a filler goes on the side of that word with more unmatched extra words. Restored fillers are
// marked as added (with no_confidence when the words carry confidences).
// `words` holds three lists of equal length. Cannot fail.
void restore_fillers(SegmentWords & words, const std::vector<ExtraWord> & extra_words, const Segment & segment,
                     int32_t rate);
