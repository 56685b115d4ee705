// A language model with hesitations: a unigram model of them, given to the decoder library as text
// (model_text_file.h), interpolated with the model folder's word model (and with a user's vocabulary,
// given the same way).

#include "engine/decoders/language_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace kelvo_asr {

namespace {

// Hesitations and their shares of the hesitation model; all are words of the English word model.
struct hesitation {
    const char * word;
    double       share;
};
constexpr hesitation hesitations[] = {
    { "um", 0.35 }, { "uh", 0.35 }, { "er", 0.1 }, { "ah", 0.1 }, { "hmm", 0.1 },
};

// Weight of the hesitation model against the word model: enough for a spoken "um" to win over the short
// words that sound like it, little enough that hesitations are not heard in every pause.
constexpr double hesitation_weight = 0.001;

// Reads the in-memory model `file`; nullptr when it could not be made or the library refuses.
ngram_model_t * read_model_file(ps_decoder_t * ps, const model_text_file & file) {
    return file.path.empty() ? nullptr
                             : ngram_model_read(ps_get_config(ps), file.path.c_str(), NGRAM_ARPA, ps_get_logmath(ps));
}

} // namespace

std::string hesitation_model_text() {
    std::string text = "\\data\\\nngram 1=" + std::to_string(std::size(hesitations) + 2) + "\n\n\\1-grams:\n";
    text += "-99 <s>\n-99 </s>\n";
    for (const hesitation & h : hesitations) {
        char line[64];
        std::snprintf(line, sizeof(line), "%.4f %s\n", std::log10(h.share), h.word);
        text += line;
    }
    return text + "\n\\end\\\n";
}

bool is_hesitation(const std::string & word) {
    return std::any_of(std::begin(hesitations), std::end(hesitations),
                       [&](const hesitation & h) { return word == h.word; });
}

ngram_model_t * read_language_model(ps_decoder_t * ps, const std::string & path, const model_text_file & hesitations,
                                    const model_text_file & vocabulary, double vocabulary_weight) {
    ngram_model_t * words = ngram_model_read(ps_get_config(ps), path.c_str(), NGRAM_AUTO, ps_get_logmath(ps));
    if (words == nullptr) {
        return words;
    }
    ngram_model_t * hes = read_model_file(ps, hesitations);
    ngram_model_t * voc = read_model_file(ps, vocabulary);
    if (vocabulary.wanted && voc == nullptr) {
        ngram_model_free(words); // a vocabulary the caller asked for and that cannot be used is a failure
        if (hes != nullptr) {
            ngram_model_free(hes);
        }
        return nullptr;
    }
    if (hes == nullptr && voc == nullptr) {
        return words; // recognition works without it, only hears hesitations less well
    }
    char            w_name[]   = "words";
    char            h_name[]   = "hesitations";
    char            v_name[]   = "vocabulary";
    ngram_model_t * models[3]  = { words };
    char *          names[3]   = { w_name };
    float32         weights[3] = {};
    double          rest       = 1.0; // the word model's weight
    int32           n          = 1;
    const auto      add        = [&](ngram_model_t * model, char * name, double weight) {
        models[n]  = model;
        names[n]   = name;
        weights[n] = static_cast<float32>(weight);
        rest -= weight;
        n++;
    };
    if (hes != nullptr) {
        add(hes, h_name, hesitation_weight);
    }
    if (voc != nullptr) {
        add(voc, v_name, vocabulary_weight);
    }
    weights[0]          = static_cast<float32>(rest);
    ngram_model_t * set = ngram_model_set_init(ps_get_config(ps), models, names, weights, n);
    for (int32 k = 0; k < n; k++) {
        ngram_model_free(models[k]); // the set holds its own references
    }
    return set;
}

} // namespace kelvo_asr
