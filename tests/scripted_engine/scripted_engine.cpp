// A scripted stand-in for the speech engine, linked into a test build of the driver so that tests can
// check every byte the tool writes on each path. It reads its answers from the file named by
// TAVRIK_SCRIPT and logs every call it receives to the file named by TAVRIK_SCRIPT_LOG.
//
// Script lines (texts run to the end of the line; \n \t \\ and \xHH escapes are decoded):
//   audio ok RATE FRAMES [VALUE]     audio fail
//   asr_load ok                      asr_load fail TEXT
//   aligner_load ok                  aligner_load fail TEXT
//   transcribe ok LANG TEXT          transcribe fail TEXT          (one line per call, used in order)
//   confidence VALUE ...             (one line per call that asks for confidences, used in order)
//   align echo                       align fail TEXT               (one line per call, used in order)
//   align words WORD@START@END ...   (the aligner's answer as given)
//   speakers START:END:VOICE ...     (find_speakers' stretches, in samples; logged only when given)
//   pitch SECONDS RISE               (a pitch measured over a stretch holding that time rises so; not logged)
// "align echo" returns every input word, word k from 0.5 k to 0.5 k + 0.25 seconds; recognised word k starts
// at frame 50 k (0.5 k seconds), so that the two agree. A call that only learns
// a voice (`listen_only`) succeeds with no words, takes no line and is not logged. A transcribe call given
// found voices logs them after its other fields.

#include "engine/kelvo_asr.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

struct Script {
    std::vector<std::string> lines;
    size_t                   next_transcribe = 0;
    size_t                   next_align      = 0;
    size_t                   next_confidence = 0;
    const float *            base            = nullptr;
};

std::string decode(const std::string & s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out.push_back(s[i]);
            continue;
        }
        char e = s[++i];
        if (e == 'n') {
            out.push_back('\n');
        } else if (e == 't') {
            out.push_back('\t');
        } else if (e == 'x' && i + 2 < s.size()) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(e);
        }
    }
    return out;
}

Script & script() {
    static Script s = [] {
        Script       loaded;
        const char * path = std::getenv("TAVRIK_SCRIPT");
        if (path != nullptr) {
            std::ifstream f(path);
            std::string   line;
            while (std::getline(f, line)) {
                loaded.lines.push_back(line);
            }
        }
        return loaded;
    }();
    return s;
}

void log_call(const std::string & line) {
    const char * path = std::getenv("TAVRIK_SCRIPT_LOG");
    if (path == nullptr) {
        return;
    }
    FILE * f = std::fopen(path, "ab");
    if (f != nullptr) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

// The rest of the line after `word` and one space; empty when there is none.
std::string rest_after(const std::string & line, size_t words) {
    size_t at = 0;
    for (size_t k = 0; k < words; k++) {
        at = line.find(' ', at);
        if (at == std::string::npos) {
            return "";
        }
        at++;
    }
    return decode(line.substr(at));
}

// The first line starting with `command` (for one-off calls), or the n-th one (for repeated calls).
std::string find_line(const std::string & command, size_t nth) {
    size_t seen = 0;
    for (const auto & line : script().lines) {
        if (line.compare(0, command.size() + 1, command + " ") == 0) {
            if (seen++ == nth) {
                return line;
            }
        }
    }
    return "";
}

bool load_answer(const std::string & command, std::string & error) {
    std::string line = find_line(command, 0);
    if (line.compare(0, command.size() + 5, command + " fail") == 0) {
        error = rest_after(line, 2);
        return false;
    }
    return true;
}

std::string voices_text(const std::vector<kelvo_asr::voice_stretch> & voices) {
    std::string text = voices.empty() ? "" : " voices";
    for (const auto & v : voices) {
        text += " " + std::to_string(v.start) + ":" + std::to_string(v.end) + ":" + std::to_string(v.voice);
    }
    return text;
}

} // namespace

