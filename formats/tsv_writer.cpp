#include "formats/formats.h"

#include <algorithm>
#include <charconv>

namespace {

// A number with `decimals` decimals and a point, whatever the locale.
std::string fixed_text(double value, int decimals) {
    char       text[64];
    const auto result = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, decimals);
    return std::string(text, result.ptr);
}

std::string seconds_text(double seconds) {
    return fixed_text(seconds, 3);
}

// A text field: on one line, and quoted (quotes doubled) when it holds a quote, as spreadsheets read it.
std::string text_field(const std::string & text) {
    std::string flat = one_line(text);
    if (flat.find('"') == std::string::npos) {
        return flat;
    }
    std::string out = "\"";
    for (char c : flat) {
        out += c == '"' ? "\"\"" : std::string(1, c);
    }
    return out + '"';
}

} // namespace

std::string tsv_text(const std::vector<DocumentWord> & words) {
    const bool  scored = std::any_of(words.begin(), words.end(), [](const DocumentWord & w) { return w.conf >= 0; });
    std::string out =
        scored ? "start\tend\tspeaker\ttext\tadded\tuntimed\tconf\n" : "start\tend\tspeaker\ttext\tadded\tuntimed\n";
    for (const DocumentWord & word : words) {
        out += seconds_text(word.start) + '\t' + seconds_text(word.end) + '\t' + text_field(word.who) + '\t' +
               text_field(word.text) + '\t' + (word.added ? "1" : "0") + '\t' + (word.untimed ? "1" : "0");
        if (scored) {
            out += '\t' + (word.conf >= 0 ? fixed_text(word.conf, 2) : std::string());
        }
        out += '\n';
    }
    return out;
}
