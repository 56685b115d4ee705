// Decoder settings and the decoder library's process-wide log.

#include "engine/decoders/decoder_config.h"

#include <sphinxbase/err.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kelvo_asr {

namespace {

std::once_flag log_once;

// A decoder configuration from command-line style arguments; nullptr when the library refuses them.
cmd_ln_t * parse_config(std::vector<std::string> & args) {
    std::vector<char *> argv;
    argv.reserve(args.size());
    for (std::string & a : args) {
        argv.push_back(a.data());
    }
    return cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE);
}

} // namespace

void silence_decoder_log() {
    std::call_once(log_once, [] { err_set_logfp(nullptr); });
}

void route_decoder_log(bool on) {
    silence_decoder_log();
    err_set_logfp(on ? stderr : nullptr);
}

cmd_ln_t * make_recognition_config(const model_files & files) {
    silence_decoder_log();
    // The language model is read and set by the recogniser itself (see language_model.h). The search
    // settings won on speed and word error together on conversational speech, quiet and noisy: more
    // Gaussians scored per frame (-topn) with fewer active states (-maxhmmpf) and word exits (-maxwpf)
    // per frame; a higher filler probability and word insertion penalty keep noise out of the words.
    // clang-format off
    std::vector<std::string> args = {
        "recognizer",
        "-hmm",      files.acoustic_model,
        "-dict",     files.dictionary,
        "-topn",     "6",
        "-maxhmmpf", "5000",
        "-maxwpf",   "20",
        "-fillprob", "1e-2",
        "-wip",      "0.2",
    };
    // clang-format on
    return parse_config(args);
}

cmd_ln_t * make_alignment_config(const model_files & files) {
    silence_decoder_log();
    // Silence frames are kept so that frame numbers are times in the segment; the word beam equals the
    // main beam so that a word of the text that was not spoken does not empty the search; a higher
    // silence probability than the recogniser's keeps pauses out of words in noise.
    // clang-format off
    std::vector<std::string> args = {
        "aligner",
        "-hmm",            files.acoustic_model,
        "-dict",           files.dictionary,
        "-remove_silence", "no",
        "-beam",           "1e-48",
        "-wbeam",          "1e-48",
        "-silprob",        "0.1",
    };
    // clang-format on
    return parse_config(args);
}

} // namespace kelvo_asr
