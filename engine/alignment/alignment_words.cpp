// Decoder words for the tokens of an alignment text: the dictionary's forms of a word, numbers read as
// words, pronunciations from the synthesiser, and the spoken fillers the grammar allows anywhere.

#include "engine/alignment/alignment.h"
#include "engine/lexicon/dictionary_lookup.h"
#include "engine/lexicon/pronunciation.h"
#include "engine/lexicon/word_text.h"

#include <algorithm>
#include <optional>

namespace kelvo_asr {

namespace {

// Prefixes of words added at run time; no dictionary word starts with an underscore.
const char * const runtime_prefix = "_w_";
const char * const filler_prefix  = "_f_";

// Spoken fillers that the text may leave out. Their decoder names carry `filler_prefix`, so they are
// never returned as words.
const char * const filler_pronunciations[][2] = {
    { "_f_um", "AH M" },
    { "_f_uh", "AH" },
    { "_f_er", "ER" },
    { "_f_hmm", "HH M" },
};

int count_phones(const std::string & phones) {
    return static_cast<int>(split_words(phones).size());
}

// Adds (once) a run-time word for `phones` and returns its name; empty when the decoder refuses it.
std::string runtime_word(ps_decoder_t * ps, const std::string & phones) {
    std::string name = runtime_prefix;
    for (char c : phones) {
        name += c == ' ' ? '_' : c;
    }
    if (lookup_phones(ps, name)) {
        return name;
    }
    if (ps_add_word(ps, name.c_str(), phones.c_str(), FALSE) < 0) {
        return "";
    }
    return name;
}

void add_name(text_word & w, const std::string & name, int n_phones) {
    if (name.empty() || std::find(w.names.begin(), w.names.end(), name) != w.names.end()) {
        return;
    }
    w.n_phones = w.names.empty() ? n_phones : std::min(w.n_phones, n_phones);
    w.names.push_back(name);
}

void add_runtime_alternative(ps_decoder_t * ps, text_word & w, const std::string & phones) {
    add_name(w, runtime_word(ps, phones), count_phones(phones));
}

// The word itself, then without apostrophes at its edges, then with one added at either edge ("em" is
// also "'em", "goin" also "goin'").
std::vector<std::string> spelling_candidates(const std::string & key, std::string & trimmed) {
    trimmed = key;
    while (!trimmed.empty() && trimmed.front() == '\'') {
        trimmed.erase(trimmed.begin());
    }
    while (!trimmed.empty() && trimmed.back() == '\'') {
        trimmed.pop_back();
    }
    std::vector<std::string> candidates = { key };
    if (!trimmed.empty()) {
        for (const std::string & c : { trimmed, "'" + trimmed, trimmed + "'" }) {
            if (std::find(candidates.begin(), candidates.end(), c) == candidates.end()) {
                candidates.push_back(c);
            }
        }
    }
    return candidates;
}

} // namespace

bool add_alignment_fillers(ps_decoder_t * ps) {
    for (const auto & filler : filler_pronunciations) {
        if (ps_add_word(ps, filler[0], filler[1], FALSE) < 0) {
            return false;
        }
    }
    return true;
}

bool is_alignment_filler(const std::string & name) {
    return name.empty() || name[0] == '<' || name[0] == '[' || name[0] == '+' || name.rfind(filler_prefix, 0) == 0 ||
           name == "(NULL)";
}

const std::vector<std::string> & alignment_filler_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const auto & filler : filler_pronunciations) {
            out.emplace_back(filler[0]);
        }
        return out;
    }();
    return names;
}

text_word prepare_word(ps_decoder_t * ps, const std::string & token) {
    text_word         w;
    const std::string key   = normalize_word(token);
    const token_sound sound = classify_token(key);
    if (sound == token_sound::none) {
        w.silent = true;
        return w;
    }
    // Every form the dictionary holds is an alternative.
    std::string trimmed;
    for (const std::string & c : spelling_candidates(key, trimmed)) {
        if (std::optional<std::string> phones = lookup_phones(ps, c)) {
            add_name(w, c, count_phones(*phones));
        }
    }
    if (!w.names.empty()) {
        return w;
    }
    if (sound == token_sound::spoken) {
        for (const std::vector<std::string> & reading : number_readings(key)) {
            std::string phones;
            bool        complete = true;
            for (const std::string & number_word : reading) {
                std::optional<std::string> p = lookup_phones(ps, number_word);
                complete                     = complete && p.has_value();
                if (p) {
                    phones += (phones.empty() ? "" : " ") + *p;
                }
            }
            if (complete && !phones.empty()) {
                add_runtime_alternative(ps, w, phones);
            }
        }
        if (!w.names.empty()) {
            return w;
        }
        const std::string phones = map_synth_phonemes(synth_phonemes(trimmed.empty() ? key : trimmed));
        if (!phones.empty()) {
            add_runtime_alternative(ps, w, phones);
            return w;
        }
    }
    // A script the synthesiser would only spell out, or nothing it can say: speech of some kind.
    add_runtime_alternative(ps, w, "+SPN+");
    w.silent = w.names.empty();
    return w;
}

} // namespace kelvo_asr
