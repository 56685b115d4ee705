#include "synthesised_speech.h"

#include "words/words.h"

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cmath>

namespace {

struct synth_capture {
    std::vector<short>               samples;
    std::vector<std::pair<int, int>> events; // text position (1-based), audio position (ms)
};

synth_capture * current_capture = nullptr;

int on_synth(short * wav, int n, espeak_EVENT * events) {
    if (wav != nullptr && n > 0) {
        current_capture->samples.insert(current_capture->samples.end(), wav, wav + n);
    }
    for (espeak_EVENT * e = events; e != nullptr && e->type != espeakEVENT_LIST_TERMINATED; e++) {
        if (e->type == espeakEVENT_WORD) {
            current_capture->events.push_back({ e->text_position, e->audio_position });
        }
    }
    return 0;
}

// Windowed-sinc resampling from `rate` to 16 kHz.
std::vector<float> resample(const std::vector<short> & in, int rate) {
    const double       ratio  = static_cast<double>(rate) / speech_rate;
    const double       cutoff = 0.95 * std::min(1.0, 1.0 / ratio);
    const int          half   = 24;
    size_t             n_out  = static_cast<size_t>(static_cast<double>(in.size()) / ratio);
    std::vector<float> out(n_out);
    for (size_t i = 0; i < n_out; i++) {
        double t   = static_cast<double>(i) * ratio;
        long   c   = static_cast<long>(std::floor(t));
        double sum = 0.0;
        for (long k = c - half + 1; k <= c + half; k++) {
            if (k < 0 || k >= static_cast<long>(in.size())) {
                continue;
            }
            double x      = t - static_cast<double>(k);
            double arg    = M_PI * x * cutoff;
            double sinc   = std::abs(x) < 1e-9 ? 1.0 : std::sin(arg) / arg;
            double window = 0.5 + 0.5 * std::cos(M_PI * x / (half + 1));
            sum += in[static_cast<size_t>(k)] / 32768.0 * cutoff * sinc * window;
        }
        out[i] = static_cast<float>(std::clamp(sum, -1.0, 1.0));
    }
    return out;
}

} // namespace

int speech_synthesiser_start() {
    int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0) {
        return 0;
    }
    espeak_SetSynthCallback(on_synth);
    return rate;
}

// RMS of 5 ms frames.
std::vector<double> frame_energy(const std::vector<float> & s) {
    const size_t        frame = speech_rate / 200;
    std::vector<double> e;
    for (size_t at = 0; at + frame <= s.size(); at += frame) {
        double sum = 0.0;
        for (size_t k = at; k < at + frame; k++) {
            sum += static_cast<double>(s[k]) * s[k];
        }
        e.push_back(std::sqrt(sum / frame));
    }
    return e;
}

bool synthesize(const std::string & passage, const voice_setting & v, int espeak_rate, passage_audio & out) {
    synth_capture capture;
    current_capture = &capture;
    if (espeak_SetVoiceByName(v.name) != EE_OK) {
        return false;
    }
    espeak_SetParameter(espeakRATE, v.words_per_minute, 0);
    if (espeak_Synth(passage.c_str(), passage.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr) !=
        EE_OK) {
        return false;
    }
    espeak_Synchronize();
    current_capture = nullptr;

    std::vector<float> speech = resample(capture.samples, espeak_rate);
    const size_t       pad    = static_cast<size_t>(speech_pad_s * speech_rate);
    out.samples.assign(pad, 0.0f);
    out.samples.insert(out.samples.end(), speech.begin(), speech.end());
    out.samples.insert(out.samples.end(), pad, 0.0f);
    out.voice = std::string(v.name) + " at " + std::to_string(v.words_per_minute) + " wpm";

    // Tokens of the passage with their character offsets (the passages are ASCII: bytes are characters).
    std::vector<std::pair<size_t, std::string>> tokens;
    for (size_t i = 0; i < passage.size();) {
        while (i < passage.size() && passage[i] == ' ') {
            i++;
        }
        size_t b = i;
        while (i < passage.size() && passage[i] != ' ') {
            i++;
        }
        if (i > b) {
            tokens.push_back({ b, passage.substr(b, i - b) });
        }
    }
    out.words.clear();
    for (const auto & t : tokens) {
        true_word w;
        w.key = make_match_key(t.second);
        if (w.key.empty()) {
            continue;
        }
        for (const auto & e : capture.events) {
            if (static_cast<size_t>(e.first) == t.first + 1) {
                w.start = speech_pad_s + e.second / 1000.0;
                break;
            }
        }
        out.words.push_back(w);
        out.text += (out.text.empty() ? "" : " ") + w.key;
    }

    // Ends: back from the next start over frames quieter than 1 % of the loudest frame.
    std::vector<double> energy    = frame_energy(out.samples);
    double              peak      = *std::max_element(energy.begin(), energy.end());
    double              quiet     = 0.01 * peak;
    auto                frame_at  = [&](double t) { return static_cast<long>(std::floor(t * 200.0)); };
    long                last_loud = static_cast<long>(energy.size()) - 1;
    while (last_loud > 0 && energy[static_cast<size_t>(last_loud)] < quiet) {
        last_loud--;
    }
    for (size_t i = 0; i < out.words.size(); i++) {
        if (out.words[i].start < 0) {
            continue;
        }
        double next = (last_loud + 1) / 200.0;
        // The synthesiser gives some short word pairs ("to be", "on the") one event: the first word's
        // end then lies somewhere inside the pair and is not known.
        out.words[i].end_known = i + 1 == out.words.size() || out.words[i + 1].start >= 0;
        for (size_t j = i + 1; j < out.words.size(); j++) {
            if (out.words[j].start >= 0) {
                next = std::min(next, out.words[j].start);
                break;
            }
        }
        long f = frame_at(next) - 1;
        long s = frame_at(out.words[i].start);
        while (f > s && energy[static_cast<size_t>(f)] < quiet) {
            f--;
        }
        out.words[i].end = (f + 1) / 200.0;
    }
    // Starts: a word event can come before the sound (the closure of a stop, a pause the voice puts
    // first); the truth is the first frame that is not quiet.
    for (true_word & w : out.words) {
        if (w.start < 0) {
            continue;
        }
        long f = frame_at(w.start);
        long e = frame_at(w.end);
        while (f < e && f < static_cast<long>(energy.size()) && energy[static_cast<size_t>(f)] < quiet) {
            f++;
        }
        w.start = std::max(w.start, f / 200.0);
    }
    double previous_end = 0.0;
    for (true_word & w : out.words) {
        if (w.start < 0) {
            continue;
        }
        w.after_pause = w.start - previous_end > pause_gap_s;
        previous_end  = w.end;
    }
    return true;
}
