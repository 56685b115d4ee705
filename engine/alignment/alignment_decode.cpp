// One decoding pass of the alignment grammar, and where its words fell.

#include "engine/alignment/alignment.h"
#include "engine/alignment/subsequence.h"
#include "engine/decoders/decoder_guard.h"
#include "engine/lexicon/word_text.h"

#include <algorithm>

namespace kelvo_asr {

namespace {

// A word of the grammar as decoded.
struct decoded_word {
    std::string name;
    int         sf = 0;
    int         ef = 0;
};

std::vector<decoded_word> decoded_words(ps_decoder_t * ps) {
    std::vector<decoded_word> seq;
    if (ps_get_hyp(ps, nullptr) == nullptr) {
        return seq;
    }
    for (ps_seg_t * seg = ps_seg_iter(ps); seg != nullptr; seg = ps_seg_next(seg)) {
        const char *      raw  = ps_seg_word(seg);
        const std::string name = raw == nullptr ? "" : strip_alternative_suffix(raw);
        if (is_alignment_filler(name)) {
            continue;
        }
        int sf = 0;
        int ef = 0;
        ps_seg_frames(seg, &sf, &ef);
        seq.push_back({ name, sf, ef });
    }
    return seq;
}

} // namespace

decode_status decode_alignment(ps_decoder_t * ps, const std::vector<int16_t> & pcm,
                               const std::vector<const text_word *> & words, alignment_pass pass,
                               std::vector<placement> & where, bool & complete) {
    where.assign(words.size(), placement{});
    complete     = false;
    bool decoded = false;
    if (!run_guarded([&] {
            decoded = set_alignment_grammar(ps, words, pass) && ps_start_utt(ps) >= 0;
            if (decoded) {
                // The utterance is ended even when processing fails, so that the next call can start one.
                const bool processed = ps_process_raw(ps, pcm.data(), pcm.size(), FALSE, TRUE) >= 0;
                decoded              = ps_end_utt(ps) >= 0 && processed;
            }
        })) {
        return decode_status::faulted;
    }
    if (!decoded) {
        return decode_status::failed;
    }
    const std::vector<decoded_word> seq     = decoded_words(ps);
    auto                            matches = [&](size_t slot, size_t j) {
        const std::vector<std::string> & names = words[slot]->names;
        return std::find(names.begin(), names.end(), seq[j].name) != names.end();
    };
    if (seq.size() == words.size()) {
        bool all = true;
        for (size_t i = 0; i < seq.size() && all; i++) {
            all = matches(i, i);
        }
        if (all) {
            for (size_t i = 0; i < seq.size(); i++) {
                where[i] = { true, seq[i].sf, seq[i].ef };
            }
            complete = true;
            return decode_status::ok;
        }
    }
    if (!pass.may_skip) {
        return decode_status::ok;
    }
    // The decoded words are a subsequence of the grammar's: line them up.
    for (const auto & [i, j] : longest_common_subsequence(words.size(), seq.size(), matches)) {
        where[i] = { true, seq[j].sf, seq[j].ef };
    }
    return decode_status::ok;
}

} // namespace kelvo_asr
