#include "words/words.h"
#include "written/written.h"

#include <algorithm>
#include <array>

namespace {

// Words that may come before a question's opening word without changing it: "so do you ...".
constexpr std::array<std::string_view, 14> linking_words = {
    "so", "and", "but", "well", "oh", "okay", "ok", "now", "then", "hey", "also", "anyway", "hello", "hi",
};

// Verbs that open a yes-or-no question.
constexpr std::array<std::string_view, 38> auxiliaries = {
    "do",       "does",      "did",     "is",     "are",    "was",    "were",    "can",     "could",    "will",
    "would",    "should",    "shall",   "have",   "has",    "had",    "am",      "may",     "might",    "must",
    "don't",    "doesn't",   "didn't",  "isn't",  "aren't", "wasn't", "weren't", "can't",   "couldn't", "won't",
    "wouldn't", "shouldn't", "haven't", "hasn't", "hadn't", "shan't", "ain't",   "mustn't",
};

// Question words; "when" opens as many statements as questions and asks only before a verb.
constexpr std::array<std::string_view, 7> question_words   = { "what", "how", "why", "who", "which", "whose", "where" };
constexpr std::array<std::string_view, 1> place_time_words = { "when" };

// A question word followed by one of these opens a clause ("what we did was ..."), not a question.
constexpr std::array<std::string_view, 5> clause_subjects = { "i", "we", "they", "he", "she" };

// The subjects an opening auxiliary asks about: "... did you", "... can we".
constexpr std::array<std::string_view, 6> asked_subjects = { "you", "we", "they", "he", "she", "i" };

// Words after which an auxiliary and its subject go on the sentence ("if you", "what do you") rather than
// open a question of their own.
constexpr std::array<std::string_view, 22> clause_openers = {
    "what", "how", "why", "who", "which", "whose", "where", "when", "if",      "whether", "that",
    "than", "as",  "and", "but", "or",    "so",    "to",    "not",  "because", "there",   "here",
};

// What a question word and its auxiliary ask about mid-way: "... where is the office".
constexpr std::array<std::string_view, 12> asked_things = {
    "you", "we", "they", "he", "she", "i", "it", "the", "this", "that", "your", "my",
};

// Closing words that turn a statement into a question: "..., right?", "... isn't it?".
constexpr std::array<std::string_view, 1> closing_tags = { "right" };
constexpr std::array<std::string_view, 5> tag_pronouns = { "it", "you", "they", "we", "he" };

template <size_t N> bool one_of(const std::array<std::string_view, N> & list, const std::string & word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

std::string key_of(const TimedWord & word) {
    return to_lower(make_match_key(word.text));
}

bool turn_changes(const TimedWord & a, const TimedWord & b) {
    return a.who != b.who || a.speaker != b.speaker;
}

// A question often follows a statement without a pause ("good morning did you sleep well"): a sentence is cut
// before an auxiliary and its subject, or a question word and its auxiliary, that open one mid-way.
std::vector<Sentence> split_at_questions(const std::vector<TimedWord> & words, const std::vector<Sentence> & found) {
    std::vector<Sentence> sentences;
    for (Sentence sentence : found) {
        for (size_t k = sentence.first + 1; k + 1 <= sentence.last; k++) {
            const std::string before = key_of(words[k - 1]);
            const std::string word   = key_of(words[k]);
            const std::string after  = key_of(words[k + 1]);
            const bool        asks   = (one_of(auxiliaries, word) && one_of(asked_subjects, after)) ||
                              (one_of(question_words, word) && one_of(auxiliaries, after) && k + 2 <= sentence.last &&
                               one_of(asked_things, key_of(words[k + 2])));
            if (asks && !one_of(clause_openers, before) && !one_of(auxiliaries, before) &&
                !one_of(asked_subjects, before) && !before.ends_with("'s") &&
                !(k >= sentence.first + 2 && one_of(question_words, key_of(words[k - 2])))) { // "how much did you"
                sentences.push_back(Sentence{ sentence.first, k - 1, false });
                sentence.first = k;
            }
        }
        sentences.push_back(sentence);
    }
    return sentences;
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
            const auto        end  = std::lower_bound(segment_ends.begin(), segment_ends.end(), word.end - slack);
            const bool        segment_ends_here = end != segment_ends.end() && *end <= next.start + slack;
            if (!segment_ends_here && !turn_changes(word, next) && next.start - word.end < settings.pause) {
                continue;
            }
        }
        open.last = k;
        sentences.push_back(open);
        open.first = k + 1;
    }
    return split_at_questions(words, sentences);
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
