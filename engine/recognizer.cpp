// Speech recognition: a segment is cleaned of noise when it is noisy, cut at its pauses into pieces, and each
// piece is decoded as an utterance of its own by one decoder of a pool, on as many threads as the caller
// allows. Nothing carries from one piece to the next (the cepstral mean comes from the piece, the noise
// estimate from the piece and the audio just before it), so the words are the same whichever decoder,
// thread or order decodes a piece.

#include "engine/adaptation/speaker_adaptation.h"
#include "engine/audio/noise_suppressor.h"
#include "engine/audio/pause_cutter.h"
#include "engine/audio/samples.h"
#include "engine/decoders/confidence_calibration.h"
#include "engine/decoders/decoder_config.h"
#include "engine/decoders/decoder_guard.h"
#include "engine/decoders/decoder_pool.h"
#include "engine/decoders/language_model.h"
#include "engine/decoders/word_confidence.h"
#include "engine/kelvo_asr.h"
#include "engine/lexicon/vocabulary_model.h"
#include "engine/lexicon/word_text.h"

#include <sphinxbase/fe.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

namespace kelvo_asr {

namespace {

// Sentence marks, silence and bracketed noise words are not words of the text.
bool is_noise_word(const std::string & w) {
    if (w == "<s>" || w == "</s>" || w == "<sil>") {
        return true;
    }
    return w.size() >= 2 && ((w.front() == '[' && w.back() == ']') || (w.front() == '+' && w.back() == '+'));
}

// Samples over which a decoder's noise estimate is brought to a piece's surroundings before the piece:
// long enough for the estimate to settle, short enough to stay local.
constexpr int32_t warm_up_samples = 3 * 16000;

// A recognised word of a piece: its text, dictionary entry and frames in the piece.
struct heard_word {
    std::string text;
    int32_t     frame = 0;
    int32_t     last  = 0;
    std::string entry;
    float       posterior = 1; // in the piece's lattice; filled only when asked for
};

// Makes a recognition decoder with its language model and the vocabulary `v` (none when null); nullptr
// with `error` set when the library refuses.
ps_decoder_t * make_recognizer(const model_files & files, const std::string & folder, const prepared_vocabulary * v,
                               std::string & error) {
    ps_decoder_t * ps = load_decoder(make_recognition_config(files), folder, error);
    if (ps == nullptr) {
        return nullptr;
    }
    // The in-memory models are made first: the guarded call holds only calls into the library.
    const model_text_file hesitations(hesitation_model_text());
    const model_text_file vocabulary(v == nullptr ? std::string() : v->model_text);
    bool                  ready     = false;
    const bool            completed = run_guarded([&] {
        // The vocabulary's words join the dictionary before the search is made from it.
        ngram_model_t * lm = v == nullptr || add_vocabulary_words(ps, *v)
                                            ? read_language_model(ps, files.language_model, hesitations, vocabulary,
                                                       v == nullptr ? 0.0 : vocabulary_weight)
                                            : nullptr;
        ready = lm != nullptr && ps_set_lm(ps, "words", lm) >= 0 && ps_set_search(ps, "words") >= 0;
        if (lm != nullptr) {
            ngram_model_free(lm); // the search holds its own reference
        }
    });
    if (!completed) {
        error = fault_was_out_of_memory() ? "ran out of memory while loading the language model in " + folder
                                          : "the decoder stopped on a fault while loading the language model in " +
                                                folder + " (are its files damaged?)";
        return nullptr; // dropped unfreed: its state is unknown
    }
    if (!ready) {
        ps_free(ps);
        error = "the language model " + files.language_model + " could not be read";
        return nullptr;
    }
    return ps;
}

// Decodes one piece as a whole utterance. The decoder's noise estimate is first brought to the noise of
// the piece's surroundings by running its front end, without decoding, over `warm_up` samples; a new
// stream makes it forget every piece before.
job_outcome decode_piece(ps_decoder_t * ps, const int16_t * pcm, size_t n_samples, const int16_t * warm_up,
                         size_t n_warm_up, bool keep_noise_words, bool posteriors, std::vector<heard_word> & words) {
    // The warm-up's cepstra are computed only for the noise estimate they leave behind, then dropped.
    fe_t *                fe       = ps_get_fe(ps);
    const auto            width    = static_cast<size_t>(fe_get_output_size(fe));
    const size_t          n_frames = n_warm_up / pause_rule::frame_samples + 2;
    std::vector<mfcc_t>   cepstra(n_frames * width);
    std::vector<mfcc_t *> rows(n_frames);
    for (size_t f = 0; f < n_frames; f++) {
        rows[f] = cepstra.data() + f * width;
    }
    bool       ok        = false;
    const bool completed = run_guarded([&] {
        ok = ps_start_stream(ps) >= 0;
        if (ok && n_warm_up > 0) {
            const int16 * in   = warm_up;
            size_t        left = n_warm_up;
            int32         got  = static_cast<int32>(n_frames);
            ok = fe_start_utt(fe) >= 0 && fe_process_frames(fe, &in, &left, rows.data(), &got, nullptr) >= 0 &&
                 fe_end_utt(fe, rows[0], &got) >= 0;
        }
        ok = ok && ps_start_utt(ps) >= 0;
        if (ok) {
            const bool processed = ps_process_raw(ps, pcm, n_samples, FALSE, TRUE) >= 0;
            ok                   = ps_end_utt(ps) >= 0 && processed;
        }
    });
    if (!completed) {
        return { false, true, decoder_fault_text };
    }
    if (!ok) {
        return { false, false, "the decoder failed on the audio" };
    }
    for (ps_seg_t * seg = ps_seg_iter(ps); seg != nullptr; seg = ps_seg_next(seg)) {
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
        words.push_back({ word, sf, ef, raw, posteriors ? word_posterior(ps, seg) : 1.0f });
    }
    return {};
}

// The pieces one voice speaks, and the name its adaptation is kept under.
struct voice_group {
    std::string         name;
    std::vector<size_t> pieces; // in order
};

// Groups the pieces by the found voice that speaks most of each (the nearest stretch's for a piece that
// meets none), in the order of the voices' first pieces; every piece in one group named `speaker` when no
// voices are given. Found voices are named apart from any one-byte turn label.
std::vector<voice_group> group_by_voice(const std::vector<speech_piece> & pieces, const std::string & speaker,
                                        const std::vector<voice_stretch> & voices) {
    std::vector<voice_group> groups;
    for (size_t k = 0; k < pieces.size(); k++) {
        std::string name = speaker;
        if (!voices.empty()) {
            // The most shared samples; when none are shared, the least apart (a negative overlap).
            const speech_piece & p      = pieces[k];
            int32_t              voice  = 0;
            int64_t              shared = INT64_MIN;
            for (const voice_stretch & v : voices) {
                const int64_t s = static_cast<int64_t>(std::min(p.end, v.end)) - std::max(p.start, v.start);
                if (s > shared) {
                    shared = s;
                    voice  = v.voice;
                }
            }
            name = speaker + "#" + std::to_string(voice);
        }
        auto g = std::find_if(groups.begin(), groups.end(), [&](const voice_group & x) { return x.name == name; });
        if (g == groups.end()) {
            groups.push_back({ name, {} });
            g = groups.end() - 1;
        }
        g->pieces.push_back(k);
    }
    return groups;
}

} // namespace

struct KelvoASR::impl {
    decoder_pool                               pool;
    speaker_adaptation                         adaptation;
    std::string                                language_tag;
    std::string                                error;
    model_files                                files;  // of the loaded model
    std::string                                folder; // of the loaded model; empty when none is loaded
    std::shared_ptr<const prepared_vocabulary> vocabulary;

