// A piece is decoded with nothing carried from the piece before: the cepstral mean comes from the piece,
// the noise estimate from the piece and the audio just before it, so its words are the same whichever
// decoder or thread decodes it.

#include "engine/piece_decoding.h"

#include "engine/decoders/decoder_guard.h"
#include "engine/decoders/language_model.h"
#include "engine/decoders/word_confidence.h"
#include "engine/lexicon/word_text.h"

#include <sphinxbase/fe.h>

namespace kelvo_asr {

namespace {

// Sentence marks, silence and bracketed noise words are not words of the text.
bool is_noise_word(const std::string & w) {
    if (w == "<s>" || w == "</s>" || w == "<sil>") {
        return true;
    }
    return w.size() >= 2 && ((w.front() == '[' && w.back() == ']') || (w.front() == '+' && w.back() == '+'));
}

} // namespace

job_outcome decode_piece(ps_decoder_t * ps, const piece_audio & audio, bool keep_noise_words, bool posteriors,
                         std::vector<heard_word> & words) {
    // The warm-up's cepstra are computed only for the noise estimate they leave behind, then dropped.
    fe_t *                fe       = ps_get_fe(ps);
    const auto            width    = static_cast<size_t>(fe_get_output_size(fe));
    const size_t          n_frames = audio.n_warm_up / pause_rule::frame_samples + 2;
    std::vector<mfcc_t>   cepstra(n_frames * width);
    std::vector<mfcc_t *> rows(n_frames);
    for (size_t f = 0; f < n_frames; f++) {
        rows[f] = cepstra.data() + f * width;
    }
    bool       ok        = false;
    const bool completed = run_guarded([&] {
        ok = ps_start_stream(ps) >= 0;
        if (ok && audio.n_warm_up > 0) {
            const int16 * in   = audio.warm_up;
            size_t        left = audio.n_warm_up;
            int32         got  = static_cast<int32>(n_frames);
            ok = fe_start_utt(fe) >= 0 && fe_process_frames(fe, &in, &left, rows.data(), &got, nullptr) >= 0 &&
                 fe_end_utt(fe, rows[0], &got) >= 0;
        }
        ok = ok && ps_start_utt(ps) >= 0;
        if (ok) {
            const bool processed = ps_process_raw(ps, audio.pcm, audio.n_samples, FALSE, TRUE) >= 0;
            ok                   = ps_end_utt(ps) >= 0 && processed;
        }
    });
    if (!completed) {
        return { false, true, decoder_fault_text };
    }
    if (!ok) {
        return { false, false, "the decoder failed on the audio" };
    }
    // The lattice is read once for all the piece's words (the best path's segments compute its posteriors).
    ps_seg_t *                      first = ps_seg_iter(ps);
    const std::vector<lattice_link> links =
        posteriors && first != nullptr ? lattice_links(ps) : std::vector<lattice_link>{};
    for (ps_seg_t * seg = first; seg != nullptr; seg = ps_seg_next(seg)) {
        const char * raw = ps_seg_word(seg);
        if (raw == nullptr) {
            continue;
        }
        const std::string word = strip_alternative_suffix(raw);
        // Hesitations are heard so that they do not become short words of the text; their place is left
        // empty for the fillers of an extra-words file, which are restored there.
        if (!keep_noise_words && (is_noise_word(word) || is_hesitation(word))) {
            continue;
        }
        int sf = 0;
        int ef = 0;
        ps_seg_frames(seg, &sf, &ef);
        words.push_back({ word, sf, ef, raw, posteriors ? word_evidence_of(ps, seg, links) : word_evidence{} });
    }
    return {};
}

} // namespace kelvo_asr
