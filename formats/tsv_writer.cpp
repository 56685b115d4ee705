#include "formats/formats.h"

#include <charconv>

namespace {

// Seconds with three decimals and a point, whatever the locale.
std::string seconds_text(double seconds) {
    char       text[64];
    const auto result = std::to_chars(text, text + sizeof(text), seconds, std::chars_format::fixed, 3);
    return std::string(text, result.ptr);
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
    std::string out = "start\tend\tspeaker\ttext\tadded\tuntimed\n";
    for (const DocumentWord & word : words) {
        out += seconds_text(word.start) + '\t' + seconds_text(word.end) + '\t' + text_field(word.who) + '\t' +
               text_field(word.text) + '\t' + (word.added ? "1" : "0") + '\t' + (word.untimed ? "1" : "0") + '\n';
    }
    return out;
}
