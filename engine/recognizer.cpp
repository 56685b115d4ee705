// Speech recognition: a segment is cleaned of noise when it is noisy, cut at its pauses into pieces, and each
// piece is decoded as an utterance of its own by one decoder of a pool, on as many threads as the caller
// allows (see recognition_passes.h for the passes, piece_decoding.h for one piece).

#include "engine/adaptation/speaker_adaptation.h"
#include "engine/audio/noise_suppressor.h"
#include "engine/audio/pause_cutter.h"
#include "engine/audio/samples.h"
#include "engine/decoders/confidence_calibration.h"
#include "engine/decoders/decoder_config.h"
#include "engine/decoders/decoder_guard.h"
#include "engine/decoders/decoder_pool.h"
#include "engine/decoders/language_model.h"
#include "engine/kelvo_asr.h"
#include "engine/lexicon/vocabulary_model.h"
#include "engine/recognition_passes.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

namespace kelvo_asr {

namespace {

// Makes a recognition decoder with its language model and the vocabulary `v` (none when null); nullptr
// with `error` set when the library refuses. `hesitations_off` says why the hesitation model was left out,
// where it was.
ps_decoder_t * make_recognizer(const model_files & files, const std::string & folder, const prepared_vocabulary * v,
                               std::string & error, std::string & hesitations_off) {
    ps_decoder_t * ps = load_decoder(make_recognition_config(files), folder, error);
    if (ps == nullptr) {
        return nullptr;
    }
    // The in-memory models are made first: the guarded call holds only calls into the library.
    const model_text_file hesitations(hesitation_model_text());
    const model_text_file vocabulary(v == nullptr ? std::string() : v->model_text);
    if (hesitations.path.empty()) {
        hesitations_off = "the hesitation model cannot be handed to the decoder library: " + hesitations.failure;
    }
    bool       ready     = false;
    const bool completed = run_guarded([&] {
        // The vocabulary's words join the dictionary before the search is made from it.
        ngram_model_t * lm = v == nullptr || add_vocabulary_words(ps, *v)
                                 ? read_language_model(ps, files.language_model, hesitations, vocabulary,
                                                       v == nullptr ? 0.0 : vocabulary_weight)
                                 : nullptr;
        ready              = lm != nullptr && ps_set_lm(ps, "words", lm) >= 0 && ps_set_search(ps, "words") >= 0;
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

// Gives every heard word of a segment what the segment says of all of them: its speech level over its noise
// floor, and the mean frame-based posterior of its words. A segment where the recogniser is lost holds many
// more wrong words than their own posteriors say.
void add_segment_evidence(const float * samples, int32_t n_samples, std::vector<std::vector<heard_word>> & heard) {
    const sound_levels levels =
        measure_levels(samples, n_samples, suppression_rule::floor_percentile, pause_rule::loud_percentile);
    double sum   = 0;
    size_t count = 0;
    for (const std::vector<heard_word> & piece : heard) {
        for (const heard_word & w : piece) {
            sum += static_cast<double>(w.evidence.word_posterior);
            count++;
        }
    }
    for (std::vector<heard_word> & piece : heard) {
        for (heard_word & w : piece) {
            w.evidence.snr          = static_cast<float>(levels.speech_db - levels.floor_db);
            w.evidence.segment_mean = static_cast<float>(sum / static_cast<double>(std::max<size_t>(1, count)));
        }
    }
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
    std::string hesitations_off; // why the first decoder has no hesitation model; cleared once reported

    // Makes the first decoder of a fresh pool, and how to make more, for the loaded model and vocabulary;
    // false with `why` set when the first cannot be made.
    // The pool in use stays when the first decoder cannot be made.
    bool start_pool(std::string & why) {
        hesitations_off.clear();
        ps_decoder_t * first = make_recognizer(files, folder, vocabulary.get(), why, hesitations_off);
        if (first == nullptr) {
            return false;
        }
        release_pool(pool);
        forget_decoders(adaptation);
        pool.decoders.push_back(first);
        // Later decoders are made from the same files when a call asks for more threads.
        pool.make = [files = files, folder = folder, vocabulary = vocabulary] {
            std::string ignored;
            std::string also_ignored; // said for the first decoder
            return make_recognizer(files, folder, vocabulary.get(), ignored, also_ignored);
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

transcribe_result KelvoASR::transcribe(const float * samples, int32_t n_samples, const transcribe_params & params) {
    std::vector<transcribe_result> results = transcribe_segments({ { samples, n_samples, params } });
    return std::move(results.front());
}

std::vector<transcribe_result> KelvoASR::transcribe_segments(const std::vector<segment_request> & segments) try {
    std::vector<transcribe_result> results(segments.size());
    if (pimpl->folder.empty() || (pimpl->pool.decoders.empty() && !pimpl->pool.make)) {
        for (transcribe_result & result : results) {
            result.error = "no speech model is loaded";
        }
        return results;
    }
    speaker_adaptation &        adaptation = pimpl->adaptation;
    std::vector<segment_passes> work;
    std::vector<size_t>         work_of(segments.size(), segments.size()); // by segment; none for silence
    for (size_t j = 0; j < segments.size(); j++) {
        const segment_request & r = segments[j];
        results[j].language       = r.params.language.empty() ? pimpl->language_tag : r.params.language;
        // Decoding digital silence invents words; there is nothing to recognise.
        if (r.samples != nullptr && r.n_samples > 0 && rms_energy(r.samples, r.n_samples) >= silence_energy_floor) {
            work_of[j] = work.size();
            work.push_back({ r.samples, r.n_samples, &r.params, {}, {}, {} });
        }
    }
    run_segment_passes(pimpl->pool, adaptation, work);
    // Why adaptation is off is said once per model, to the first segment that asks for adaptation; why the
    // hesitation model is off, to the first segment.
    if (!results.empty()) {
        results.front().hesitations_off = std::move(pimpl->hesitations_off);
        pimpl->hesitations_off.clear();
    }
    for (size_t j = 0; j < segments.size(); j++) {
        const transcribe_params & params = segments[j].params;
        transcribe_result &       result = results[j];
        if (params.adapt) {
            result.adaptation_off = take_off_reason(adaptation);
        }
        if (work_of[j] == segments.size()) {
            result.success = true;
            continue;
        }
        segment_passes & done = work[work_of[j]];
        if (!done.outcome.ok) {
            result.error = done.outcome.error;
            // The segments after a failed one were not recognised.
            for (size_t later = j + 1; later < segments.size(); later++) {
                results[later].error = result.error;
            }
            break;
        }
        result.success = true;
        if (params.listen_only || done.heard.empty()) {
            continue;
        }
        if (params.word_confidence) {
            add_segment_evidence(done.samples, done.n_samples, done.heard);
        }
        for (size_t k = 0; k < done.pieces.size(); k++) {
            const int32_t first_frame = done.pieces[k].start / pause_rule::frame_samples;
            for (const heard_word & w : done.heard[k]) {
                result.text += (result.text.empty() ? "" : " ") + w.text;
                result.word_frames.push_back(first_frame + w.frame);
                if (params.word_confidence) {
                    result.word_posterior.push_back(w.evidence.node_posterior);
                    result.word_confidence.push_back(word_confidence(w.evidence));
                }
            }
        }
    }
    return results;
} catch (const std::bad_alloc &) {
    std::vector<transcribe_result> results(segments.size());
    for (transcribe_result & result : results) {
        result.error = "the recogniser ran out of memory";
    }
    return results;
}

const std::string & KelvoASR::last_error() const {
    return pimpl->error;
}

} // namespace kelvo_asr
