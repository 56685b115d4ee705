// Building benchmark recordings: joining synthesised turns with pauses, and adding white noise.
#include "corpus_building.h"
#include "turn_level.h"

#include "wav_io.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

constexpr int    kRate             = 16000;
constexpr double kLeadSeconds      = 0.5;
constexpr double kMinPause         = 0.3;
constexpr double kMaxPause         = 1.5;
constexpr double kTurnWidening     = 0.1;
constexpr double kSecondsPerSample = 1.0 / kRate;

// splitmix64: small, fast, and the same sequence on every platform.
struct Generator {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z          = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z          = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

uint64_t name_seed(const std::string & prefix) {
    const std::string name = prefix.substr(prefix.find_last_of('/') + 1);
    uint64_t          h    = 0xcbf29ce484222325ULL; // FNV-1a
    for (const char c : name) {
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return h;
}

struct Word {
    std::string text;
    double      start = 0, end = 0;
};

struct Turn {
    std::string       speaker;
    Pcm16             audio;
    std::vector<Word> words;
    double            offset = 0; // where the turn's audio starts in the joined recording
};

std::string lower(std::string s) {
    for (auto & c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

bool read_turn(const std::string & speaker, const std::string & wav, const std::string & words, Turn & turn) {
    std::string error;
    if (!read_pcm16(wav, turn.audio, error) || turn.audio.rate != kRate) {
        std::fprintf(stderr, "%s\n", error.empty() ? (wav + " is not 16 kHz").c_str() : error.c_str());
        return false;
    }
    turn.speaker = speaker;
    std::ifstream in(words);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", words.c_str());
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Word               w;
        if (fields >> w.text >> w.start >> w.end) {
            w.text = lower(w.text);
            turn.words.push_back(w);
        }
    }
    if (turn.words.empty()) {
        std::fprintf(stderr, "%s holds no words\n", words.c_str());
        return false;
    }
    return true;
}

} // namespace

int join_turns(const std::string & list, const std::string & prefix, bool timed, double min_gap, double max_gap) {
    std::ifstream in(list);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", list.c_str());
        return 1;
    }
    std::vector<Turn> turns;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string        speaker, wav, words;
        if (!(fields >> speaker >> wav >> words)) {
            continue;
        }
        turns.emplace_back();
        if (!read_turn(speaker, wav, words, turns.back())) {
            return 1;
        }
    }
    if (turns.empty()) {
        std::fprintf(stderr, "%s names no turns\n", list.c_str());
        return 1;
    }

    Generator pauses{ name_seed(prefix) };
    Pcm16     joined;
    joined.rate = kRate;
    joined.samples.assign(static_cast<size_t>(kLeadSeconds * kRate), 0);
    // A gap is measured from the last word's end to the next turn's first word; a negative one overlaps
    // the turns, their samples added.
    const bool from_words = min_gap < max_gap || min_gap != kMinPause;
    for (size_t i = 0; i < turns.size(); i++) {
        const auto at    = static_cast<long>(joined.samples.size());
        long       start = at;
        if (i > 0 && !from_words) {
            const double pause = kMinPause + (kMaxPause - kMinPause) * pauses.uniform();
            start += std::lround(pause * kRate);
        } else if (i > 0) {
            const Turn & before = turns[i - 1];
            const double gap    = min_gap + (max_gap - min_gap) * pauses.uniform();
            const double end    = before.offset + before.words.back().end;
            start               = std::max(0L, std::lround((end + gap - turns[i].words.front().start) * kRate));
        }
        const size_t length = turns[i].audio.samples.size();
        joined.samples.resize(std::max(joined.samples.size(), static_cast<size_t>(start) + length), 0);
        for (size_t k = 0; k < length; k++) {
            const long v = joined.samples[static_cast<size_t>(start) + k] + turns[i].audio.samples[k];
            joined.samples[static_cast<size_t>(start) + k] = static_cast<int16_t>(std::clamp(v, -32768L, 32767L));
        }
        turns[i].offset = static_cast<double>(start) * kSecondsPerSample;
    }
    if (!write_pcm16(prefix + ".wav", joined)) {
        std::fprintf(stderr, "cannot write %s.wav\n", prefix.c_str());
        return 1;
    }

