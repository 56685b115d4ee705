// Per-voice statistics and transforms, and the decoder library's side of adaptation: features computed as
// the decoder computes them, and transforms handed to the decoders as the library's transform file.

#include "engine/adaptation/speaker_adaptation.h"

#include "engine/decoders/decoder_guard.h"
#include "engine/decoders/model_text_file.h"
#include "engine/lexicon/dictionary_lookup.h"

#include <sphinxbase/cmd_ln.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/feat.h>

#include <locale.h>

#include <algorithm>
#include <cstring>
#include <locale>
#include <optional>
#include <sstream>

namespace kelvo_asr {

namespace {

// The variance floor the decoder applies to the same file, so that scores here match its own.
constexpr float variance_floor = 1e-4f;

// Frames of a 10 ms shift over `n` samples, with room for the front end's edges.
size_t frames_for(size_t n_samples) {
    return n_samples / 160 + 8;
}

// The phones of a dictionary entry as indices into the model's phones; empty when the entry is unknown
// or holds a phone that is not speech (silence, noise).
std::vector<size_t> entry_phones(ps_decoder_t * ps, const gaussian_model & model, const std::string & entry) {
    std::vector<size_t>              phones;
    const std::optional<std::string> text = lookup_phones(ps, entry);
    if (!text) {
        return phones;
    }
    std::istringstream in(*text);
    std::string        name;
    while (in >> name) {
        const auto at = std::find(model.phones.begin(), model.phones.end(), name);
        if (at == model.phones.end() || name == "SIL" || name.front() == '+') {
            return {};
        }
        phones.push_back(static_cast<size_t>(at - model.phones.begin()));
    }
    return phones;
}

// The text of the library's transform format for `transforms`, in the classic locale.
std::string mllr_text(const std::vector<mllr_stream_transform> & transforms) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(9);
    text << "1\n" << transforms.size() << "\n";
    for (const mllr_stream_transform & t : transforms) {
        text << t.dim << "\n";
        for (size_t i = 0; i < t.dim; i++) {
            for (size_t j = 0; j < t.dim; j++) {
                text << t.a[i * t.dim + j] << (j + 1 < t.dim ? " " : "\n");
            }
        }
        for (size_t i = 0; i < t.dim; i++) {
            text << t.b[i] << (i + 1 < t.dim ? " " : "\n");
        }
        for (size_t i = 0; i < t.dim; i++) {
            text << "1" << (i + 1 < t.dim ? " " : "\n");
        }
    }
    return text.str();
}

} // namespace

std::vector<mllr_stream_transform> solve_transform(const gaussian_model & model, const gaussian_stats & stats) {
    std::vector<mllr_stream_transform> t;
    for (const mllr_stream_stats & s : transform_stats(model, stats)) {
        t.push_back(solve_mllr(s, adaptation_rule::prior_frames));
    }
    return t;
}

ps_mllr_t * make_mllr(const std::vector<mllr_stream_transform> & transforms, std::string & why_not) {
    // The library reads only from a path.
    const model_text_file file(mllr_text(transforms));
    if (file.path.empty()) {
        why_not = "the transform cannot be handed to the decoder library: " + file.failure;
        return nullptr;
    }
    ps_mllr_t * mllr = nullptr;
    // The library reads numbers with the C library's locale: the classic one on this thread while it reads.
    const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (classic != static_cast<locale_t>(nullptr)) {
        const locale_t previous = uselocale(classic);
        mllr                    = ps_mllr_read(file.path.c_str());
        uselocale(previous);
        freelocale(classic);
    }
    if (mllr == nullptr) {
        why_not = "the decoder library refuses a transform";
    }
    return mllr;
}

