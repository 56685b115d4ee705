// Forced alignment: a linear word grammar built per call, decoded over the segment in one utterance,
// with wider beams and then a word-skipping grammar when the strict search does not finish, and
// interpolated zero-length times for the words that are still not placed.

#include "engine/alignment/alignment.h"
#include "engine/audio/noise_suppressor.h"
#include "engine/audio/samples.h"
#include "engine/decoders/decoder_config.h"
#include "engine/decoders/decoder_guard.h"
#include "engine/kelvo_asr.h"
#include "engine/lexicon/vocabulary.h"
#include "engine/lexicon/vocabulary_model.h"
#include "engine/lexicon/word_text.h"

#include <new>

namespace kelvo_asr {

namespace {

constexpr int frames_per_phone = 3; // the fewest frames a phone takes in the acoustic model

// Passes from the strictest to the most forgiving; the first that places every word ends the search.
constexpr alignment_pass passes[] = { { false, 0.0 }, { false, 1e-80 }, { true, 1e-80 } };

} // namespace

struct ForcedAligner::impl {
    ps_decoder_t * decoder = nullptr;
    std::string    error;
    int            frame_rate = 100;

    ~impl() { release(); }

    void release() {
        if (decoder != nullptr) {
            ps_free(decoder);
            decoder = nullptr;
        }
    }
};

ForcedAligner::ForcedAligner() : pimpl(std::make_unique<impl>()) {}

ForcedAligner::~ForcedAligner() = default;

bool ForcedAligner::load_model(const std::string & path) try {
    pimpl->release();
    model_files files;
    if (!find_model_files(path, files, pimpl->error) || !check_model_files(files, path, false, pimpl->error)) {
        return false;
    }
    pimpl->decoder = load_decoder(make_alignment_config(files), path, pimpl->error);
    if (pimpl->decoder == nullptr) {
        return false;
    }
    pimpl->frame_rate = cmd_ln_int32_r(ps_get_config(pimpl->decoder), "-frate");
    if (pimpl->frame_rate <= 0) {
        pimpl->frame_rate = 100;
    }
    if (!add_alignment_fillers(pimpl->decoder)) {
        pimpl->release();
        pimpl->error = "the aligner could not add its filler words to the model in " + path;
        return false;
    }
    return true;
} catch (const std::bad_alloc &) {
    pimpl->release();
    pimpl->error = "ran out of memory while loading the model in " + path;
    return false;
}

bool ForcedAligner::add_vocabulary(const std::string & text) try {
    if (pimpl->decoder == nullptr) {
        return false;
    }
    // A phone this model lacks makes the decoder refuse the word, which is then left to the synthesiser.
    const vocabulary_text parsed = parse_vocabulary(text, [](const std::string &) { return true; });
    for (const vocabulary_entry & e : parsed.entries) {
        for (const std::string & p : e.pronunciations) {
            bool ok = true;
            add_pronunciation(pimpl->decoder, e.words[0], p, ok);
        }
    }
    return true;
} catch (const std::bad_alloc &) {
    return true; // the words added so far stay; the others are pronounced by the synthesiser
}

alignment_result ForcedAligner::align(const float * samples, int32_t n_samples, const std::string & text,
                                      const std::string & /*language*/, bool denoise, bool energy_edges) try {
    alignment_result result;
    if (pimpl->decoder == nullptr) {
        result.error = "no aligner model is loaded";
        return result;
    }
    if (samples == nullptr || n_samples < 0) {
        n_samples = 0;
    }
    const std::vector<std::string> tokens = split_words(text);
    std::vector<text_word>         words;
    words.reserve(tokens.size());
    for (const std::string & t : tokens) {
        words.push_back(prepare_word(pimpl->decoder, t));
    }
    std::vector<const text_word *> spoken;
    std::vector<size_t>            spoken_index;
    std::vector<bool>              silent(words.size());
    int                            total_phones = 0;
    for (size_t i = 0; i < words.size(); i++) {
        silent[i] = words[i].silent;
        if (!words[i].silent) {
            spoken.push_back(&words[i]);
            spoken_index.push_back(i);
            total_phones += words[i].n_phones;
        }
    }

    // Too short for the words' phones, or digital silence: every word is left to interpolation.
    std::vector<placement> where(words.size());
    std::vector<double>    energy;
    std::vector<double>    onset_energy;
    const bool             decodable = !spoken.empty() && n_samples / 160 >= frames_per_phone * total_phones &&
                           rms_energy(samples, n_samples) >= silence_energy_floor;
    if (decodable) {
        const std::vector<int16_t> pcm = clean_segment(samples, n_samples, denoise);
        // A word's first sound is looked for in the signal the decoder heard: in noise its pauses are
        // quieter than the recording's. Ends are judged on the recording, whose pauses the cleaning leaves
        // uneven just after speech.
        if (energy_edges) {
            energy       = hop_energies(samples, n_samples);
            onset_energy = hop_energies(pcm);
        }
        std::vector<placement> spoken_where;
        for (const alignment_pass & pass : passes) {
            bool                complete = false;
            const decode_status status   = decode_alignment(pimpl->decoder, pcm, spoken, pass, spoken_where, complete);
            if (status == decode_status::faulted) {
                // The decoder's state is unknown after a fault: it is dropped, never freed or used again.
                pimpl->decoder = nullptr;
                result.error   = decoder_fault_text;
                return result;
            }
            if (status == decode_status::failed) {
                result.error = "the decoder failed on the audio";
                return result;
            }
            if (complete) {
                break;
            }
        }
        for (size_t k = 0; k < spoken.size(); k++) {
            where[spoken_index[k]] = spoken_where[k];
        }
    }

    const double                  length = n_samples / static_cast<double>(sample_rate);
    const std::vector<word_times> times =
        frames_to_times(where, silent, 1.0 / pimpl->frame_rate, length, energy, onset_energy);
    result.words.reserve(words.size());
    for (size_t k = 0; k < words.size(); k++) {
        result.words.push_back({ tokens[k], times[k].start, times[k].end });
    }
    result.success = true;
    return result;
} catch (const std::bad_alloc &) {
    alignment_result result;
    result.error = "the aligner ran out of memory";
    return result;
}

const std::string & ForcedAligner::last_error() const {
    return pimpl->error;
}

} // namespace kelvo_asr