namespace kelvo_asr {

struct KelvoASR::impl {
    std::string error;
};

struct ForcedAligner::impl {
    std::string error;
};

bool load_audio_file(const std::string & path, std::vector<float> & samples, int32_t & sample_rate) {
    log_call("load_audio_file " + path);
    std::istringstream in(find_line("audio", 0));
    std::string        command, status;
    long               frames = 0;
    float              value  = 0;
    in >> command >> status >> sample_rate >> frames >> value;
    if (status != "ok") {
        return false;
    }
    samples.assign(static_cast<size_t>(frames), value);
    script().base = samples.data();
    return true;
}

KelvoASR::KelvoASR() : pimpl(new impl) {
    log_call("asr construct");
}

KelvoASR::~KelvoASR() {
    log_call("asr destroy");
}

bool KelvoASR::load_model(const std::string & path) {
    const char * vram = std::getenv("KELVO_USE_VRAM");
    log_call("asr load " + path + " KELVO_USE_VRAM=" + (vram ? vram : "(unset)"));
    return load_answer("asr_load", pimpl->error);
}

const std::string & KelvoASR::last_error() const {
    return pimpl->error;
}

transcribe_result KelvoASR::transcribe(const float * samples, int32_t n_samples, const transcribe_params & params) {
    if (params.listen_only) {
        transcribe_result learned;
        learned.success = true;
        return learned;
    }
    log_call("transcribe at " + std::to_string(samples - script().base) + " n " + std::to_string(n_samples) +
             " chunk " + std::to_string(params.chunk_samples) + " language [" + params.language + "] threads " +
             std::to_string(params.n_threads) + " flags " + std::to_string(params.keep_noise_words) +
             std::to_string(params.print_log) + (params.word_confidence ? " confidence" : "") +
             voices_text(params.voices));
    transcribe_result result;
    std::string       line = find_line("transcribe", script().next_transcribe++);
    if (line.compare(0, 14, "transcribe ok ") == 0) {
        std::istringstream in(line);
        std::string        command, status;
        in >> command >> status >> result.language;
        result.text    = rest_after(line, 3);
        result.success = true;
        std::istringstream words(result.text);
        for (std::string word; words >> word;) {
            result.word_frames.push_back(50 * static_cast<int32_t>(result.word_frames.size()));
        }
        if (params.word_confidence) {
            std::istringstream values(rest_after(find_line("confidence", script().next_confidence++), 1));
            for (float v = 0; values >> v;) {
                result.word_confidence.push_back(v);
                result.word_posterior.push_back(v);
            }
        }
    } else {
        result.error = rest_after(line, 2);
    }
    return result;
}

std::vector<transcribe_result> KelvoASR::transcribe_segments(const std::vector<segment_request> & segments) {
    std::vector<transcribe_result> results;
    for (const segment_request & r : segments) {
        results.push_back(transcribe(r.samples, r.n_samples, r.params));
        if (!results.back().success) {
            const std::string error = results.back().error;
            results.resize(segments.size());
            for (size_t j = results.size(); j-- > 0 && !results[j].success && results[j].error.empty();) {
                results[j].error = error;
            }
            break;
        }
    }
    return results;
}

speaker_result find_speakers(const float * samples, int32_t n_samples, const speaker_params & params) {
    speaker_result    result;
    const std::string line = find_line("speakers", 0);
    if (line.empty()) {
        result.success = true;
        return result;
    }
    log_call("find_speakers at " + std::to_string(samples - script().base) + " n " + std::to_string(n_samples) +
             " speakers " + std::to_string(params.n_speakers));
    std::istringstream in(line.substr(9));
    std::string        item;
    while (in >> item) {
        voice_stretch v;
        if (std::sscanf(item.c_str(), "%d:%d:%d", &v.start, &v.end, &v.voice) == 3) {
            result.stretches.push_back(v);
            result.n_voices = std::max(result.n_voices, v.voice);
        }
    }
    result.success = true;
    return result;
}

noise_levels measure_noise(const float * /*samples*/, int32_t /*n_samples*/) {
    return { 100.0, 0.0 }; // quiet pauses: the driver's plan follows the voices alone
}

pitch_result measure_pitch(const float * samples, int32_t n_samples) {
    pitch_result result;
    const double first = static_cast<double>(samples - script().base) / 16000.0;
    const double last  = first + static_cast<double>(n_samples) / 16000.0;
    for (size_t k = 0;; k++) {
        const std::string line = find_line("pitch", k);
        if (line.empty()) {
            return result;
        }
        double at   = 0;
        float  rise = 0;
        if (std::sscanf(line.c_str(), "pitch %lf %f", &at, &rise) == 2 && at >= first && at <= last) {
            result.rise   = rise;
            result.voiced = true;
            return result;
        }
    }
}

vocabulary_result KelvoASR::set_vocabulary(const std::string & text) {
    log_call("asr vocabulary " + std::to_string(text.size()) + " bytes");
    vocabulary_result result;
    result.success = true;
    return result;
}

ForcedAligner::ForcedAligner() : pimpl(new impl) {
    log_call("aligner construct");
}

ForcedAligner::~ForcedAligner() {
    log_call("aligner destroy");
}

bool ForcedAligner::load_model(const std::string & path) {
    log_call("aligner load " + path);
    return load_answer("aligner_load", pimpl->error);
}

const std::string & ForcedAligner::last_error() const {
    return pimpl->error;
}

bool ForcedAligner::add_vocabulary(const std::string & text) {
    log_call("aligner vocabulary " + std::to_string(text.size()) + " bytes");
    return true;
}

alignment_result ForcedAligner::align(const float * samples, int32_t n_samples, const std::string & text,
                                      const std::string & language, bool denoise, bool /*energy_edges*/) {
    log_call("align at " + std::to_string(samples - script().base) + " n " + std::to_string(n_samples) + " text [" +
             text + "] language [" + language + "]" + (denoise ? " denoise" : ""));
    alignment_result result;
    std::string      line = find_line("align", script().next_align++);
    if (line == "align echo") {
        std::istringstream in(text);
        std::string        word;
        for (int k = 0; in >> word; k++) {
            result.words.push_back({ word, 0.5f * static_cast<float>(k), 0.5f * static_cast<float>(k) + 0.25f });
        }
        result.success = true;
    } else if (line.compare(0, 12, "align words ") == 0) {
        std::istringstream in(line.substr(12));
        std::string        item;
        while (in >> item) {
            size_t a = item.find('@');
            size_t b = item.find('@', a + 1);
            result.words.push_back(
                { decode(item.substr(0, a)), std::stof(item.substr(a + 1, b - a - 1)), std::stof(item.substr(b + 1)) });
        }
        result.success = true;
    } else {
        result.error = rest_after(line, 2);
    }
    return result;
}

} // namespace kelvo_asr