std::string feature_rebuild_obstacle(cmd_ln_t * config) {
    if (config == nullptr) {
        return "the decoder settings cannot be read";
    }
    const char * cmn = cmd_ln_str_r(config, "-cmn");
    if (cmn == nullptr ||
        (std::strcmp(cmn, "batch") != 0 && std::strcmp(cmn, "current") != 0 && std::strcmp(cmn, "none") != 0)) {
        return std::string("the model's cepstral mean (-cmn ") + (cmn != nullptr ? cmn : "") +
               ") carries from one utterance to the next";
    }
    const char * agc = cmd_ln_str_r(config, "-agc");
    if (agc == nullptr || (std::strcmp(agc, "none") != 0 && std::strcmp(agc, "max") != 0)) {
        return std::string("the model's gain control (-agc ") + (agc != nullptr ? agc : "") +
               ") carries from one utterance to the next";
    }
    const char * lda = cmd_ln_str_r(config, "-lda");
    if (lda != nullptr && *lda != '\0') {
        return "the model transforms its features (-lda)";
    }
    return {};
}

void prepare_adaptation(speaker_adaptation & adaptation, const std::string & folder, cmd_ln_t * config) {
    adaptation = {};
    std::string error;
    if (!read_gaussian_model(folder, variance_floor, adaptation.model, error)) {
        adaptation.off_reason = "the acoustic model cannot be read for adaptation: " + error;
        return;
    }
    adaptation.off_reason = feature_rebuild_obstacle(config);
    if (!adaptation.off_reason.empty()) {
        return;
    }
    // The model's own means, made now so that they can always be set back.
    std::vector<mllr_stream_transform> identity;
    for (const size_t len : adaptation.model.stream_len) {
        identity.push_back(identity_transform(len));
    }
    ps_mllr_t * own = make_mllr(identity, adaptation.off_reason);
    if (own == nullptr) {
        return;
    }
    adaptation.identity  = std::shared_ptr<ps_mllr_t>(own, ps_mllr_free);
    adaptation.available = true;
}

evidence_outcome piece_evidence_of(ps_decoder_t * ps, const gaussian_model & model, const int16_t * pcm,
                                   size_t n_samples, const int16_t * warm_up, size_t n_warm_up,
                                   const std::vector<word_frames> & words, piece_evidence & evidence) {
    evidence = {};
    std::vector<word_span> spans;
    for (const word_frames & w : words) {
        word_span span{ entry_phones(ps, model, w.entry), w.first, w.last };
        if (!span.phones.empty()) {
            spans.push_back(std::move(span));
        }
    }
    if (spans.empty()) {
        return evidence_outcome::gathered;
    }
    fe_t *                fe       = ps_get_fe(ps);
    cmd_ln_t *            config   = ps_get_config(ps);
    const auto            width    = static_cast<size_t>(fe_get_output_size(fe));
    const size_t          n_warm   = frames_for(n_warm_up);
    const size_t          n_frames = frames_for(n_samples);
    std::vector<mfcc_t>   warm_cep(n_warm * width);
    std::vector<mfcc_t>   cep(n_frames * width);
    std::vector<mfcc_t *> warm_rows(n_warm);
    std::vector<mfcc_t *> rows(n_frames);
    for (size_t f = 0; f < n_warm; f++) {
        warm_rows[f] = warm_cep.data() + f * width;
    }
    for (size_t f = 0; f < n_frames; f++) {
        rows[f] = cep.data() + f * width;
    }
    // Every frame of the piece makes one feature vector: room for all of them before the guarded call, which
    // holds nothing but library calls.
    std::vector<float> features(n_frames * model.feature_len);
    int32              n_out = 0;
    bool               ok    = false;
    // The decoder's own sequence: a new stream, the warm-up as an utterance of its own, then the piece whole.
    const bool completed = run_guarded([&] {
        fe_start_stream(fe);
        const int16 * in   = warm_up;
        size_t        left = n_warm_up;
        int32         got  = static_cast<int32>(n_warm);
        ok                 = fe_start_utt(fe) >= 0;
        if (ok && n_warm_up > 0) {
            ok = fe_process_frames(fe, &in, &left, warm_rows.data(), &got, nullptr) >= 0 &&
                 fe_end_utt(fe, warm_rows[0], &got) >= 0;
        }
        in           = pcm;
        left         = n_samples;
        int32 n_cep  = static_cast<int32>(n_frames) - 1;
        int32 n_tail = 0;
        ok = ok && fe_start_utt(fe) >= 0 && fe_process_frames(fe, &in, &left, rows.data(), &n_cep, nullptr) >= 0 &&
             n_cep < static_cast<int32>(n_frames) && fe_end_utt(fe, rows[static_cast<size_t>(n_cep)], &n_tail) >= 0;
        if (!ok) {
            return;
        }
        n_cep += n_tail;
        feat_t * feat = feat_init(cmd_ln_str_r(config, "-feat"), cmn_type_from_str(cmd_ln_str_r(config, "-cmn")),
                                  cmd_ln_boolean_r(config, "-varnorm"), agc_type_from_str(cmd_ln_str_r(config, "-agc")),
                                  0, cmd_ln_int32_r(config, "-ceplen"));
        if (feat == nullptr) {
            ok = false;
            return;
        }
        if (static_cast<size_t>(feat_dimension(feat)) != model.feature_len || n_cep <= 0) {
            ok = false;
            feat_free(feat);
            return;
        }
        mfcc_t *** out = feat_array_alloc(feat, n_cep);
        int32      n   = n_cep;
        n_out          = std::min(feat_s2mfc2feat_live(feat, rows.data(), &n, TRUE, TRUE, out), n_cep);
        for (int32 t = 0; t < n_out; t++) {
            std::copy(out[t][0], out[t][0] + model.feature_len,
                      features.data() + static_cast<size_t>(t) * model.feature_len);
        }
        feat_array_free(out);
        feat_free(feat);
    });
    if (!completed) {
        return evidence_outcome::faulted;
    }
    // The decoder counts one frame more than it scored.
    if (!ok || n_out + 1 != ps_get_n_frames(ps)) {
        return evidence_outcome::none;
    }
    features.resize(static_cast<size_t>(n_out) * model.feature_len);
    evidence.features = std::move(features);
    evidence.n_frames = n_out;
    evidence.words    = std::move(spans);
    return evidence_outcome::gathered;
}

