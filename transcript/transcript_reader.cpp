#include "formats/formats.h"
#include "transcript/transcript.h"
#include "words/words.h"

namespace {

bool is_space(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// True for a key made only of punctuation and symbols outside ASCII (dashes, curly quotes, ellipses,
// guillemets): a token of such bytes has no sound and belongs with the word before it.
bool is_punctuation_key(std::string_view key) {
    while (!key.empty()) {
        const auto b0 = static_cast<unsigned char>(key[0]);
        const auto b1 = key.size() > 1 ? static_cast<unsigned char>(key[1]) : 0;
        const auto b2 = key.size() > 2 ? static_cast<unsigned char>(key[2]) : 0;
        if (b0 == 0xC2 && b1 >= 0xA0 && b1 <= 0xBF) { // Latin-1 symbols: « » ¡ ¿ § ...
            key.remove_prefix(2);
        } else if (b0 == 0xE2 && (b1 == 0x80 || b1 == 0x81) && b2 >= 0x80 && b2 <= 0xBF) { // general punctuation
            key.remove_prefix(3);
        } else {
            return false;
        }
    }
    return true;
}

// The words of a plain-text transcript: tokens of each line, punctuation-only tokens joined to a word with
// their space kept, and a first token "LABEL:" naming the speaker from that line on.
std::vector<TranscriptWord> read_text(std::string_view text) {
    std::vector<TranscriptWord> words;
    char                        who = 0;
    std::string                 speaker;
    std::string                 pending; // punctuation ahead of the first word, kept for it
    while (!text.empty()) {
        const size_t           nl   = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);

        std::vector<std::string> tokens = split_tokens(std::string(line));
        size_t                   first  = 0;
        if (!tokens.empty() && tokens[0].size() >= 2 && tokens[0].back() == ':') {
            const std::string label = tokens[0].substr(0, tokens[0].size() - 1);
            who                     = label.size() == 1 ? label[0] : 0;
            speaker                 = label.size() == 1 ? std::string() : label;
            first                   = 1;
        }
        for (size_t t = first; t < tokens.size(); t++) {
            const std::string key = to_lower(make_match_key(tokens[t]));
            if (key.empty() || is_punctuation_key(key)) {
                if (!words.empty()) {
                    words.back().text += ' ' + tokens[t];
                } else {
                    pending += tokens[t] + ' ';
                }
                continue;
            }
            words.push_back({ pending + tokens[t], key, who, speaker, false });
            pending.clear();
        }
    }
    return words;
}

std::vector<TranscriptWord> document_words(const std::vector<DocumentWord> & read) {
    std::vector<TranscriptWord> words;
    words.reserve(read.size());
    for (const DocumentWord & w : read) {
        TranscriptWord word;
        word.text  = w.text;
        word.key   = to_lower(make_match_key(w.text));
        word.added = w.added;
        if (w.who.size() == 1) {
            word.who = w.who[0];
        } else {
            word.speaker = w.who;
        }
        words.push_back(std::move(word));
    }
    return words;
}

} // namespace

TranscriptRead read_transcript(std::string_view bytes) {
    TranscriptRead read;
    if (repair_utf8(bytes) != bytes) {
        read.error = "it is not UTF-8 text";
        return read;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) { // a byte order mark some editors write first
        bytes.remove_prefix(3);
    }
    size_t first = 0;
    while (first < bytes.size() && is_space(static_cast<unsigned char>(bytes[first]))) {
        first++;
    }
    if (first < bytes.size() && bytes[first] == '{') {
        DocumentRead document = read_words_document(bytes);
        if (!document.error.empty()) {
            read.error = document.error;
            return read;
        }
        read.words = document_words(document.words);
    } else {
        read.words = read_text(bytes);
    }
    if (read.words.empty()) {
        read.error = "it holds no words";
    }
    return read;
}
