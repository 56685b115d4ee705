// The transform learnt from a voice's listened words, and the check of a first transform on listened words
// it was not learnt from.

#include "engine/adaptation/held_back_check.h"

#include "engine/adaptation/speaker_adaptation.h"

namespace kelvo_asr {

std::vector<mllr_stream_transform> listened_transform(const gaussian_model & model, const gaussian_stats & stats,
                                                      const std::vector<piece_evidence> & listened) {
    std::vector<mllr_stream_transform> t = solve_transform(model, stats);
    for (int k = 1; k < adaptation_rule::listened_solves; k++) {
        t = solve_transform(model, evidence_stats(transformed_model(model, t), listened));
    }
    return t;
}

double held_back_gain(const gaussian_model & model, const std::vector<piece_evidence> & listened, int64_t & frames) {
    frames        = 0;
    int64_t total = 0;
    for (const piece_evidence & p : listened) {
        for (const word_span & w : p.words) {
            total += w.last - w.first + 1;
        }
    }
    // Whole words, in order, up to the share's boundary learn; the words from it on are held back. Both
    // parts keep each piece's features, so that the words' frames stay where they are.
    const int64_t               boundary = total - total / held_back_rule::share;
    std::vector<piece_evidence> learn;
    std::vector<piece_evidence> held;
    int64_t                     seen = 0;
    for (const piece_evidence & p : listened) {
        piece_evidence before{ p.features, p.n_frames, {} };
        piece_evidence after{ {}, p.n_frames, {} };
        for (const word_span & w : p.words) {
            (seen < boundary ? before : after).words.push_back(w);
            seen += w.last - w.first + 1;
        }
        if (!after.words.empty()) {
            after.features = p.features;
            held.push_back(std::move(after));
        }
        if (!before.words.empty()) {
            learn.push_back(std::move(before));
        }
    }
    if (learn.empty() || held.empty()) {
        return 0;
    }
    const gaussian_model adapted =
        transformed_model(model, listened_transform(model, evidence_stats(model, learn), learn));
    double  own    = 0;
    double  gained = 0;
    int64_t scored = 0;
    for (const piece_evidence & p : held) {
        own += words_log_likelihood(model, p, frames);
        gained += words_log_likelihood(adapted, p, scored);
    }
    // Both count the same words: a word aligns under any means when it has frames for its states.
    return frames > 0 ? (gained - own) / static_cast<double>(frames) : 0;
}

} // namespace kelvo_asr
