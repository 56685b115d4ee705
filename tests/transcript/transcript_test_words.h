// Transcript words and recognised words for the transcript tests.

#pragma once

#include "transcript/transcript.h"

#include <string>
#include <vector>

// Transcript words with the given match keys, each written as its key.
inline std::vector<TranscriptWord> transcript(const std::vector<std::string> & keys) {
    std::vector<TranscriptWord> words;
    for (const std::string & k : keys) {
        words.push_back({ k, k, 0, "", false });
    }
    return words;
}

// Recognised words, one every 0.3 s from `start`, all in `segment`.
inline void hear(std::vector<HeardWord> & heard, const std::vector<std::string> & keys, double start, size_t segment) {
    for (const std::string & k : keys) {
        heard.push_back({ k, start, segment });
        start += 0.3;
    }
}
