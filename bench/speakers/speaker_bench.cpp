// Scores speaker finding on one recording against its reference words (`start end speaker word` lines):
//
//   speaker_bench WAV REF [N] [SETTING=VALUE ...]
//
// prints `found=K true=T words=WRONG/ALL der=D.DDD scored_s=S cpu_s=C audio_s=A added_mib=M stretches=S/HASH`:
// voices found and spoken, reference words whose middle lies in another voice's stretch under the best
// one-to-one mapping of found voices onto speakers, the diarization error (missed, false and confused speech
// over the reference speech, 10 ms frames, 0.25 s either side of a reference boundary not scored), and the
// number of stretches found with a hash of them (the same hash: the same stretches). N fixes the count (0:
// found); added_mib is the peak memory speaker finding added to the loaded recording's (the peak is reset after
// loading where the system allows, so that the load's own passing peak does not hide it). SETTING names a field
// of the engine's speaker finding settings, for tuning.

#include "engine/kelvo_asr.h"
#include "engine/speakers/voice_finding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fstream>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

// A field of /proc/self/status in KiB (VmRSS, VmHWM); -1 when it cannot be read.
long status_kib(const char * field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field, 0) == 0 && line.size() > std::strlen(field) && line[std::strlen(field)] == ':') {
            return std::atol(line.c_str() + std::strlen(field) + 1);
        }
    }
    return -1;
}

// Sets the peak resident size to the present one; false where the system does not allow it.
bool reset_peak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

struct ref_word {
    double      start = 0, end = 0;
    int         speaker = 0;
    std::string text;
};

