#include "formats/formats.h"

#include <algorithm>

namespace {

// The word's text on one line without spaces around it; "" when nothing of it would show.
std::string visible_text(const std::string & text) {
    const std::string flat  = one_line(text);
    const size_t      first = flat.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    return flat.substr(first, flat.find_last_not_of(' ') - first + 1);
}

// The latest time the word covers; an untimed word covers only its own time.
double last_time(const DocumentWord & word) {
    return std::max(word.start, word.end);
}

// True when `word` (showing `text`) may join `cue`, which holds `texts` so far.
bool joins(const Cue & cue, const std::vector<std::string> & texts, const DocumentWord & word, const std::string & text,
           const CueLimits & limits) {
    if (word.who != cue.who || word.start - cue.end > limits.pause ||
        std::max(cue.end, last_time(word)) - cue.start > limits.seconds) {
        return false;
    }
    std::vector<std::string> with_word = texts;
    with_word.push_back(text);
    return break_lines(with_word, limits).has_value();
}

} // namespace

std::vector<Cue> group_cues(const std::vector<DocumentWord> & words, const CueLimits & limits) {
    std::vector<Cue>         cues;
    Cue                      cue;
    std::vector<std::string> texts; // the open cue's words; none when no cue is open

    const auto close = [&] {
        if (texts.empty()) {
            return;
        }
        // Each word was only added when the lines still fit, so breaking them always succeeds.
        cue.lines = break_lines(texts, limits).value_or(texts);
        cue.words = texts;
        cues.push_back(cue);
        texts.clear();
    };

    for (const DocumentWord & word : words) {
        const std::string text = visible_text(word.text);
        if (text.empty()) {
            continue;
        }
        if (!texts.empty() && joins(cue, texts, word, text, limits)) {
            cue.start = std::min(cue.start, word.start);
            cue.end   = std::max(cue.end, last_time(word));
            texts.push_back(text);
            cue.conf.push_back(word.conf);
            continue;
        }
        close();
        cue       = Cue{};
        cue.start = word.start;
        cue.end   = last_time(word);
        cue.who   = word.who;
        cue.conf  = { word.conf };
        texts.push_back(text);
    }
    close();

    // Speakers' turns may overlap, and subtitle players expect cues in order of their start.
    std::stable_sort(cues.begin(), cues.end(), [](const Cue & a, const Cue & b) { return a.start < b.start; });
    return cues;
}
