// Alignment benchmark: speaks a passage with the speech synthesiser, takes the word times it reports as
// the truth, aligns the known text with the engine and prints how far the aligned times are off; also
// aligns the reference texts of recorded clips and compares alignment time with recognition time.
//
// Usage: alignment_bench MODEL_FOLDER CLIPS_FOLDER

#include "engine/kelvo_asr.h"
#include "synthesised_speech.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// Passages spoken one by one; each is one aligned segment.
const char * const passages[] = {
    "Mister Dashwood had then leisure to consider how much there might be in his power to do for them. "
    "He was not an ill disposed young man, unless to be rather cold hearted is to be ill disposed.",
    "Um, I think we should, uh, leave at 7 tomorrow. Marianne said the train is on platform 35, "
    "and it's the 2nd one after the 1995 express. Don't be late, Elinor.",
    "In 1842 the company built 12 ships. By 2019 it had 1,200 workers, and they'd sold more than "
    "300 engines to Kowalski and Nakamura, who weren't, uh, happy about the price.",
    "She opened the window. Outside, the rain had stopped. Somewhere a dog barked twice, "
    "and then the street was quiet again. We'll see, she said. We'll see.",
    "Um, so the thing is, uh, nobody really knows. Professor Okonkwo thinks the 3rd sample was "
    "contaminated, but Doctor Lindqvist isn't sure. They can't both be right.",
    "The recipe needs 250 grams of flour, 2 eggs and a pinch of salt. Mix it well. "
    "Let it rest for 30 minutes, then bake it until it's golden.",
    "Rock'n'roll was loud that summer. Jimmy and Rosalind drove to Albuquerque in a red car, "
    "singing all the way. It was, um, the best week of their lives.",
    "Please remember the meeting on the 21st. Bring the report, the charts and your questions. "
    "If you can't come, uh, send Theodore instead.",
    "The river runs north for about 400 miles before it turns east. Fishermen say the water "
    "is coldest in March, when the snow melts in the mountains.",
    "Wait. Did you hear that? I'm not sure, but I think someone is at the door. "
    "Hello? Is anybody there? No answer. Just the wind, I suppose.",
};

const voice_setting voices[] = {
    { "en-us", 160 }, { "en-us+m3", 200 }, { "en+f2", 140 }, { "en-us+f4", 180 }, { "en+m5", 220 },
};

struct error_stats {
    std::vector<double> start_err;
    std::vector<double> end_err;
    double              start_bias = 0.0; // sum of signed start errors (aligned - true)
    double              end_bias   = 0.0;
    int                 untimed    = 0;
    int                 lost       = 0;
    int                 words      = 0;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    size_t at = static_cast<size_t>(std::min<double>(v.size() - 1, std::floor(p * (v.size() - 1) + 0.5)));
    return v[at];
}

double share_within(const std::vector<double> & v, double limit) {
    if (v.empty()) {
        return 0.0;
    }
    size_t n = 0;
    for (double x : v) {
        n += x <= limit ? 1 : 0;
    }
    return 100.0 * static_cast<double>(n) / static_cast<double>(v.size());
}

void print_errors(const char * title, const std::vector<double> & e) {
    double mean = 0.0;
    for (double x : e) {
        mean += x;
    }
    mean = e.empty() ? 0.0 : mean / static_cast<double>(e.size());
    std::printf(
        "  %-22s n=%4zu  mean %6.1f ms  median %6.1f ms  p90 %6.1f ms  within 20/50/100 ms: %5.1f%% %5.1f%% %5.1f%%\n",
        title, e.size(), mean * 1000, percentile(e, 0.5) * 1000, percentile(e, 0.9) * 1000, share_within(e, 0.020),
        share_within(e, 0.050), share_within(e, 0.100));
}

