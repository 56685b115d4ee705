// The transcript reader on arbitrary bytes: no exception escapes, a refused transcript has a message and no
// words, an accepted one has words, each with text that is well-formed UTF-8, a lower-case match key and at
// most one kind of speaker name.

#include "formats/formats.h"
#include "fuzz_support.h"
#include "transcript/transcript.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const TranscriptRead   read = read_transcript(bytes);
    if (!read.error.empty()) {
        FUZZ_CHECK(read.words.empty());
        return 0;
    }
    FUZZ_CHECK(!read.words.empty());
    for (const TranscriptWord & word : read.words) {
        FUZZ_CHECK(!word.text.empty());
        FUZZ_CHECK(repair_utf8(word.text) == word.text && repair_utf8(word.speaker) == word.speaker);
        for (const char c : word.key) {
            FUZZ_CHECK(c < 'A' || c > 'Z');
        }
    }
    return 0;
}
