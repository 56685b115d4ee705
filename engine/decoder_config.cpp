// Model folder discovery, decoder configuration and the decoder's process-wide log.

#include "engine/decoder_config.h"

#include <sphinxbase/err.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>

namespace kelvo_asr {

namespace fs = std::filesystem;

namespace {

bool ends_with(const std::string & s, const std::string & tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Rank of a language model file name; lower is preferred, -1 means not a language model.
int language_model_rank(const std::string & name) {
    int rank = -1;
    if (ends_with(name, ".lm.bin")) {
        rank = 0;
    } else if (ends_with(name, ".lm")) {
        rank = 1;
    } else if (ends_with(name, ".DMP") || ends_with(name, ".dmp")) {
        rank = 2;
    }
    // A phone-loop model ("en-us-phone.lm.bin") recognises phones, not words.
    if (rank >= 0 && name.find("phone") != std::string::npos) {
        rank += 10;
    }
    return rank;
}

std::once_flag log_once;

bool file_starts_with(const fs::path & path, const std::string & head) {
    FILE * f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    std::string got(head.size(), '\0');
    size_t      n = std::fread(got.data(), 1, got.size(), f);
    std::fclose(f);
    return n == head.size() && got == head;
}

// The decoder library ends the process on some malformed model files instead of failing, so the parts it
// reads first are checked here: each must exist and carry its format's header.
bool acoustic_model_is_sound(const std::string & folder, std::string & error) {
    const fs::path dir(folder);
    if (!file_starts_with(dir / "mdef", "BMDF") && !file_starts_with(dir / "mdef", "0.3")) {
        error = "the acoustic model in " + folder + " has no readable model definition (mdef)";
        return false;
    }
    for (const char * part : { "means", "variances", "transition_matrices" }) {
        if (!file_starts_with(dir / part, "s3\n")) {
            error = "the acoustic model in " + folder + " has no readable " + part;
            return false;
        }
    }
    std::error_code ec;
    if (!fs::is_regular_file(dir / "sendump", ec) && !file_starts_with(dir / "mixture_weights", "s3\n")) {
        error = "the acoustic model in " + folder + " has no mixture weights (sendump or mixture_weights)";
        return false;
    }
    return true;
}

} // namespace

bool find_model_files(const std::string & folder, model_files & files, std::string & error) {
    files = model_files{};
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        error = "model folder not found: " + folder;
        return false;
    }
    if (fs::is_regular_file(fs::path(folder) / "mdef", ec)) {
        // The folder is itself an acoustic model.
        files.acoustic_model = folder;
        files.language_tag   = fs::path(folder).lexically_normal().filename().string();
    }
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    if (ec) {
        error = "cannot read the model folder " + folder;
        return false;
    }
    std::sort(entries.begin(), entries.end());
    int best_rank = 1000;
    for (const fs::path & p : entries) {
        std::string name = p.filename().string();
        if (fs::is_directory(p, ec)) {
            if (files.acoustic_model.empty() && fs::is_regular_file(p / "mdef", ec)) {
                files.acoustic_model = p.string();
                files.language_tag   = name;
            }
            continue;
        }
        if (!fs::is_regular_file(p, ec)) {
            continue;
        }
        int rank = language_model_rank(name);
        if (rank >= 0 && rank < best_rank) {
            best_rank            = rank;
            files.language_model = p.string();
        }
        if (files.dictionary.empty() && ends_with(name, ".dict")) {
            files.dictionary = p.string();
        }
    }
    return true;
}

bool check_model_files(const model_files & files, const std::string & folder, bool need_language_model,
                       std::string & error) {
    if (files.acoustic_model.empty()) {
        error = "no acoustic model (a folder holding mdef) in " + folder;
        return false;
    }
    if (need_language_model && files.language_model.empty()) {
        error = "no language model (*.lm.bin, *.lm or *.DMP) in " + folder;
        return false;
    }
    if (files.dictionary.empty()) {
        error = "no pronunciation dictionary (*.dict) in " + folder;
        return false;
    }
    return acoustic_model_is_sound(files.acoustic_model, error);
}

void silence_decoder_log() {
    std::call_once(log_once, [] { err_set_logfp(nullptr); });
}

void route_decoder_log(bool on) {
    silence_decoder_log();
    err_set_logfp(on ? stderr : nullptr);
}

cmd_ln_t * make_recognition_config(const model_files & files) {
    silence_decoder_log();
    return cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", files.acoustic_model.c_str(), "-lm",
                       files.language_model.c_str(), "-dict", files.dictionary.c_str(), nullptr);
}

cmd_ln_t * make_alignment_config(const model_files & files) {
    silence_decoder_log();
    // Silence frames are kept so that frame numbers are times in the segment; the word beam equals the
    // main beam so that a word of the text that was not spoken does not empty the search; a higher
    // silence probability than the recogniser's keeps pauses out of words (measured on synthetic speech
    // with added noise: 93.5 % of starts within 50 ms at the default, 95.2 % at 0.1).
    std::vector<std::string> args = {
        "aligner", "-hmm",  files.acoustic_model, "-dict", files.dictionary, "-remove_silence", "no", "-beam", "1e-48",
        "-wbeam",  "1e-48", "-silprob",           "0.1"
    };
    std::vector<char *> argv;
    for (std::string & a : args) {
        argv.push_back(a.data());
    }
    return cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE);
}

std::vector<int16_t> to_pcm16(const float * samples, int32_t n_samples) {
    std::vector<int16_t> out(n_samples > 0 ? static_cast<size_t>(n_samples) : 0);
    for (int32_t i = 0; i < n_samples; i++) {
        float v = samples[i];
        if (!std::isfinite(v)) {
            v = 0.0f;
        }
        float s                     = std::round(v * 32767.0f);
        s                           = std::clamp(s, -32768.0f, 32767.0f);
        out[static_cast<size_t>(i)] = static_cast<int16_t>(s);
    }
    return out;
}

double rms_energy(const float * samples, int32_t n_samples) {
    if (n_samples <= 0) {
        return 0.0;
    }
    double sum = 0.0;
    for (int32_t i = 0; i < n_samples; i++) {
        double v = samples[i];
        if (std::isfinite(v)) {
            sum += v * v;
        }
    }
    return std::sqrt(sum / n_samples);
}

std::string strip_alternative_suffix(const std::string & word) {
    if (word.size() > 2 && word.back() == ')') {
        size_t open = word.rfind('(');
        if (open != std::string::npos && open > 0) {
            bool digits = open + 1 < word.size() - 1;
            for (size_t i = open + 1; i + 1 < word.size(); i++) {
                digits = digits && word[i] >= '0' && word[i] <= '9';
            }
            if (digits) {
                return word.substr(0, open);
            }
        }
    }
    return word;
}

} // namespace kelvo_asr