// Aligns every passage and gathers the errors of all words and of words after a pause.
void measure(kelvo_asr::ForcedAligner & aligner, const std::vector<passage_audio> & set, error_stats & all,
             error_stats & after_pause, double & seconds, bool verbose, bool denoise = false) {
    seconds = 0.0;
    for (const passage_audio & p : set) {
        auto                        t0 = std::chrono::steady_clock::now();
        kelvo_asr::alignment_result r =
            aligner.align(p.samples.data(), static_cast<int32_t>(p.samples.size()), p.text, "en-us", denoise);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!r.success || r.words.size() != p.words.size()) {
            all.lost += static_cast<int>(p.words.size());
            std::printf("  alignment failed or lost words: %s\n", r.error.c_str());
            continue;
        }
        for (size_t i = 0; i < p.words.size(); i++) {
            const true_word &               w = p.words[i];
            const kelvo_asr::aligned_word & a = r.words[i];
            all.words++;
            if (a.text != w.key) {
                all.lost++;
            }
            bool untimed = (a.end - a.start) < 0.001f;
            all.untimed += untimed ? 1 : 0;
            if (w.start < 0) {
                if (verbose) {
                    std::printf("    %-12s no word event  aligned %7.3f-%7.3f  (%s)\n", w.key.c_str(), a.start, a.end,
                                p.voice.c_str());
                }
                continue; // no word event for this token: no truth to compare with
            }
            double es = std::abs(a.start - w.start);
            double ee = std::abs(a.end - w.end);
            all.start_bias += a.start - w.start;
            if (w.end_known) {
                all.end_bias += a.end - w.end;
                all.end_err.push_back(ee);
            }
            all.start_err.push_back(es);
            if (w.after_pause) {
                after_pause.words++;
                after_pause.untimed += untimed ? 1 : 0;
                after_pause.start_bias += a.start - w.start;
                after_pause.start_err.push_back(es);
                if (w.end_known) {
                    after_pause.end_bias += a.end - w.end;
                    after_pause.end_err.push_back(ee);
                }
            }
            if (verbose && (es > 0.05 || (w.end_known && ee > 0.05))) {
                std::printf("    %-12s true %7.3f-%7.3f  aligned %7.3f-%7.3f%s  (%s)\n", w.key.c_str(), w.start, w.end,
                            a.start, a.end, w.after_pause ? "  after pause" : "", p.voice.c_str());
            }
        }
    }
}

void report(const char * title, const error_stats & all, const error_stats & after_pause) {
    std::printf("%s\n", title);
    std::printf("  words %d, lost %d, untimed %d (%.2f%%)\n", all.words, all.lost, all.untimed,
                all.words ? 100.0 * all.untimed / all.words : 0.0);
    if (!all.start_err.empty()) {
        std::printf("  mean signed error (aligned - true): start %+.1f ms, end %+.1f ms\n",
                    1000 * all.start_bias / all.start_err.size(), 1000 * all.end_bias / all.end_err.size());
    }
    print_errors("start error", all.start_err);
    print_errors("end error", all.end_err);
    if (!after_pause.start_err.empty()) {
        std::printf("  after a pause, mean signed error: start %+.1f ms, end %+.1f ms\n",
                    1000 * after_pause.start_bias / after_pause.start_err.size(),
                    1000 * after_pause.end_bias / after_pause.end_err.size());
    }
    print_errors("start after a pause", after_pause.start_err);
    print_errors("end after a pause", after_pause.end_err);
}

std::vector<passage_audio> with_noise(const std::vector<passage_audio> & set, double snr_db) {
    std::mt19937                     rng(20260101u);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<passage_audio>       out = set;
    for (passage_audio & p : out) {
        // Speech power over the frames that are not silence.
        std::vector<double> e    = frame_energy(p.samples);
        double              peak = *std::max_element(e.begin(), e.end());
        double              sum  = 0.0;
        size_t              n    = 0;
        for (double x : e) {
            if (x >= 0.01 * peak) {
                sum += x * x;
                n++;
            }
        }
        double noise_rms = std::sqrt((n ? sum / n : 0.0) / std::pow(10.0, snr_db / 10.0));
        for (float & s : p.samples) {
            s = static_cast<float>(std::clamp(s + noise_rms * gauss(rng), -1.0, 1.0));
        }
    }
    return out;
}

} // namespace