    std::ofstream txt(prefix + ".txt");
    bool          first_word = true;
    for (const auto & t : turns) {
        for (const auto & w : t.words) {
            txt << (first_word ? "" : " ") << w.text;
            first_word = false;
        }
    }
    txt << '\n';
    if (!timed) {
        return txt ? 0 : 1;
    }

    const double  duration = static_cast<double>(joined.samples.size()) * kSecondsPerSample;
    std::ofstream ref(prefix + ".ref"), extra(prefix + ".extra"), turn_file(prefix + ".turns");
    char          buf[160];
    for (size_t i = 0; i < turns.size(); i++) {
        const Turn & t     = turns[i];
        double       first = t.offset + t.words.front().start, last = t.offset + t.words.back().end;
        double       start = std::max(0.0, first - kTurnWidening), end = std::min(duration, last + kTurnWidening);
        if (i > 0) {
            start = std::max(start, std::min(first, (turns[i - 1].offset + turns[i - 1].words.back().end + first) / 2));
        }
        if (i + 1 < turns.size()) {
            end = std::min(end, std::max(last, (last + turns[i + 1].offset + turns[i + 1].words.front().start) / 2));
        }
        std::snprintf(buf, sizeof buf, "%.3f %.3f %s\n", start, end, t.speaker.c_str());
        turn_file << buf;
        for (const auto & w : t.words) {
            std::snprintf(buf, sizeof buf, "%.3f %.3f %s %s\n", t.offset + w.start, t.offset + w.end, t.speaker.c_str(),
                          w.text.c_str());
            ref << buf;
            std::snprintf(buf, sizeof buf, "%.3f %s\n", t.offset + w.start, w.text.c_str());
            extra << buf;
        }
    }
    return (ref && extra && turn_file && txt) ? 0 : 1;
}

int add_white_noise(const std::string & in, const std::string & turns, double snr_db, const std::string & out,
                    const std::string & noise_wav) {
    Pcm16       audio;
    std::string error;
    if (!read_pcm16(in, audio, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double speech_rms = speech_rms_in_turns(audio, turns);
    if (speech_rms < 0) {
        std::fprintf(stderr, "%s names no speech in %s\n", turns.c_str(), in.c_str());
        return 1;
    }
    const double noise_rms = speech_rms * std::pow(10.0, -snr_db / 20);
    // A recorded noise (babble) is looped and brought to unit level.
    Pcm16  recorded;
    double recorded_rms = 0;
    if (!noise_wav.empty()) {
        if (!read_pcm16(noise_wav, recorded, error) || recorded.samples.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        for (const int16_t v : recorded.samples) {
            recorded_rms += static_cast<double>(v) * v;
        }
        recorded_rms = std::sqrt(recorded_rms / static_cast<double>(recorded.samples.size()));
    }
    // Sum of 12 uniform draws less 6: unit variance, near-Gaussian, and bit-exact everywhere (no libm calls).
    Generator noise{ 0x5eed2024ULL };
    for (size_t i = 0; i < audio.samples.size(); i++) {
        int16_t & s = audio.samples[i];
        double    g = -6;
        if (recorded_rms > 0) {
            g = recorded.samples[i % recorded.samples.size()] / recorded_rms;
        } else {
            for (int k = 0; k < 12; k++) {
                g += noise.uniform();
            }
        }
        const long v = std::lround(static_cast<double>(s) + noise_rms * g);
        s            = static_cast<int16_t>(std::clamp(v, -32768L, 32767L));
    }
    if (!write_pcm16(out, audio)) {
        std::fprintf(stderr, "cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("speech_rms=%.1f noise_rms=%.1f\n", speech_rms, noise_rms);
    return 0;
}
