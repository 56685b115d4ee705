#include "written/written.h"
#include "words/words.h"

#include <algorithm>
#include <array>

namespace {

// Words that may come before a question's opening word without changing it: "so do you ...".
constexpr std::array<std::string_view, 12> linking_words = {
    "so", "and", "but", "well", "oh", "okay", "ok", "now", "then", "hey", "also", "anyway",
};

// Verbs that open a yes-or-no question.
constexpr std::array<std::string_view, 38> auxiliaries = {
    "do",      "does",   "did",    "is",      "are",    "was",     "were",     "can",   "could",  "will",
    "would",   "should", "shall",  "have",    "has",    "had",     "am",       "may",   "might",  "must",
    "don't",   "doesn't", "didn't", "isn't",  "aren't", "wasn't",  "weren't",  "can't", "couldn't", "won't",
    "wouldn't", "shouldn't", "haven't", "hasn't", "hadn't", "shan't", "ain't", "mustn't",
};

// Question words; "when" and "where" open as many statements as questions and ask only before a verb.
constexpr std::array<std::string_view, 6> question_words = {"what", "how", "why", "who", "which", "whose"};
constexpr std::array<std::string_view, 2> place_time_words = {"where", "when"};

// A question word followed by one of these opens a clause ("what we did was ..."), not a question.
constexpr std::array<std::string_view, 5> clause_subjects = {"i", "we", "they", "he", "she"};

// Closing words that turn a statement into a question: "..., right?", "... isn't it?".
constexpr std::array<std::string_view, 1> closing_tags = {"right"};
constexpr std::array<std::string_view, 5> tag_pronouns = {"it", "you", "they", "we", "he"};

template <size_t N> bool one_of(const std::array<std::string_view, N> & list, const std::string & word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

std::string key_of(const TimedWord & word) {
    return to_lower(make_match_key(word.text));
}

bool turn_changes(const TimedWord & a, const TimedWord & b) {
    return a.who != b.who || a.speaker != b.speaker;
}

} // namespace

std::vector<Sentence> find_sentences(const std::vector<TimedWord> & words, const std::vector<Segment> & segments,
                                     int32_t rate, const SentenceSettings & settings) {
    std::vector<double> segment_ends;
    for (const Segment & segment : segments) {
        segment_ends.push_back(static_cast<double>(segment.end) / static_cast<double>(rate));
    }
    std::sort(segment_ends.begin(), segment_ends.end());
    constexpr double slack = 1e-6;

    std::vector<Sentence> sentences;
    Sentence              open;
    for (size_t k = 0; k < words.size(); k++) {
        if (k + 1 < words.size()) {
            const TimedWord & word = words[k];
            const TimedWord & next = words[k + 1];
            const auto end = std::lower_bound(segment_ends.begin(), segment_ends.end(), word.end - slack);
            const bool segment_ends_here = end != segment_ends.end() && *end <= next.start + slack;
            if (!segment_ends_here && !turn_changes(word, next) && next.start - word.end < settings.pause) {
                continue;
            }
        }
        open.last = k;
        sentences.push_back(open);
        open.first = k + 1;
    }
    return sentences;
}

bool reads_as_question(const std::vector<TimedWord> & words, size_t first, size_t last) {
    size_t k = first;
    while (k < last && (is_filler(key_of(words[k])) || one_of(linking_words, key_of(words[k])))) {
        k++;
    }
    const std::string opening = key_of(words[k]);
    const std::string after   = k < last ? key_of(words[k + 1]) : std::string();
    if (one_of(auxiliaries, opening) && k < last) {
        return true;
    }
    if (one_of(question_words, opening) && !one_of(clause_subjects, after)) {
        return k < last || first == last; // "what?" alone asks too
    }
    if (one_of(place_time_words, opening) && one_of(auxiliaries, after)) {
        return true;
    }
    if (last > first + 1 && one_of(closing_tags, key_of(words[last]))) {
        return true;
    }
    return last > first + 1 && one_of(tag_pronouns, key_of(words[last])) &&
           one_of(auxiliaries, key_of(words[last - 1])) && key_of(words[last - 1]).ends_with("n't");
}