int main(int argc, char ** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s MODEL_FOLDER CLIPS_FOLDER [--verbose] [--quick]\n", argv[0]);
        return 2;
    }
    const std::string model_folder = argv[1];
    const std::string clips_folder = argv[2];
    bool              verbose      = false;
    bool              quick        = false; // skip the recognition timing
    for (int i = 3; i < argc; i++) {
        verbose = verbose || std::string(argv[i]) == "--verbose";
        quick   = quick || std::string(argv[i]) == "--quick";
    }

    int espeak_rate = speech_synthesiser_start();
    if (espeak_rate <= 0) {
        std::fprintf(stderr, "the speech synthesiser did not start\n");
        return 1;
    }
    std::vector<passage_audio> set;
    size_t                     n_passages = sizeof(passages) / sizeof(passages[0]);
    size_t                     n_voices   = sizeof(voices) / sizeof(voices[0]);
    for (size_t round = 0; round < 2; round++) {
        for (size_t i = 0; i < n_passages; i++) {
            passage_audio p;
            if (!synthesize(passages[i], voices[(i + round * 3) % n_voices], espeak_rate, p)) {
                std::fprintf(stderr, "synthesis failed\n");
                return 1;
            }
            set.push_back(std::move(p));
        }
    }
    double audio_seconds = 0.0;
    for (const passage_audio & p : set) {
        audio_seconds += static_cast<double>(p.samples.size()) / speech_rate;
    }

    kelvo_asr::ForcedAligner aligner;
    if (!aligner.load_model(model_folder)) {
        std::fprintf(stderr, "could not load the aligner: %s\n", aligner.last_error().c_str());
        return 1;
    }
    std::printf("synthesised set: %zu passages, %.1f s of audio, %zu voice settings\n", set.size(), audio_seconds,
                n_voices);
    error_stats clean;
    error_stats clean_pause;
    double      align_seconds = 0.0;
    measure(aligner, set, clean, clean_pause, align_seconds, verbose);
    report("clean speech", clean, clean_pause);

    std::vector<passage_audio> noisy = with_noise(set, 20.0);
    error_stats                noisy_all;
    error_stats                noisy_pause;
    double                     noisy_seconds = 0.0;
    measure(aligner, noisy, noisy_all, noisy_pause, noisy_seconds, verbose);
    report("white noise at 20 dB SNR", noisy_all, noisy_pause);
    error_stats cleaned_all;
    error_stats cleaned_pause;
    measure(aligner, noisy, cleaned_all, cleaned_pause, noisy_seconds, verbose, true);
    report("the same, cleaned", cleaned_all, cleaned_pause);
    error_stats clean_denoised;
    error_stats clean_denoised_pause;
    double      clean_denoised_seconds = 0.0;
    measure(aligner, set, clean_denoised, clean_denoised_pause, clean_denoised_seconds, verbose, true);
    report("clean speech, cleaning on", clean_denoised, clean_denoised_pause);

    // Recorded clips with their reference texts.
    std::ifstream in(clips_folder + "/transcription");
    std::string   line;
    int           clip_words = 0;
    int           clip_timed = 0;
    while (std::getline(in, line)) {
        size_t open  = line.rfind('(');
        size_t close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) {
            continue;
        }
        std::string id = line.substr(open + 1, close - open - 1);
        std::string text;
        std::string cur;
        for (char ch : line.substr(0, open) + " ") {
            if (ch == ' ') {
                if (!cur.empty() && cur != "<s>" && cur != "</s>") {
                    text += (text.empty() ? "" : " ") + cur;
                }
                cur.clear();
            } else {
                cur += ch;
            }
        }
        std::vector<float> samples;
        int32_t            rate = 0;
        if (!kelvo_asr::load_audio_file(clips_folder + "/" + id + ".wav", samples, rate) || rate != speech_rate) {
            continue;
        }
        kelvo_asr::alignment_result r =
            aligner.align(samples.data(), static_cast<int32_t>(samples.size()), text, "en-us");
        for (const auto & w : r.words) {
            clip_words++;
            clip_timed += (w.end - w.start) >= 0.001f ? 1 : 0;
        }
    }
    std::printf("recorded clips: %d reference words, %.2f%% with non-zero duration\n", clip_words,
                clip_words ? 100.0 * clip_timed / clip_words : 0.0);

    if (quick) {
        return 0;
    }
    // Alignment time against recognition time for the same audio.
    kelvo_asr::KelvoASR asr;
    if (!asr.load_model(model_folder)) {
        std::fprintf(stderr, "could not load the speech model: %s\n", asr.last_error().c_str());
        return 1;
    }
    kelvo_asr::transcribe_params params;
    params.print_log         = false;
    double recognise_seconds = 0.0;
    for (const passage_audio & p : set) {
        auto t0 = std::chrono::steady_clock::now();
        asr.transcribe(p.samples.data(), static_cast<int32_t>(p.samples.size()), params);
        recognise_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    std::printf("time for %.1f s of audio: alignment %.2f s, recognition %.2f s (alignment is %.1f%% of it)\n",
                audio_seconds, align_seconds, recognise_seconds,
                recognise_seconds > 0 ? 100.0 * align_seconds / recognise_seconds : 0.0);
    return 0;
}
