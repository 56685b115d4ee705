// Tokens of a text and decoder word names.

#include "engine/lexicon/word_text.h"

namespace kelvo_asr {

namespace {

bool is_space(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u == ' ' || (u >= 0x09 && u <= 0x0D);
}

} // namespace

std::vector<std::string> split_words(const std::string & text) {
    std::vector<std::string> out;
    std::string              cur;
    for (char c : text) {
        if (!is_space(c)) {
            cur += c;
            continue;
        }
        if (!cur.empty()) {
            out.push_back(cur);
            cur.clear();
        }
    }
    if (!cur.empty()) {
        out.push_back(cur);
    }
    return out;
}

std::string strip_alternative_suffix(const std::string & word) {
    if (word.size() <= 2 || word.back() != ')') {
        return word;
    }
    const size_t open = word.rfind('(');
    if (open == std::string::npos || open == 0 || open + 1 >= word.size() - 1) {
        return word;
    }
    for (size_t i = open + 1; i + 1 < word.size(); i++) {
        if (word[i] < '0' || word[i] > '9') {
            return word;
        }
    }
    return word.substr(0, open);
}

} // namespace kelvo_asr
