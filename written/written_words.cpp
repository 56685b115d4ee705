#include "words/words.h"
#include "written/written.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

// Titles as they are written before a name, without a full stop (which would read as a sentence's end).
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> titles = { {
    { "mr", "Mr" },
    { "mrs", "Mrs" },
    { "ms", "Ms" },
    { "dr", "Dr" },
} };

bool is_title(const std::string & word) {
    const std::string lower = to_lower(word);
    return std::any_of(titles.begin(), titles.end(), [&](const auto & title) { return lower == title.first; });
}

// Marks that end a sentence, or part of one; a word already ending in one gets no other.
bool ends_in_mark(const std::string & word) {
    return !word.empty() && std::string_view(".?!,;:").find(word.back()) != std::string_view::npos;
}

// The written form of a lower-case word, or "" when it has none of its own.
std::string written_form(const std::string & lower, const NameList & names) {
    if (lower == "i" || lower.starts_with("i'")) {
        return "I" + lower.substr(1);
    }
    for (const auto & [plain, title] : titles) {
        if (lower == plain) {
            return std::string(title);
        }
    }
    if (const auto found = names.find(lower); found != names.end()) {
        return found->second;
    }
    if (lower.ends_with("'s")) {
        if (const auto found = names.find(lower.substr(0, lower.size() - 2)); found != names.end()) {
            return found->second + "'s";
        }
    }
    return "";
}

} // namespace

std::string written_word(const std::string & word, const NameList & names, bool opens_sentence) {
    std::string       out   = word;
    const std::string lower = to_lower(word);
    if (const std::string form = written_form(lower, names); form.size() == word.size()) {
        out = form;
    }
    if (opens_sentence && !out.empty() && out[0] >= 'a' && out[0] <= 'z') {
        out[0] = static_cast<char>(out[0] - 'a' + 'A');
    }
    return out;
}

void write_as_people_do(std::vector<TimedWord> & words, const std::vector<Segment> & segments,
                        std::span<const float> samples, int32_t rate, const NameList & names,
                        const SentenceSettings & settings) {
    // The pitch is read over the sentence's last second at most: the rise of a question is in its last words.
    constexpr double pitch_window = 1.0;
    for (const Sentence & sentence : find_sentences(words, segments, rate, settings)) {
        bool question = reads_as_question(words, sentence.first, sentence.last);
        if (!question) {
            const TimedWord & last   = words[sentence.last];
            const double      from   = std::max(words[sentence.first].start, last.end - pitch_window);
            const auto        sample = [&](double seconds) {
                return std::clamp(static_cast<size_t>(std::max(0.0, seconds) * rate), size_t{ 0 }, samples.size());
            };
            const size_t a = sample(from);
            const size_t b = sample(last.end);
            if (b > a) {
                const kelvo_asr::pitch_result pitch =
                    kelvo_asr::measure_pitch(samples.data() + a, static_cast<int32_t>(b - a));
                question = pitch.voiced && pitch.rise >= settings.question_rise && pitch.rise <= settings.highest_rise;
            }
        }
        for (size_t k = sentence.first; k <= sentence.last; k++) {
            // A title's next word is a name ("Mr Walker"), even one the word list also holds in lower case.
            const bool after_title = k > sentence.first && is_title(words[k - 1].text);
            words[k].text          = written_word(words[k].text, names, k == sentence.first || after_title);
        }
        std::string & end = words[sentence.last].text;
        if (!ends_in_mark(end)) {
            end += question ? "?" : ".";
        }
    }
}
