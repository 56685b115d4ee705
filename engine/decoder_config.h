// Decoder set-up shared by the recogniser and the aligner: finding the parts of a model folder, the
// decoder configuration, the process-wide decoder log, and the sample conversion both decoders need.
// Private to the engine; decoder types never leave it.

#pragma once

#include <pocketsphinx.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvo_asr {

// The files of one model folder. An empty path means that part was not found.
struct model_files {
    std::string acoustic_model; // folder holding mdef, means, ...
    std::string language_model; // *.lm.bin, *.lm or *.DMP
    std::string dictionary;     // *.dict
    std::string language_tag;   // name of the acoustic model folder, e.g. "en-us"
};

// Finds the acoustic model, language model and dictionary in `folder`. Returns false with `error` set
// when the folder cannot be read; missing parts are left empty.
bool find_model_files(const std::string & folder, model_files & files, std::string & error);

// Checks that the parts needed are present; false with a text naming the first missing part and `folder`.
bool check_model_files(const model_files & files, const std::string & folder, bool need_language_model,
                       std::string & error);

// Turns the decoder's log off for the whole process; called before any decoder is made.
void silence_decoder_log();

// Sends the decoder's log to standard error (`on`) or nowhere, for the length of one call.
void route_decoder_log(bool on);

// Returns the decoder settings for `files` with the recogniser's choices (the stock defaults for the
// model), or nullptr when the library refuses them; the caller owns the result. Reads no model file.
cmd_ln_t * make_recognition_config(const model_files & files);

// Returns the decoder settings for `files` with the aligner's choices (no language model, silence kept,
// wide word beam), or nullptr when the library refuses them; the caller owns the result.
cmd_ln_t * make_alignment_config(const model_files & files);

// Runs `call`, which calls into the decoder library, with the library's faults caught: a crash inside
// it (the library does not check every model file it maps, e.g. a truncated binary model definition or
// mixture-weight dump) returns false instead of ending the process. After false the decoder `call`
// used is in an unknown state and must be dropped without being freed. Returns true otherwise.
// `call` must not own objects with destructors: a fault leaves its frames without unwinding them.
bool run_guarded(const std::function<void()> & call);

// Makes a decoder from `config` (taken over and freed; nullptr allowed), reading the model in `folder`
// guarded against the library's faults. Returns the decoder, or nullptr with `error` naming `folder` when
// the library refuses the model or stops on a fault.
ps_decoder_t * load_decoder(cmd_ln_t * config, const std::string & folder, std::string & error);

// The failure text for a decoder that stopped on a fault while decoding.
inline const char * const decoder_fault_text = "the decoder stopped on a fault (are the model files damaged?)";

// Converts samples in [-1, 1] to 16-bit with clipping; NaN and infinities become 0.
std::vector<int16_t> to_pcm16(const float * samples, int32_t n_samples);

// Root mean square of the samples, NaN and infinities counted as 0.
double rms_energy(const float * samples, int32_t n_samples);

// Segments whose energy is below this are digital silence and are not decoded.
constexpr double silence_energy_floor = 1e-4;

// Removes an alternative-pronunciation suffix such as "(2)" from a decoder word.
std::string strip_alternative_suffix(const std::string & word);

} // namespace kelvo_asr
