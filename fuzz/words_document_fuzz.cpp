// The words document reader of tavrik-words on arbitrary bytes, and every writer on what it accepts: no
// exception escapes, a refused document has a message and no words, an accepted one has finite times, and
// every format's bytes are well-formed UTF-8.

#include "formats/formats.h"
#include "fuzz_support.h"

#include <cmath>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const DocumentRead     read = read_words_document(bytes);
    if (!read.error.empty()) {
        FUZZ_CHECK(read.words.empty());
        return 0;
    }
    for (const DocumentWord & word : read.words) {
        FUZZ_CHECK(std::isfinite(word.start) && std::isfinite(word.end));
        FUZZ_CHECK(repair_utf8(word.text) == word.text && repair_utf8(word.who) == word.who);
    }
    const std::vector<Cue> cues = group_cues(read.words);
    for (const std::string & out :
         { srt_text(cues), vtt_text(cues), textgrid_text(read.words, 0.0), tsv_text(read.words) }) {
        FUZZ_CHECK(repair_utf8(out) == out);
    }
    return 0;
}
