// Word errors of a hypothesis against a reference, shared by the benchmarks and the tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Word-level edit distance (substitutions + deletions + insertions); words compare byte for byte.
size_t word_errors(const std::vector<std::string> & reference, const std::vector<std::string> & hypothesis);

// The words of a text, split at ASCII white space, lower-cased, without the marks (. , ? ! ; :) that end them;
// a word of marks alone is left out.
std::vector<std::string> lower_case_words(const std::string & text);
