#include "cli/cli.h"
#include "output/output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

// Appends `seconds` as "%.3f" writes it in the C locale (fixed point, three decimals, no exponent), however
// many digits that takes; a time that is not finite has no JSON number and is written as null.
void append_time(std::string & out, double seconds) {
    if (!std::isfinite(seconds)) {
        out += "null";
        return;
    }
    const size_t at = out.size();
    for (size_t room = 32;; room *= 2) {
        out.resize(at + room);
        const auto r = std::to_chars(out.data() + at, out.data() + out.size(), seconds, std::chars_format::fixed, 3);
        if (r.ec == std::errc()) {
            out.resize(static_cast<size_t>(r.ptr - out.data()));
            return;
        }
    }
}

// Appends a confidence with two decimals; a value past 1 is written as 1.00 (NaN never gets here: it is not
// >= 0).
void append_confidence(std::string & out, float conf) {
    char       text[8];
    const auto r =
        std::to_chars(text, text + sizeof text, std::min(static_cast<double>(conf), 1.0), std::chars_format::fixed, 2);
    out.append(text, r.ptr);
}

} // namespace

void write_words_document(const std::vector<TimedWord> & timed_words) {
    report_progress(1.0, "done");

    // The whole document is built first and written in one call, so running out of memory part way can
    // never leave half a document on standard output ahead of an error object.
    std::string document = "{\"words\":[";
    document.reserve(document.size() + timed_words.size() * 64);
    for (size_t i = 0; i < timed_words.size(); i++) {
        const TimedWord & word = timed_words[i];
        if (i > 0) {
            document += ',';
        }
        document += "{\"text\":\"";
        document += json_escape(word.text);
        document += "\",\"start\":";
        append_time(document, word.start);
        document += ",\"end\":";
        append_time(document, word.end);
        if (word.added) {
            document += ",\"added\":true";
        }
        if (word.untimed) {
            document += ",\"untimed\":true";
        }
        if (word.who == 'P' || word.who == 'C') {
            document += ",\"who\":\"";
            document += word.who;
            document += '"';
        }
        if (!word.speaker_name.empty()) {
            document += ",\"speaker\":\"";
            document += json_escape(word.speaker_name);
            document += '"';
        } else if (word.speaker > 0) {
            document += ",\"speaker\":\"S";
            document += std::to_string(word.speaker);
            document += '"';
        }
        if (word.conf >= 0) {
            document += ",\"conf\":";
            append_confidence(document, word.conf);
        }
        document += '}';
    }
    document += "]}\n";
    std::fwrite(document.data(), 1, document.size(), stdout);
}