bool set_value(kelvo_asr::voice_finding_settings & s, const std::string & item) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    const std::string                key = item.substr(0, eq);
    const double                     v   = std::atof(item.c_str() + eq + 1);
    std::map<std::string, double *>  doubles{ { "speech_margin_db", &s.speech_margin_db },
                                             { "ridge", &s.ridge },
                                             { "change_penalty", &s.change_penalty },
                                             { "merge_penalty", &s.merge_penalty },
                                             { "switch_penalty", &s.switch_penalty },
                                             { "voice_distance", &s.voice_distance },
                                             { "speech_margin_share", &s.speech_margin_share },
                                             { "high_voice_distance", &s.high_voice_distance },
                                             { "high_pitch", &s.high_pitch },
                                             { "pitch_apart", &s.pitch_apart },
                                             { "noisy_span_db", &s.noisy_span_db },
                                             { "steady_spread_db", &s.steady_spread_db },
                                             { "noise_margin_db", &s.noise_margin_db } };
    std::map<std::string, int32_t *> ints{
        { "change_window", &s.change_window },       { "change_step", &s.change_step },
        { "min_stretch", &s.min_stretch },           { "smooth_frames", &s.smooth_frames },
        { "resegment_rounds", &s.resegment_rounds }, { "min_voice_frames", &s.min_voice_frames },
        { "place_window", &s.place_window }
    };
    if (doubles.count(key) != 0) {
        *doubles[key] = v;
        return true;
    }
    if (ints.count(key) != 0) {
        *ints[key] = static_cast<int32_t>(v);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char ** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: speaker_bench WAV REF [N] [SETTING=VALUE ...]\n");
        return 2;
    }
    std::vector<float> samples;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(argv[1], samples, rate) || rate != 16000) {
        std::fprintf(stderr, "cannot read %s as 16 kHz audio\n", argv[1]);
        return 1;
    }
    std::vector<ref_word>      words;
    std::map<std::string, int> speakers;
    std::ifstream              in(argv[2]);
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        ref_word           w;
        std::string        who;
        if (f >> w.start >> w.end >> who) {
            f >> w.text;
            w.speaker = speakers.emplace(who, static_cast<int>(speakers.size()) + 1).first->second;
            words.push_back(w);
        }
    }
    int                               n_fixed = 0;
    kelvo_asr::voice_finding_settings settings;
    for (int i = 3; i < argc; i++) {
        if (!set_value(settings, argv[i])) {
            n_fixed = std::atoi(argv[i]);
        }
    }
    const bool reset     = reset_peak();
    const long rss_start = status_kib("VmRSS");
    rusage     before{};
    getrusage(RUSAGE_SELF, &before);
    const std::clock_t c0 = std::clock();
    const auto         found =
        kelvo_asr::find_voice_stretches(samples.data(), static_cast<int32_t>(samples.size()), n_fixed, settings);
    const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    rusage       after{};
    getrusage(RUSAGE_SELF, &after);
    const long peak    = status_kib("VmHWM");
    const long added   = reset && rss_start >= 0 && peak >= 0 ? peak - rss_start : after.ru_maxrss - before.ru_maxrss;
    int        n_found = 0;
    for (const auto & v : found) {
        n_found = std::max(n_found, v.voice);
    }
    const int n_true = static_cast<int>(speakers.size());

    // Frames: reference speakers (a bit mask) and the found voice; boundaries of reference speech.
    const auto           n_frames = static_cast<size_t>(samples.size() / 160 + 1);
    std::vector<int>     ref(n_frames, 0), hyp(n_frames, 0);
    std::vector<uint8_t> skip(n_frames, 0);
    // A speaker's words closer than 0.3 s are one stretch of speech.
    std::map<int, double> last_end;
    for (const ref_word & w : words) {
        const auto   before = last_end.find(w.speaker);
        const double from   = before != last_end.end() && w.start - before->second < 0.3 ? before->second : w.start;
        for (auto f = static_cast<size_t>(from * 100); f < std::min(n_frames, static_cast<size_t>(w.end * 100)); f++) {
            ref[f] |= 1 << w.speaker;
        }
        last_end[w.speaker] = w.end;
    }
    for (const auto & v : found) {
        for (auto f = static_cast<size_t>(v.start / 160); f < std::min(n_frames, static_cast<size_t>(v.end / 160));
             f++) {
            hyp[f] = v.voice;
        }
    }
    // Reference boundaries: where the set of speakers changes.
    for (size_t f = 1; f < n_frames; f++) {
        if (ref[f] != ref[f - 1]) {
            for (size_t g = f > 25 ? f - 25 : 0; g < std::min(n_frames, f + 25); g++) {
                skip[g] = 1;
            }
        }
    }
    // Best one-to-one mapping of found voices onto speakers, by overlap (every permutation when small).
    std::vector<std::vector<double>> overlap(static_cast<size_t>(n_found + 1),
                                             std::vector<double>(static_cast<size_t>(n_true + 1), 0));
    for (size_t f = 0; f < n_frames; f++) {
        for (int s = 1; s <= n_true; s++) {
            if (hyp[f] > 0 && (ref[f] & (1 << s)) != 0) {
                overlap[static_cast<size_t>(hyp[f])][static_cast<size_t>(s)] += 1;
            }
        }
    }
    const int        n_slots = std::max(n_found, n_true);
    std::vector<int> perm(static_cast<size_t>(n_slots));
    std::iota(perm.begin(), perm.end(), 1);
    std::vector<int> map_best;
    double           best_score = -1;
    do {
        double score = 0;
        for (int h = 1; h <= n_found; h++) {
            const int s = perm[static_cast<size_t>(h - 1)];
            score += s <= n_true ? overlap[static_cast<size_t>(h)][static_cast<size_t>(s)] : 0;
        }
        if (score > best_score) {
            best_score = score;
            map_best   = perm;
        }
    } while (n_slots <= 8 && std::next_permutation(perm.begin(), perm.end()));
    auto mapped = [&](int h) { return h == 0 ? 0 : map_best[static_cast<size_t>(h - 1)]; };

    double scored = 0, error = 0;
    for (size_t f = 0; f < n_frames; f++) {
        if (skip[f] != 0) {
            continue;
        }
        const int n_ref   = __builtin_popcount(static_cast<unsigned>(ref[f]));
        const int n_hyp   = hyp[f] > 0 ? 1 : 0;
        const int correct = n_hyp == 1 && (ref[f] & (1 << mapped(hyp[f]))) != 0 ? 1 : 0;
        scored += n_ref;
        error += std::max(n_ref, n_hyp) - correct;
    }
    int wrong = 0;
    // With SPEAKER_BENCH_WRONG set, each wrong word goes to stderr with the nearest change of the speaker
    // spoken and of the voice found (seconds; a found change after the true one is late).
    const bool          list_wrong = std::getenv("SPEAKER_BENCH_WRONG") != nullptr;
    std::vector<double> true_changes;
    std::vector<double> found_changes;
    for (size_t i = 1; i < words.size(); i++) {
        if (words[i].speaker != words[i - 1].speaker) {
            true_changes.push_back(0.5 * (words[i - 1].end + words[i].start));
        }
    }
    for (size_t i = 1; i < found.size(); i++) {
        if (found[i].voice != found[i - 1].voice) {
            found_changes.push_back(0.5 * (found[i - 1].end + found[i].start) / 16000.0);
        }
    }
    auto nearest = [](const std::vector<double> & at, double t) {
        double best = 1e9;
        for (const double x : at) {
            best = std::fabs(x - t) < std::fabs(best - t) ? x : best;
        }
        return best;
    };
    if (list_wrong) {
        for (const auto & v : found) {
            std::fprintf(stderr, "stretch %7.2f-%7.2f voice=%d\n", v.start / 16000.0, v.end / 16000.0, mapped(v.voice));
        }
        for (const double tc : true_changes) {
            const double fc = nearest(found_changes, tc);
            std::fprintf(stderr, "change true=%7.2f found=%7.2f (%+.2f)\n", tc, fc, fc - tc);
        }
    }
    for (const ref_word & w : words) {
        const int  said = mapped(kelvo_asr::voice_at(found, 0.5 * (w.start + w.end) * 16000.0));
        const bool bad  = said != w.speaker;
        wrong += bad ? 1 : 0;
        if (bad && list_wrong) {
            const double mid = 0.5 * (w.start + w.end);
            const double tc  = nearest(true_changes, mid);
            const double fc  = nearest(found_changes, tc);
            std::fprintf(stderr, "wrong %7.2f-%7.2f %-12s spk=%d got=%d true_change=%7.2f found_change=%7.2f (%+.2f)\n",
                         w.start, w.end, w.text.c_str(), w.speaker, said, tc, fc, fc - tc);
        }
    }
    // A hash of the stretches found, to tell at a glance whether two builds found the same.
    uint64_t hash = 14695981039346656037ull;
    for (const auto & v : found) {
        for (const int32_t x : { v.start, v.end, v.voice }) {
            hash = (hash ^ static_cast<uint32_t>(x)) * 1099511628211ull;
        }
    }
    std::printf("found=%d true=%d words=%d/%zu der=%.4f scored_s=%.1f cpu_s=%.3f audio_s=%.1f added_mib=%.1f "
                "stretches=%zu/%016llx\n",
                n_found, n_true, wrong, words.size(), scored > 0 ? error / scored : 0.0, scored / 100, cpu,
                static_cast<double>(samples.size()) / 16000.0, static_cast<double>(added) / 1024.0, found.size(),
                static_cast<unsigned long long>(hash));
    return 0;
}
