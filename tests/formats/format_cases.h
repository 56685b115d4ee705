// The words documents on which the converter's formats break most easily, shared by the format tests,
// and what each format must show of them.

#pragma once

#include "formats/formats.h"

#include <sstream>
#include <string>
#include <vector>

struct FormatCase {
    std::string               name;
    std::vector<DocumentWord> words;
};

inline DocumentWord doc_word(const std::string & text, double start, double end, const std::string & who = "",
                             bool untimed = false, bool added = false) {
    return DocumentWord{ text, start, end, added, untimed, who };
}

// The 60-character word of the "long_word" case.
inline const std::string & long_word() {
    static const std::string word(60, 'x');
    return word;
}

inline const std::vector<FormatCase> & format_cases() {
    static const std::vector<FormatCase> cases = [] {
        std::vector<FormatCase> all;
        all.push_back({ "past_one_hour", { doc_word("over", 3599.5, 3600.25), doc_word("the", 3600.5, 3601) } });
        all.push_back({ "past_100_hours", { doc_word("late", 360000.125, 360000.5) } });
        all.push_back(
            { "markup",
              { doc_word("say", 0.5, 0.8), doc_word("\"hi\"&<b>-->x\nnow", 0.9, 1.4), doc_word("--->", 1.5, 1.7) } });
        all.push_back({ "untimed",
                        { doc_word("we", 1.0, 1.3), doc_word("a", 1.4, 1.4, "", true), doc_word("go", 1.5, 1.9),
                          doc_word("um", 5.0, 5.0, "", true, true) } });
        all.push_back(
            { "two_speakers",
              { doc_word("hello", 0.0, 0.5, "P"), doc_word("hi", 0.4, 0.7, "C"), doc_word("there", 0.6, 1.0, "P"),
                doc_word("you", 0.9, 1.2, "C"), doc_word("again", 0.95, 1.1, "C") } });
        all.push_back(
            { "long_word", { doc_word("a", 0.0, 0.2), doc_word(long_word(), 0.3, 2.0), doc_word("b", 2.1, 2.2) } });
        FormatCase run{ "speech_with_a_pause", {} };
        for (int i = 0; i < 60; i++) {
            const double start = 0.3 * i + (i >= 30 ? 1.5 : 0.0); // a 1.5 s silence before word 30
            run.words.push_back(doc_word("word" + std::to_string(i), start, start + 0.25));
        }
        all.push_back(run);
        all.push_back({ "empty", {} });
        return all;
    }();
    return cases;
}

// `text` split at white space.
inline std::vector<std::string> split_tokens(const std::string & text) {
    std::vector<std::string> tokens;
    std::istringstream       in(text);
    for (std::string token; in >> token;) {
        tokens.push_back(token);
    }
    return tokens;
}

// The words' texts split at white space, in document order: what a format must show of them.
inline std::vector<std::string> shown_tokens(const std::vector<DocumentWord> & words) {
    std::vector<std::string> tokens;
    for (const DocumentWord & word : words) {
        for (const std::string & token : split_tokens(word.text)) {
            tokens.push_back(token);
        }
    }
    return tokens;
}
