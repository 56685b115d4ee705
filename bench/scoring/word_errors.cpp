#include "bench/scoring/word_errors.h"

#include <algorithm>
#include <cctype>
#include <string_view>

size_t word_errors(const std::vector<std::string> & reference, const std::vector<std::string> & hypothesis) {
    std::vector<size_t> prev(hypothesis.size() + 1), cur(hypothesis.size() + 1);
    for (size_t j = 0; j <= hypothesis.size(); j++) {
        prev[j] = j;
    }
    for (size_t i = 1; i <= reference.size(); i++) {
        cur[0] = i;
        for (size_t j = 1; j <= hypothesis.size(); j++) {
            const size_t sub = prev[j - 1] + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
            cur[j]           = std::min({ sub, prev[j] + 1, cur[j - 1] + 1 });
        }
        std::swap(prev, cur);
    }
    return prev[hypothesis.size()];
}

std::vector<std::string> lower_case_words(const std::string & text) {
    std::vector<std::string> words;
    std::string              word;
    // A sentence's mark is no part of its word: "morning." is the word "morning".
    const auto keep = [&] {
        while (!word.empty() && std::string_view(".,?!;:").find(word.back()) != std::string_view::npos) {
            word.pop_back();
        }
        if (!word.empty()) {
            words.push_back(word);
        }
        word.clear();
    };
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            keep();
            continue;
        }
        word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    keep();
    return words;
}
