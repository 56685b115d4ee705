// Speech recognition: one language-model search per call over a segment, on a decoder made once per model.

#include "engine/decoder_config.h"
#include "engine/kelvo_asr.h"

namespace kelvo_asr {

struct KelvoASR::impl {
    ps_decoder_t * decoder = nullptr;
    std::string    language_tag;
    std::string    error;

    ~impl() { release(); }

    void release() {
        if (decoder != nullptr) {
            ps_free(decoder);
            decoder = nullptr;
        }
    }
};

namespace {

// Sentence marks, silence and bracketed noise words are not words of the text.
bool is_noise_word(const std::string & w) {
    if (w == "<s>" || w == "</s>" || w == "<sil>") {
        return true;
    }
    return w.size() >= 2 && ((w.front() == '[' && w.back() == ']') || (w.front() == '+' && w.back() == '+'));
}

} // namespace

KelvoASR::KelvoASR() : pimpl(std::make_unique<impl>()) {}

KelvoASR::~KelvoASR() = default;

bool KelvoASR::load_model(const std::string & path) {
    pimpl->release();
    pimpl->language_tag.clear();
    model_files files;
    if (!find_model_files(path, files, pimpl->error) || !check_model_files(files, path, true, pimpl->error)) {
        return false;
    }
    pimpl->decoder = load_decoder(make_recognition_config(files), path, pimpl->error);
    if (pimpl->decoder == nullptr) {
        return false;
    }
    pimpl->language_tag = files.language_tag;
    return true;
}

transcribe_result KelvoASR::transcribe(const float * samples, int32_t n_samples, const transcribe_params & params) {
    transcribe_result result;
    if (pimpl->decoder == nullptr) {
        result.error = "no speech model is loaded";
        return result;
    }
    result.language = params.language.empty() ? pimpl->language_tag : params.language;
    if (samples == nullptr || n_samples <= 0 || rms_energy(samples, n_samples) < silence_energy_floor) {
        // Decoding digital silence invents words; there is nothing to recognise.
        result.success = true;
        return result;
    }
    route_decoder_log(params.print_log);
    std::vector<int16_t> pcm   = to_pcm16(samples, n_samples);
    const size_t         chunk = static_cast<size_t>(params.chunk_samples >= 1 ? params.chunk_samples : 1024);
    ps_decoder_t *       ps    = pimpl->decoder;
    bool                 ok    = false;
    const bool           whole = run_guarded([&] {
        ok = ps_start_utt(ps) >= 0;
        for (size_t at = 0; ok && at < pcm.size(); at += chunk) {
            size_t n = std::min(chunk, pcm.size() - at);
            ok       = ps_process_raw(ps, pcm.data() + at, n, FALSE, FALSE) >= 0;
        }
        if (ps_end_utt(ps) < 0) {
            ok = false;
        }
    });
    if (!whole) {
        // The decoder's state is unknown after a fault: it is dropped, never freed or used again.
        pimpl->decoder = nullptr;
        route_decoder_log(false);
        result.error = decoder_fault_text;
        return result;
    }
    if (!ok) {
        route_decoder_log(false);
        result.error = "the decoder failed on the audio";
        return result;
    }
    for (ps_seg_t * seg = ps_seg_iter(ps); seg != nullptr; seg = ps_seg_next(seg)) {
        const char * raw = ps_seg_word(seg);
        if (raw == nullptr) {
            continue;
        }
        std::string word = strip_alternative_suffix(raw);
        if (!params.keep_noise_words && is_noise_word(word)) {
            continue;
        }
        int sf = 0;
        int ef = 0;
        ps_seg_frames(seg, &sf, &ef);
        if (!result.text.empty()) {
            result.text += ' ';
        }
        result.text += word;
        result.word_frames.push_back(sf);
    }
    route_decoder_log(false);
    result.success = true;
    return result;
}

const std::string & KelvoASR::last_error() const {
    return pimpl->error;
}

} // namespace kelvo_asr
