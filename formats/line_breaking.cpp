#include "formats/formats.h"

#include <algorithm>

namespace {

// Characters (UTF-8 code points) in `text`: every byte that does not continue a sequence.
size_t char_count(std::string_view text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Characters of texts[from, to) joined by single spaces.
size_t joined_chars(const std::vector<size_t> & chars, size_t from, size_t to) {
    size_t total = 0;
    for (size_t i = from; i < to; i++) {
        total += chars[i] + (i > from ? 1 : 0);
    }
    return total;
}

std::string joined(const std::vector<std::string> & texts, size_t from, size_t to) {
    std::string line;
    for (size_t i = from; i < to; i++) {
        if (i > from) {
            line += ' ';
        }
        line += texts[i];
    }
    return line;
}

// True when texts[from, to) may share a line: within the limit, or a single word.
bool fits(const std::vector<size_t> & chars, size_t from, size_t to, size_t limit) {
    return to - from == 1 || joined_chars(chars, from, to) <= limit;
}

} // namespace

std::optional<std::vector<std::string>> break_lines(const std::vector<std::string> & texts, const CueLimits & limits) {
    std::vector<size_t> chars;
    chars.reserve(texts.size());
    for (const std::string & text : texts) {
        chars.push_back(char_count(text));
    }

    // Filling each line as far as it goes uses the fewest lines.
    std::vector<size_t> starts;
    for (size_t i = 0; i < texts.size(); i++) {
        if (starts.empty() || !fits(chars, starts.back(), i + 1, limits.line_chars)) {
            starts.push_back(i);
        }
    }
    if (starts.size() > limits.lines) {
        return std::nullopt;
    }

    // Two lines read best when they are about as long as each other.
    if (starts.size() == 2) {
        size_t best       = starts[1];
        size_t best_width = std::max(joined_chars(chars, 0, best), joined_chars(chars, best, texts.size()));
        for (size_t split = 1; split < texts.size(); split++) {
            if (!fits(chars, 0, split, limits.line_chars) || !fits(chars, split, texts.size(), limits.line_chars)) {
                continue;
            }
            const size_t width = std::max(joined_chars(chars, 0, split), joined_chars(chars, split, texts.size()));
            if (width < best_width) {
                best       = split;
                best_width = width;
            }
        }
        starts[1] = best;
    }

    std::vector<std::string> lines;
    for (size_t k = 0; k < starts.size(); k++) {
        lines.push_back(joined(texts, starts[k], k + 1 < starts.size() ? starts[k + 1] : texts.size()));
    }
    return lines;
}
