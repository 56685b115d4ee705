// Recognised text into words on arbitrary bytes: the three lists stay parallel, no display word or key is
// empty, every key is the key of its display word, and the display words hold exactly the text's bytes
// other than white space, minus the punctuation tokens that come before the first word.

#include "fuzz_support.h"
#include "words/words.h"

#include <string>

namespace {

bool is_space_byte(unsigned char c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

bool is_alnum_byte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void check_key(const std::string & word, const std::string & key) {
    FUZZ_CHECK(key.size() <= word.size());
    for (size_t i = 0; i < key.size(); i++) {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        if (c == '\'') {
            // An apostrophe only between kept bytes, followed by an ASCII letter or digit.
            FUZZ_CHECK(i > 0 && i + 1 < key.size() && is_alnum_byte(static_cast<unsigned char>(key[i + 1])));
        } else {
            FUZZ_CHECK(c >= 0x80 || is_alnum_byte(c));
        }
    }
    FUZZ_CHECK(make_match_key(key) == key); // a key is its own key
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);

    const std::string key = make_match_key(text);
    check_key(text, key);
    const std::string lowered = to_lower(text);
    FUZZ_CHECK(lowered.size() == text.size());
    FUZZ_CHECK(to_lower(lowered) == lowered);
    if (is_filler(lowered)) {
        FUZZ_CHECK(lowered.size() >= 2 && lowered.size() <= 4);
    }

    const std::vector<std::string> tokens = split_tokens(text);
    std::string                    joined_tokens;
    for (const std::string & t : tokens) {
        FUZZ_CHECK(!t.empty());
        for (char ch : t) {
            FUZZ_CHECK(!is_space_byte(static_cast<unsigned char>(ch)));
        }
        joined_tokens += t;
    }
    std::string non_space;
    for (char ch : text) {
        if (!is_space_byte(static_cast<unsigned char>(ch))) {
            non_space.push_back(ch);
        }
    }
    FUZZ_CHECK(joined_tokens == non_space);

    const SegmentWords words = build_segment_words(text);
    FUZZ_CHECK(words.display.size() == words.keys.size());
    FUZZ_CHECK(words.added.size() == words.keys.size());
    std::string joined_display;
    for (size_t i = 0; i < words.display.size(); i++) {
        FUZZ_CHECK(!words.display[i].empty());
        FUZZ_CHECK(!words.keys[i].empty());
        FUZZ_CHECK(!words.added[i]);
        FUZZ_CHECK(make_match_key(words.display[i]) == words.keys[i]);
        check_key(words.display[i], words.keys[i]);
        joined_display += words.display[i];
    }
    // The tokens dropped before the first word have empty keys; everything after them is kept.
    size_t dropped = 0;
    size_t t       = 0;
    while (t < tokens.size() && make_match_key(tokens[t]).empty()) {
        dropped += tokens[t].size();
        t++;
    }
    FUZZ_CHECK(joined_display == non_space.substr(dropped));
    return 0;
}