void update_voice(const gaussian_model & model, voice_state & voice) {
    if (voice.declined) {
        return;
    }
    const bool             from_heard = voice.heard.frames >= voice.learned.frames;
    const gaussian_stats & from       = from_heard ? voice.heard : voice.learned;
    if (from.frames < adaptation_rule::min_frames) {
        return;
    }
    if (!voice.transform.empty() && from_heard == voice.solved_from_heard &&
        from.frames < voice.solved_frames + voice.solved_frames / 2) {
        return;
    }
    if (!from_heard) {
        // A transform that does not carry over to the voice's next words (a reader the model already fits
        // well) lost words to the model's own means: the check is on words it was not learnt from.
        int64_t held = 0;
        if (voice.transform.empty() && held_back_gain(model, voice.listened, held) < held_back_rule::min_gain &&
            held > 0) {
            voice.declined = true;
            voice.listened.clear();
            return;
        }
        voice.transform = listened_transform(model, from, voice.listened);
    } else {
        voice.transform = solve_transform(model, from);
    }
    voice.solved_frames     = from.frames;
    voice.solved_from_heard = from_heard;
    voice.listened.clear(); // no longer needed: a voice listens only until its first transform
    voice.version++;
}

bool adaptation_on(const speaker_adaptation & adaptation) {
    return adaptation.available;
}

std::string take_off_reason(speaker_adaptation & adaptation) {
    if (adaptation.available || adaptation.off_reported || adaptation.off_reason.empty()) {
        return {};
    }
    adaptation.off_reported = true;
    return adaptation.off_reason;
}

bool voice_has_transform(const speaker_adaptation & adaptation, const std::string & voice) {
    const auto known = adaptation.voices.find(voice);
    return known != adaptation.voices.end() && !known->second.transform.empty();
}

bool voice_settled(const speaker_adaptation & adaptation, const std::string & voice) {
    const auto known = adaptation.voices.find(voice);
    return known != adaptation.voices.end() && (!known->second.transform.empty() || known->second.declined);
}

int64_t frames_to_learn(const speaker_adaptation & adaptation, const std::string & voice) {
    const auto known = adaptation.voices.find(voice);
    return adaptation_rule::min_frames - (known == adaptation.voices.end() ? 0 : known->second.learned.frames);
}

} // namespace kelvo_asr
