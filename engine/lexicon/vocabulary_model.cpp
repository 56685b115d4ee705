// Vocabulary entries turned into dictionary additions and a small n-gram model: a unigram for every word
// of the entries, a bigram for every pair of neighbours in a phrase.

#include "engine/lexicon/vocabulary_model.h"

#include "engine/lexicon/dictionary_lookup.h"
#include "engine/lexicon/pronunciation.h"
#include "engine/lexicon/vocabulary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace kelvo_asr {

namespace {

// A phone is the model's when the decoder accepts a word made of it alone.
bool probe_phone(ps_decoder_t * scratch, std::map<std::string, bool> & known, const std::string & phone) {
    const auto found = known.find(phone);
    if (found != known.end()) {
        return found->second;
    }
    const std::string name = "_phone_" + phone;
    const bool        ok   = !phone.empty() && ps_add_word(scratch, name.c_str(), phone.c_str(), FALSE) >= 0;
    known.emplace(phone, ok);
    return ok;
}

std::string log10_text(double p) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.4f", std::log10(p));
    return text;
}

// The entries' model: every word equally likely (and each no likelier than one in a thousand, so that the
// weight means the same for a short list as for a long one), a phrase's words likely after each other.
std::string model_text(const std::vector<vocabulary_entry> & entries) {
    std::set<std::string>                        words;
    std::map<std::string, std::set<std::string>> next; // word -> the words that follow it in a phrase
    for (const vocabulary_entry & e : entries) {
        for (size_t k = 0; k < e.words.size(); k++) {
            words.insert(e.words[k]);
            if (k + 1 < e.words.size()) {
                next[e.words[k]].insert(e.words[k + 1]);
            }
        }
    }
    size_t n_bigrams = 0;
    for (const auto & [w, after] : next) {
        n_bigrams += after.size();
    }
    const double unigram = 1.0 / static_cast<double>(std::max<size_t>(words.size(), 1000));
    std::string  text    = "\\data\\\nngram 1=" + std::to_string(words.size() + 2) + "\n";
    if (n_bigrams > 0) {
        text += "ngram 2=" + std::to_string(n_bigrams) + "\n";
    }
    text += "\n\\1-grams:\n-99 <s> 0\n-99 </s> 0\n";
    const std::string u = log10_text(unigram);
    for (const std::string & w : words) {
        text += u + " " + w + " 0\n";
    }
    if (n_bigrams > 0) {
        text += "\n\\2-grams:\n";
        for (const auto & [w, after] : next) {
            const std::string b = log10_text(1.0 / static_cast<double>(after.size()));
            for (const std::string & a : after) {
                text += b + " " + w + " " + a + "\n";
            }
        }
    }
    return text + "\n\\end\\\n";
}

} // namespace

std::string add_pronunciation(ps_decoder_t * ps, const std::string & word, const std::string & phones, bool & ok) {
    ok               = true;
    std::string name = word;
    for (int alt = 2; std::optional<std::string> have = lookup_phones(ps, name); alt++) {
        if (*have == phones) {
            return "";
        }
        name = word + "(" + std::to_string(alt) + ")";
    }
    ok = ps_add_word(ps, name.c_str(), phones.c_str(), FALSE) >= 0;
    return ok ? name : "";
}

prepared_vocabulary prepare_vocabulary(ps_decoder_t * scratch, const std::string & text,
                                       std::vector<vocabulary_warning> & skipped) {
    std::map<std::string, bool> known;
    const vocabulary_text       parsed =
        parse_vocabulary(text, [&](const std::string & phone) { return probe_phone(scratch, known, phone); });
    prepared_vocabulary             out;
    std::vector<vocabulary_entry>   used;
    std::vector<vocabulary_warning> unusable; // entries read but not usable, in line order
    auto skip = [&](int32_t line, const std::string & why) { unusable.push_back({ line, why }); };
    for (const vocabulary_entry & e : parsed.entries) {
        // The synthesiser's pronunciations first, so that an entry with a word it cannot say adds nothing.
        std::vector<dictionary_word> added;
        std::string                  why;
        for (const std::string & w : e.words) {
            const bool given = !e.pronunciations.empty();
            if (given || lookup_phones(scratch, w) ||
                std::any_of(added.begin(), added.end(), [&](const dictionary_word & a) { return a.name == w; })) {
                continue;
            }
            const std::string phones = map_synth_phonemes(synth_phonemes(w));
            if (phones.empty()) {
                why = "no pronunciation for \"" + w + "\"";
                break;
            }
            // Checked like given phones: a phone the model lacks would make every decoder refuse the word.
            std::istringstream each(phones);
            std::string        phone;
            while (why.empty() && each >> phone) {
                if (!probe_phone(scratch, known, phone)) {
                    why = "the synthesiser's pronunciation of \"" + w + "\" holds a phone the model lacks (\"" + phone +
                          "\")";
                }
            }
            if (!why.empty()) {
                break;
            }
            added.push_back({ w, phones });
        }
        for (size_t k = 0; why.empty() && k < added.size(); k++) {
            bool ok = true;
            add_pronunciation(scratch, added[k].name, added[k].phones, ok);
            if (!ok) {
                why = "the decoder refuses the pronunciation of \"" + added[k].name + "\"";
            }
        }
        for (const std::string & p : e.pronunciations) {
            // The phones are the model's (checked while reading), so the decoder takes them.
            bool              ok   = true;
            const std::string name = why.empty() ? add_pronunciation(scratch, e.words[0], p, ok) : std::string();
            if (!ok) {
                why = "the decoder refuses the pronunciation of \"" + e.words[0] + "\"";
            } else if (!name.empty()) {
                added.push_back({ name, p });
            }
        }
        if (!why.empty()) {
            skip(e.line, why);
            continue;
        }
        out.additions.insert(out.additions.end(), added.begin(), added.end());
        used.push_back(e);
    }
    std::merge(parsed.skipped.begin(), parsed.skipped.end(), unusable.begin(), unusable.end(),
               std::back_inserter(skipped),
               [](const vocabulary_warning & a, const vocabulary_warning & b) { return a.line < b.line; });
    out.n_entries = static_cast<int32_t>(used.size());
    if (!used.empty()) {
        out.model_text = model_text(used);
    }
    return out;
}

bool add_vocabulary_words(ps_decoder_t * ps, const prepared_vocabulary & v) {
    for (const dictionary_word & w : v.additions) {
        if (ps_add_word(ps, w.name.c_str(), w.phones.c_str(), FALSE) < 0) {
            return false;
        }
    }
    return true;
}

} // namespace kelvo_asr
