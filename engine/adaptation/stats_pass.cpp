// A pass's statistics: gathered piece by piece on the pass's threads, added to the voice's in a fixed
// order, and turned into the voice's transform when the pass ends.

#include "engine/adaptation/speaker_adaptation.h"

namespace kelvo_asr {

namespace {

// Sets up what every pass keeps, for the voice's statistics `into`.
void start_pass(stats_pass & pass, const std::string & voice, const std::vector<size_t> & which, size_t n_pieces,
                gaussian_stats & into) {
    pass.voice = voice;
    pass.which = which;
    pass.position.assign(n_pieces, 0);
    for (size_t i = 0; i < which.size(); i++) {
        pass.position[which[i]] = i;
    }
    pass.finished.assign(which.size(), 0);
    pass.folded = 0;
    pass.stats.assign(n_pieces, {});
    pass.evidence.assign(n_pieces, {});
    pass.into = &into;
}

} // namespace

void start_listening(stats_pass & pass, speaker_adaptation & adaptation, const std::string & voice,
                     const std::vector<size_t> & which, size_t n_pieces) {
    voice_state & state = adaptation.voices[voice];
    start_pass(pass, voice, which, n_pieces, state.learned);
    pass.listening = true;
    pass.adapted.reset();
}

bool start_hearing(stats_pass & pass, speaker_adaptation & adaptation, const std::string & voice,
                   const std::vector<size_t> & which, size_t n_pieces) {
    voice_state & state = adaptation.voices[voice];
    // Statistics are gathered until the voice's transform has settled; a declined voice gathers none.
    if (state.declined || state.heard.frames >= adaptation_rule::max_frames) {
        return false;
    }
    start_pass(pass, voice, which, n_pieces, state.heard);
    pass.listening = false;
    // Posteriors are taken under the means the pieces are decoded with.
    pass.adapted.reset();
    if (!state.transform.empty()) {
        pass.adapted = transformed_model(adaptation.model, state.transform);
    }
    return true;
}

evidence_outcome gather_piece(stats_pass & pass, const speaker_adaptation & adaptation, ps_decoder_t * ps, size_t k,
                              const piece_audio & audio, const std::vector<word_frames> & words) {
    const gaussian_model & scoring = pass.adapted ? *pass.adapted : adaptation.model;
    pass.stats[k]                  = empty_gaussian_stats(adaptation.model);
    const evidence_outcome found   = piece_evidence_of(ps, adaptation.model, audio.pcm, audio.n_samples, audio.warm_up,
                                                       audio.n_warm_up, words, pass.evidence[k]);
    if (found == evidence_outcome::faulted) {
        return found;
    }
    if (found == evidence_outcome::gathered) {
        accumulate_words(scoring, pass.evidence[k].features.data(), pass.evidence[k].n_frames, pass.evidence[k].words,
                         pass.stats[k]);
    }
    if (!pass.listening) {
        pass.evidence[k] = {}; // kept only while a voice listens
    }
    const std::lock_guard<std::mutex> lock(pass.mutex);
    pass.finished[pass.position[k]] = 1;
    for (; pass.folded < pass.which.size() && pass.finished[pass.folded] != 0; pass.folded++) {
        add_stats(*pass.into, pass.stats[pass.which[pass.folded]]);
        pass.stats[pass.which[pass.folded]] = {};
    }
    return found;
}

void end_pass(stats_pass & pass, speaker_adaptation & adaptation) {
    voice_state & state = adaptation.voices[pass.voice];
    if (pass.listening) {
        for (const size_t k : pass.which) {
            state.listened.push_back(std::move(pass.evidence[k]));
        }
    }
    update_voice(adaptation.model, state);
}

} // namespace kelvo_asr
