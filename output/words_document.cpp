#include "cli/cli.h"
#include "output/output.h"

#include <cstdio>

void write_words_document(const std::vector<TimedWord> & timed_words) {
    report_progress(1.0, "done");

    // The whole document is built first and written in one call, so running out of memory part way can
    // never leave half a document on standard output ahead of an error object.
    std::string document = "{\"words\":[";
    document.reserve(document.size() + timed_words.size() * 64);
    char times[96];
    for (size_t i = 0; i < timed_words.size(); i++) {
        const TimedWord & word = timed_words[i];
        if (i > 0) {
            document += ',';
        }
        document += "{\"text\":\"";
        document += json_escape(word.text);
        std::snprintf(times, sizeof(times), "\",\"start\":%.3f,\"end\":%.3f", word.start, word.end);
        document += times;
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
        document += '}';
    }
    document += "]}\n";
    std::fwrite(document.data(), 1, document.size(), stdout);
}
