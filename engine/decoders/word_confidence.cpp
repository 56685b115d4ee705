// Word posteriors and evidence from the decoder's lattice.

#include "engine/decoders/word_confidence.h"

#include <sphinxbase/ckd_alloc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

namespace kelvo_asr {

namespace {

std::atomic<std::vector<recorded_evidence> *> evidence_sink{ nullptr };
std::mutex                                    evidence_mutex;

// Sentence marks, silence and bracketed noise words hold no word of the text.
bool is_filler(const char * w) {
    const size_t n = std::strlen(w);
    return std::strcmp(w, "<s>") == 0 || std::strcmp(w, "</s>") == 0 || std::strcmp(w, "<sil>") == 0 ||
           (n >= 2 && ((w[0] == '[' && w[n - 1] == ']') || (w[0] == '+' && w[n - 1] == '+')));
}

double probability(logmath_t * lmath, int32 log_prob) {
    const double p = logmath_exp(lmath, log_prob);
    return std::clamp(std::isfinite(p) ? p : 0.0, 0.0, 1.0);
}

// Phones in the dictionary's pronunciation of `word` (1 when it has none).
int phone_count(ps_decoder_t * ps, const char * word) {
    char * phones = ps_lookup_word(ps, word);
    if (phones == nullptr) {
        return 1;
    }
    int n = 0;
    for (const char * c = phones; *c != '\0'; c++) {
        n += (*c != ' ' && (c == phones || c[-1] == ' ')) ? 1 : 0;
    }
    ckd_free(phones);
    return std::max(1, n);
}

word_evidence lattice_evidence(ps_decoder_t * ps, ps_seg_t * seg, const std::vector<lattice_link> & links) {
    word_evidence e;
    logmath_t *   lmath = ps_get_logmath(ps);
    int32         ascr  = 0;
    int32         lscr  = 0;
    int32         lback = 0;
    e.node_posterior    = static_cast<float>(probability(lmath, ps_seg_prob(seg, &ascr, &lscr, &lback)));
    int sf              = 0;
    int ef              = 0;
    ps_seg_frames(seg, &sf, &ef);
    const int    frames = std::max(1, ef - sf + 1);
    const char * raw    = ps_seg_word(seg);
    e.acoustic          = static_cast<float>(logmath_log_to_ln(lmath, ascr) / frames);
    e.language          = static_cast<float>(logmath_log_to_ln(lmath, lscr));
    e.frames_per_phone  = static_cast<float>(frames) / static_cast<float>(phone_count(ps, raw));

    // Per frame of the word, the summed posterior of every lattice link over it, by the link's base word:
    // the word itself, silence and noise, and each other word.
    if (links.empty()) {
        e.word_posterior = e.mean_posterior = e.node_posterior;
        return e;
    }
    // The base word: the entry without its "(2)" variant mark.
    std::string word = raw;
    if (const size_t paren = word.find('('); paren != std::string::npos && paren > 0) {
        word.resize(paren);
    }
    const auto                                      n = static_cast<size_t>(frames);
    std::vector<double>                             same(n, 0), filler(n, 0);
    std::map<std::string_view, std::vector<double>> others;
    for (const lattice_link & link : links) {
        const int from = std::max(sf, link.first);
        const int to   = std::min(ef, link.last);
        if (from > to) {
            continue;
        }
        std::vector<double> * sums = word == link.base ? &same : link.filler ? &filler : nullptr;
        if (sums == nullptr) {
            auto & other = others[link.base];
            other.resize(n, 0);
            sums = &other;
        }
        for (int f = from; f <= to; f++) {
            (*sums)[static_cast<size_t>(f - sf)] += link.posterior;
        }
    }
    double most = 0, sum = 0, most_filler = 0, most_other = 0;
    for (size_t f = 0; f < n; f++) {
        most = std::max(most, same[f]);
        sum += same[f];
        most_filler = std::max(most_filler, filler[f]);
    }
    for (const auto & [other, sums] : others) {
        most_other = std::max(most_other, *std::max_element(sums.begin(), sums.end()));
    }
    e.word_posterior = static_cast<float>(std::min(1.0, most));
    e.mean_posterior = static_cast<float>(std::min(1.0, sum / static_cast<double>(n)));
    e.competitor     = static_cast<float>(std::min(1.0, most_other));
    e.filler         = static_cast<float>(std::min(1.0, most_filler));
    return e;
}

} // namespace

std::vector<lattice_link> lattice_links(ps_decoder_t * ps) {
    std::vector<lattice_link> links;
    ps_lattice_t *            dag = ps_get_lattice(ps);
    if (dag == nullptr) {
        return links;
    }
    logmath_t * lmath = ps_get_logmath(ps);
    for (ps_latnode_iter_t * it = ps_latnode_iter(dag); it != nullptr; it = ps_latnode_iter_next(it)) {
        for (ps_latlink_iter_t * li = ps_latnode_exits(ps_latnode_iter_node(it)); li != nullptr;
             li                     = ps_latlink_iter_next(li)) {
            ps_latlink_t * link = ps_latlink_iter_link(li);
            const char *   base = ps_latlink_baseword(dag, link);
            if (base == nullptr) {
                continue;
            }
            int16     first = 0;
            const int last  = ps_latlink_times(link, &first);
            int32     ascr  = 0;
            links.push_back(
                { first, last, base, is_filler(base), probability(lmath, ps_latlink_prob(dag, link, &ascr)) });
        }
    }
    return links;
}

word_evidence word_evidence_of(ps_decoder_t * ps, ps_seg_t * seg, const std::vector<lattice_link> & links) {
    const word_evidence e = lattice_evidence(ps, seg, links);
    if (std::vector<recorded_evidence> * sink = evidence_sink.load(); sink != nullptr) {
        const std::lock_guard<std::mutex> lock(evidence_mutex);
        sink->push_back({ ps_seg_word(seg), e });
    }
    return e;
}

void record_word_evidence(std::vector<recorded_evidence> * sink) {
    evidence_sink.store(sink);
}

} // namespace kelvo_asr
