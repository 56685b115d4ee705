// Recognised text into display words and match keys; the filler test and ASCII lower-casing.

#include "words/words.h"

#include <algorithm>

namespace {

// Space, tab, line feed, vertical tab, form feed, carriage return; never a byte >= 0x80.
bool is_space_byte(unsigned char c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// ASCII letters and digits only; the locale plays no part.
bool is_alnum_byte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::vector<std::string> split_tokens(const std::string & text) {
    std::vector<std::string> tokens;
    std::string              current;
    for (char ch : text) {
        if (is_space_byte(static_cast<unsigned char>(ch))) {
            if (!current.empty()) {
                tokens.push_back(current);
                current.clear();
            }
        } else {
            current += ch;
        }
    }
    if (!current.empty()) {
        tokens.push_back(current);
    }
    return tokens;
}

std::string make_match_key(const std::string & word) {
    std::string key;
    for (size_t i = 0; i < word.size(); i++) {
        unsigned char c = static_cast<unsigned char>(word[i]);
        if (c >= 0x80 || is_alnum_byte(c)) {
            key += word[i];
        } else if (c == '\'') {
            // An inner apostrophe: something already kept before it and an ASCII letter or digit after it.
            bool next_is_alnum = i + 1 < word.size() && is_alnum_byte(static_cast<unsigned char>(word[i + 1]));
            if (!key.empty() && next_is_alnum) {
                key += word[i];
            }
        }
    }
    return key;
}

std::string to_lower(const std::string & text) {
    std::string lowered = text;
    for (char & ch : lowered) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
    }
    return lowered;
}

bool is_filler(const std::string & word) {
    for (std::string_view filler : FillerWords) {
        if (word == filler) {
            return true;
        }
    }
    return false;
}

SegmentWords build_segment_words(const std::string & text, const std::vector<float> & confidence) {
    SegmentWords                   words;
    const std::vector<std::string> tokens = split_tokens(text);
    const bool                     scored = !confidence.empty() && confidence.size() == tokens.size();
    for (size_t t = 0; t < tokens.size(); t++) {
        const std::string & token = tokens[t];
        std::string         key   = make_match_key(token);
        if (!key.empty()) {
            words.display.push_back(token);
            words.keys.push_back(key);
            words.added.push_back(false);
            if (scored) {
                words.confidence.push_back(confidence[t]);
            }
        } else if (!words.display.empty()) {
            // Punctuation only: it belongs to the word before it, as printed; the joined word is as doubtful
            // as its least sure part.
            words.display.back() += token;
            if (scored) {
                words.confidence.back() = std::min(words.confidence.back(), confidence[t]);
            }
        }
        // A punctuation-only token before the first word is dropped.
    }
    return words;
}