    // Makes the first decoder of a fresh pool, and how to make more, for the loaded model and vocabulary;
    // false with `why` set when the first cannot be made.
    // The pool in use stays when the first decoder cannot be made.
    bool start_pool(std::string & why) {
        ps_decoder_t * first = make_recognizer(files, folder, vocabulary.get(), why);
        if (first == nullptr) {
            return false;
        }
        release_pool(pool);
        // Fresh decoders hold the model's own means; a freed decoder's address may come back for a new one.
        adaptation.holders.clear();
        adaptation.installed_voice.clear();
        adaptation.installed_version = -1;
        pool.decoders.push_back(first);
        // Later decoders are made from the same files when a call asks for more threads.
        pool.make = [files = files, folder = folder, vocabulary = vocabulary] {
            std::string ignored;
            return make_recognizer(files, folder, vocabulary.get(), ignored);
        };
        return true;
    }

    ~impl() { release_pool(pool); }
};

KelvoASR::KelvoASR() : pimpl(std::make_unique<impl>()) {}

KelvoASR::~KelvoASR() = default;

bool KelvoASR::load_model(const std::string & path) try {
    release_pool(pimpl->pool);
    pimpl->adaptation = {};
    pimpl->language_tag.clear();
    pimpl->folder.clear();
    pimpl->vocabulary.reset();
    model_files files;
    if (!find_model_files(path, files, pimpl->error) || !check_model_files(files, path, true, pimpl->error)) {
        return false;
    }
    pimpl->files  = files;
    pimpl->folder = path;
    if (!pimpl->start_pool(pimpl->error)) {
        pimpl->folder.clear();
        return false;
    }
    pimpl->language_tag = files.language_tag;
    prepare_adaptation(pimpl->adaptation, files.acoustic_model, ps_get_config(pimpl->pool.decoders.front()));
    return true;
} catch (const std::bad_alloc &) {
    release_pool(pimpl->pool);
    pimpl->adaptation = {};
    pimpl->folder.clear();
    pimpl->error = "ran out of memory while loading the model in " + path;
    return false;
}

vocabulary_result KelvoASR::set_vocabulary(const std::string & text) try {
    vocabulary_result result;
    if (pimpl->folder.empty()) {
        result.error = "no speech model is loaded";
        return result;
    }
    // A decoder of the loaded model without a vocabulary serves to look words up and check phones, and is
    // discarded after: the pool's first one when it has none, else one made without a language model.
    std::string    error;
    ps_decoder_t * scratch = nullptr;
    if (!pimpl->vocabulary && !pimpl->pool.decoders.empty()) {
        scratch = pimpl->pool.decoders.front();
        pimpl->pool.decoders.erase(pimpl->pool.decoders.begin());
    } else {
        scratch = load_decoder(make_recognition_config(pimpl->files), pimpl->folder, error);
    }
    if (scratch == nullptr) {
        result.error = error;
        return result;
    }
    // Only the dictionary of a working decoder is touched here: no model data that could fault.
    auto prepared = std::make_shared<prepared_vocabulary>(prepare_vocabulary(scratch, text, result.skipped));
    ps_free(scratch);
    result.n_entries                                  = prepared->n_entries;
    std::shared_ptr<const prepared_vocabulary> before = std::move(pimpl->vocabulary);
    pimpl->vocabulary.reset();
    if (prepared->n_entries > 0) {
        pimpl->vocabulary = std::move(prepared);
    }
    if (!pimpl->start_pool(result.error)) {
        pimpl->vocabulary = std::move(before); // the decoders in use were made with it
        return result;
    }
    result.success = true;
    return result;
} catch (const std::bad_alloc &) {
    vocabulary_result result;
    result.error = "the recogniser ran out of memory";
    return result;
}

transcribe_result KelvoASR::transcribe(const float * samples, int32_t n_samples, const transcribe_params & params) try {
    transcribe_result result;
    if (pimpl->folder.empty() || (pimpl->pool.decoders.empty() && !pimpl->pool.make)) {
        result.error = "no speech model is loaded";
        return result;
    }
    result.language = params.language.empty() ? pimpl->language_tag : params.language;
    if (samples == nullptr || n_samples <= 0 || rms_energy(samples, n_samples) < silence_energy_floor) {
        // Decoding digital silence invents words; there is nothing to recognise.
        result.success = true;
        return result;
    }
    speaker_adaptation & adaptation = pimpl->adaptation;
    // Said once per model, to the first call that asks for adaptation after it was found off.
    auto report_off = [&] {
        if (params.adapt && !adaptation.available && !adaptation.off_reported && !adaptation.off_reason.empty()) {
            result.adaptation_off   = adaptation.off_reason;
            adaptation.off_reported = true;
        }
    };
    report_off();
    // The cut is made on the samples as given: on cleaned ones it came out no better.
    const std::vector<speech_piece> pieces = cut_at_pauses(samples, n_samples);
    const std::vector<voice_group>  groups = group_by_voice(pieces, params.speaker, params.voices);
    if (params.listen_only) {
        const bool learned = std::all_of(groups.begin(), groups.end(), [&](const voice_group & g) {
            const auto known = adaptation.voices.find(g.name);
            return known != adaptation.voices.end() && !known->second.transform.empty();
        });
        if (!params.adapt || !adaptation.available || learned) {
            result.success = true; // nothing left to learn
            return result;
        }
    }
    if (pieces.empty()) {
        result.success = true; // noise without speech
        return result;
    }
    // Cleaned once, here, so that every piece sees the same samples whatever thread decodes it.
    const std::vector<int16_t> pcm = clean_segment(samples, n_samples, params.denoise);

    const bool                           adapting = params.adapt && adaptation.available;
    std::vector<std::vector<heard_word>> heard(pieces.size());
    std::vector<piece_evidence>          evidence(adapting ? pieces.size() : 0);
    std::vector<gaussian_stats>          stats(adapting ? pieces.size() : 0);

    // Decodes the pieces `which` (in order), longest first so that the threads finish close together, with
    // the decoders set to the transform of `as_voice` (named `name`). With `fold_into`, gathers each piece's
    // statistics and adds them to it in the order of `which` as soon as every piece before is added, then
    // lets them go: a long call holds a few pieces' statistics, and the sums are the same for any threads.
    auto decode = [&](const std::vector<size_t> & which, const std::string & name, const voice_state * as_voice,
                      gaussian_stats * fold_into) -> job_outcome {
        const bool          gather = fold_into != nullptr;
        std::vector<size_t> order  = which;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return pieces[a].end - pieces[a].start > pieces[b].end - pieces[b].start;
        });
        decoder_pool & pool = pimpl->pool;
        const auto     make = pool.make;
        if (adaptation.available) {
            // Every decoder the call will use is made first, so that all of them hold the same means.
            const size_t wanted = usable_threads(params.n_threads, order.size());
            while (pool.decoders.size() < wanted && pool.make) {
                ps_decoder_t * d = pool.make();
                if (d == nullptr) {
                    break;
                }
                pool.decoders.push_back(d);
            }
            pool.make             = nullptr;
            job_outcome installed = install_voice(pool, adaptation, name, as_voice);
            if (!installed.ok) {
                pool.make = make;
                return installed;
            }
        }
        // Posteriors are taken under the means the pieces are decoded with.
        std::optional<gaussian_model> adapted;
        if (gather && as_voice != nullptr && !as_voice->transform.empty()) {
            adapted = transformed_model(adaptation.model, as_voice->transform);
        }
        const gaussian_model & scoring = adapted ? *adapted : adaptation.model;
        std::vector<size_t>    position(pieces.size(), 0); // of each piece in `which`
        for (size_t i = 0; i < which.size(); i++) {
            position[which[i]] = i;
        }
        std::mutex        fold_mutex;
        std::vector<char> finished(which.size(), 0);
        size_t            folded = 0;
        route_decoder_log(params.print_log);
        job_outcome outcome = run_jobs(pool, params.n_threads, order, [&](ps_decoder_t * ps, size_t k) {
            const speech_piece & p = pieces[k];
            // The warm-up: the stretch of the segment that ends where the piece starts, or the segment's start.
            const int32_t n_warm    = std::min(warm_up_samples, n_samples);
            const int32_t warm_from = std::max(0, p.start - n_warm);
            const int32_t warm_to   = std::max(p.start, n_warm);
            heard[k].clear();
            job_outcome done = decode_piece(ps, pcm.data() + p.start, static_cast<size_t>(p.end - p.start),
                                            pcm.data() + warm_from, static_cast<size_t>(warm_to - warm_from),
                                            params.keep_noise_words, params.word_confidence, heard[k]);
            if (done.ok && gather) {
                std::vector<word_frames> words;
                for (const heard_word & w : heard[k]) {
                    words.push_back({ w.entry, w.frame, w.last });
                }
                stats[k]                     = empty_gaussian_stats(adaptation.model);
                const evidence_outcome found = piece_evidence_of(
                    ps, adaptation.model, pcm.data() + p.start, static_cast<size_t>(p.end - p.start),
                    pcm.data() + warm_from, static_cast<size_t>(warm_to - warm_from), words, evidence[k]);
                if (found == evidence_outcome::faulted) {
                    return job_outcome{ false, true, decoder_fault_text };
                }
                if (found == evidence_outcome::gathered) {
                    accumulate_words(scoring, evidence[k].features.data(), evidence[k].n_frames, evidence[k].words,
                                     stats[k]);
                }
                if (!params.listen_only) {
                    evidence[k] = {}; // kept only while a voice listens
                }
                const std::lock_guard<std::mutex> lock(fold_mutex);
                finished[position[k]] = 1;
                for (; folded < which.size() && finished[folded] != 0; folded++) {
                    add_stats(*fold_into, stats[which[folded]]);
                    stats[which[folded]] = {};
                }
            }
            return done;
        });
        route_decoder_log(false);
        pool.make = make;
        return outcome;
    };

    if (params.listen_only) {
        // Decodes blocks of each voice's pieces from the start until it has a transform or its pieces end.
        for (const voice_group & g : groups) {
            voice_state & voice = adaptation.voices[g.name];
            size_t        next  = 0;
            while (voice.transform.empty() && next < g.pieces.size()) {
                const int64_t       needed = adaptation_rule::min_frames - voice.learned.frames;
                std::vector<size_t> block;
                int64_t             frames = 0;
                while (next < g.pieces.size() && (block.empty() || frames < needed)) {
                    const speech_piece & p = pieces[g.pieces[next]];
                    frames += (p.end - p.start) / pause_rule::frame_samples;
                    block.push_back(g.pieces[next++]);
                }
                const job_outcome outcome = decode(block, g.name, nullptr, &voice.learned);
                if (!outcome.ok) {
                    result.error = outcome.error;
                    return result;
                }
                for (const size_t k : block) {
                    voice.listened.push_back(std::move(evidence[k]));
                }
                update_voice(adaptation.model, voice);
            }
        }
        report_off();
        result.success = true;
        return result;
    }

    for (const voice_group & g : groups) {
        voice_state * voice = adapting ? &adaptation.voices[g.name] : nullptr;
        // Statistics are gathered until the voice's transform has settled.
        const bool        gather  = voice != nullptr && voice->heard.frames < adaptation_rule::max_frames;
        const job_outcome outcome = decode(g.pieces, g.name, voice, gather ? &voice->heard : nullptr);
        if (!outcome.ok) {
            result.error = outcome.error;
            return result;
        }
        if (gather) {
            update_voice(adaptation.model, *voice);
        }
    }
    for (size_t k = 0; k < pieces.size(); k++) {
        const int32_t first_frame = pieces[k].start / pause_rule::frame_samples;
        for (const heard_word & w : heard[k]) {
            result.text += (result.text.empty() ? "" : " ") + w.text;
            result.word_frames.push_back(first_frame + w.frame);
            if (params.word_confidence) {
                result.word_posterior.push_back(w.posterior);
                result.word_confidence.push_back(calibrated_confidence(w.posterior));
            }
        }
    }
    report_off();
    result.success = true;
    return result;
} catch (const std::bad_alloc &) {
    transcribe_result result;
    result.error = "the recogniser ran out of memory";
    return result;
}

const std::string & KelvoASR::last_error() const {
    return pimpl->error;
}

} // namespace kelvo_asr
