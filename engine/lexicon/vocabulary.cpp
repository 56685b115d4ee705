// Reading a vocabulary text: lines checked one by one, bad ones skipped with a reason, duplicates merged.

#include "engine/lexicon/vocabulary.h"

#include "engine/lexicon/pronunciation.h"
#include "engine/lexicon/word_text.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>

namespace kelvo_asr {

namespace {

// The code point at `at`, advancing `at` past it; nullopt for bytes that are not UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
std::optional<uint32_t> next_utf8(const std::string & s, size_t & at) {
    const auto c = static_cast<unsigned char>(s[at]);
    if (c < 0x80) {
        at++;
        return c;
    }
    int      extra = 0;
    uint32_t cp    = 0;
    uint32_t least = 0;
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (at + static_cast<size_t>(extra) >= s.size()) {
        return std::nullopt;
    }
    for (int k = 1; k <= extra; k++) {
        const auto d = static_cast<unsigned char>(s[at + static_cast<size_t>(k)]);
        if ((d & 0xC0) != 0x80) {
            return std::nullopt;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;
    }
    at += static_cast<size_t>(extra) + 1;
    return cp;
}

// Why `line` is not readable text, or empty: invalid UTF-8 first, then control characters (C0 but the
// tab, DEL, C1).
std::string text_fault(const std::string & line) {
    bool control = false;
    for (size_t at = 0; at < line.size();) {
        const std::optional<uint32_t> cp = next_utf8(line, at);
        if (!cp) {
            return "invalid UTF-8";
        }
        control = control || (*cp < 0x20 && *cp != '\t') || (*cp >= 0x7F && *cp <= 0x9F);
    }
    return control ? "control character" : "";
}

// Words that the decoder reads as something else: alternatives "(2)", noise words "[x]" "+x+", sentence
// marks "<s>", and names of words the engine adds itself.
bool is_reserved_word(const std::string & w) {
    return w.find_first_of("()[]<>") != std::string::npos || w[0] == '+' || w[0] == '_';
}

std::string quoted(const std::string & s) {
    return "\"" + s + "\"";
}

// The pronunciation of `field` as model phones, or a reason in `why` when it cannot be one.
std::string read_pronunciation(const std::string & field, const std::function<bool(const std::string &)> & known_phone,
                               std::string & why) {
    std::string                    out;
    const std::vector<std::string> phones = split_words(field);
    if (phones.size() > vocabulary_limits::phones) {
        why = "over-long pronunciation";
        return "";
    }
    for (std::string p : phones) {
        // Stress digits of dictionary notation ("OW1") are not phones of the model.
        while (p.size() > 1 && p.back() >= '0' && p.back() <= '9') {
            p.pop_back();
        }
        std::transform(p.begin(), p.end(), p.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; });
        if (!known_phone(p)) {
            why = "unknown phone " + quoted(p);
            return "";
        }
        out += (out.empty() ? "" : " ") + p;
    }
    return out;
}

// The entry of one line, or nullopt with the reason in `why`; an empty entry (a blank line) has no words.
std::optional<vocabulary_entry>
read_line(const std::string & line, const std::function<bool(const std::string &)> & known_phone, std::string & why) {
    why = text_fault(line);
    if (!why.empty()) {
        return std::nullopt;
    }
    if (line.size() > vocabulary_limits::line_bytes) {
        why = "over-long line";
        return std::nullopt;
    }
    const size_t tab = line.find('\t');
    if (tab != std::string::npos && line.find('\t', tab + 1) != std::string::npos) {
        why = "more than one tab";
        return std::nullopt;
    }
    vocabulary_entry entry;
    for (const std::string & w : split_words(line.substr(0, tab))) {
        entry.words.push_back(normalize_word(w));
    }
    const std::string field     = tab == std::string::npos ? std::string() : line.substr(tab + 1);
    const bool        has_field = !split_words(field).empty();
    if (entry.words.empty()) {
        if (has_field) {
            why = "a pronunciation without a word";
            return std::nullopt;
        }
        return entry; // blank
    }
    if (entry.words.size() > vocabulary_limits::words) {
        why = "over-long phrase";
        return std::nullopt;
    }
    for (const std::string & w : entry.words) {
        if (w.size() > vocabulary_limits::word_bytes) {
            why = "over-long word";
            return std::nullopt;
        }
        if (is_reserved_word(w)) {
            why = "reserved character in " + quoted(w);
            return std::nullopt;
        }
    }
    if (has_field) {
        if (entry.words.size() > 1) {
            why = "a pronunciation is for a one-word entry";
            return std::nullopt;
        }
        const std::string pronunciation = read_pronunciation(field, known_phone, why);
        if (!why.empty()) {
            return std::nullopt;
        }
        entry.pronunciations.push_back(pronunciation);
    }
    return entry;
}

} // namespace

vocabulary_text parse_vocabulary(const std::string &                              text,
                                 const std::function<bool(const std::string &)> & known_phone) {
    vocabulary_text               out;
    std::map<std::string, size_t> index; // an entry's words, joined, to its place in `out.entries`
    size_t                        start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    for (int32_t number = 1; start < text.size(); number++) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start            = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string                     why;
        std::optional<vocabulary_entry> entry = read_line(line, known_phone, why);
        if (!entry) {
            out.skipped.push_back({ number, why });
            continue;
        }
        if (entry->words.empty()) {
            continue;
        }
        std::string key;
        for (const std::string & w : entry->words) {
            key += (key.empty() ? "" : " ") + w;
        }
        const auto found = index.find(key);
        if (found == index.end()) {
            entry->line = number;
            index.emplace(key, out.entries.size());
            out.entries.push_back(std::move(*entry));
            continue;
        }
        std::vector<std::string> & have = out.entries[found->second].pronunciations;
        for (const std::string & p : entry->pronunciations) {
            if (std::find(have.begin(), have.end(), p) == have.end()) {
                have.push_back(p);
            }
        }
    }
    return out;
}

} // namespace kelvo_asr
