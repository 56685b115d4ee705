// Which means the decoders hold: each decoder is set to the transform of the voice it is about to decode,
// and left alone when it holds it already, since setting a transform costs a pass over every mean.

#include "engine/adaptation/speaker_adaptation.h"

#include "engine/decoders/decoder_guard.h"

namespace kelvo_asr {

void forget_decoders(speaker_adaptation & adaptation) {
    adaptation.installed_version = -1;
}

std::shared_ptr<ps_mllr_t> voice_means(speaker_adaptation & adaptation, const std::string & name, bool as_voice,
                                       bool & own) {
    const auto          known = as_voice ? adaptation.voices.find(name) : adaptation.voices.end();
    const voice_state * voice = known == adaptation.voices.end() ? nullptr : &known->second;
    own                       = voice == nullptr || voice->transform.empty() || !adaptation.available;
    if (own) {
        return adaptation.identity;
    }
    ps_mllr_t * made = make_mllr(voice->transform, adaptation.off_reason);
    if (made == nullptr) {
        // Given up for every decoder at once: all of them go back to the model's own means.
        adaptation.available = false;
        own                  = true;
        return adaptation.identity;
    }
    return { made, ps_mllr_free };
}

job_outcome set_decoder_means(ps_decoder_t * d, const std::shared_ptr<ps_mllr_t> & mllr) {
    if (!mllr) {
        return { false, false, "the decoder could not be adapted to the voice" };
    }
    ps_mllr_t * ref    = ps_mllr_retain(mllr.get());
    ps_mllr_t * result = nullptr;
    if (!run_guarded([&] { result = ps_update_mllr(d, ref); })) {
        return { false, true, decoder_fault_text }; // the reference it was given is left with it
    }
    if (result == nullptr) {
        return { false, false, "the decoder could not be adapted to the voice" };
    }
    return {};
}

void forget_installed_means(speaker_adaptation & adaptation) {
    adaptation.installed_version = -2;
}

} // namespace kelvo_asr
