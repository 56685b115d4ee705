#include "cli/cli.h"
#include "output/output.h"

#include <cstdio>

void write_words_document(const std::vector<TimedWord> & timed_words) {
    report_progress(1.0, "done");
    std::fputs("{\"words\":[", stdout);
    for (size_t i = 0; i < timed_words.size(); i++) {
        const TimedWord &  word    = timed_words[i];
        const std::string  text    = json_escape(word.text);
        const char * const added   = word.added ? ",\"added\":true" : "";
        const char * const untimed = word.untimed ? ",\"untimed\":true" : "";
        const char * const who     = word.who == 'P' ? ",\"who\":\"P\"" : word.who == 'C' ? ",\"who\":\"C\"" : "";
        std::printf("%s{\"text\":\"%.*s\",\"start\":%.3f,\"end\":%.3f%s%s%s}", i == 0 ? "" : ",",
                    static_cast<int>(text.size()), text.c_str(), word.start, word.end, added, untimed, who);
    }
    std::fputs("]}\n", stdout);
}
