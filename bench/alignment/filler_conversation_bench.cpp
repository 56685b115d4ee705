// Filler restoration benchmark: a two-speaker conversation with hesitations spoken in it, synthesised with
// known word times. The tool runs on it with a turns file and an extra-words file that holds every spoken
// word with its time, as another transcription of the same recording would, and once without the extra
// words. Prints how many spoken fillers came back marked as added, how many of those start within 0.3 s
// of where the filler was spoken, and whether the other words stayed as they were.
//
// Usage: filler_conversation_bench TOOL MODEL_FOLDER WORK_FOLDER

#include "engine/kelvo_asr.h"
#include "synthesised_speech.h"
#include "words/words.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct conversation_turn {
    char         who;
    const char * text;
};

// Speaker P and speaker C take turns; "um" and "uh" are spoken as the hesitation sounds.
const conversation_turn conversation[] = {
    { 'P', "So, um, did you get a chance to read the report I sent on Monday?" },
    { 'C', "I did, yes. It was, uh, longer than I expected, but the numbers look right to me." },
    { 'P', "Good. I was worried about the second table. Um, the totals did not add up at first." },
    { 'C', "They add up now. I think the only question is, uh, when we send it to the board." },
    { 'P', "Well, the meeting is on Thursday, so, um, we could send it on Wednesday morning." },
    { 'C', "That works for me. Uh, should I write the summary, or will you?" },
    { 'P', "You write it. You know the figures better than I do. Um, keep it to one page." },
    { 'C', "One page is fine. I will send you a draft tomorrow, uh, before lunch." },
    { 'P', "Thank you. And, um, please copy Margaret, she asked about the budget again." },
    { 'C', "Of course. Is there anything else we need before Thursday?" },
    { 'P', "No, uh, I think that is everything. Let us talk again after the meeting." },
    { 'C', "Sounds good. Have a nice evening." },
};

// The conversation is spoken twice, by a different pair of voices each time.
const voice_setting speaker_voices[2][2] = {
    { { "en-us", 165 }, { "en+f2", 150 } },
    { { "en-us+m3", 185 }, { "en-us+f4", 170 } },
};

constexpr double turn_gap_s = 0.4; // silence between turns, besides each turn's own padding
constexpr double near_limit = 0.3;

struct doc_word {
    std::string text;
    double      start = 0.0;
    double      end   = 0.0;
    bool        added = false;
};

// The words of a one-line words document, in order (this tool's own output; no general JSON reader).
std::string lower_case(std::string text) {
    for (char & c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<doc_word> parse_document(const std::string & doc) {
    std::vector<doc_word> words;
    size_t                at = 0;
    while ((at = doc.find("{\"text\":\"", at)) != std::string::npos) {
        at += 9;
        doc_word w;
        while (at < doc.size() && doc[at] != '"') {
            if (doc[at] == '\\' && at + 1 < doc.size()) {
                at++;
            }
            w.text += doc[at++];
        }
        size_t close = doc.find('}', at);
        size_t s     = doc.find("\"start\":", at);
        size_t e     = doc.find("\"end\":", at);
        if (close == std::string::npos || s == std::string::npos || e == std::string::npos) {
            break;
        }
        w.start = std::atof(doc.c_str() + s + 8);
        w.end   = std::atof(doc.c_str() + e + 6);
        w.added = doc.find("\"added\":true", at) < close;
        words.push_back(w);
        at = close;
    }
    return words;
}

// Runs `command` and returns its standard output; `status` gets its exit status.
std::string run_command(const std::string & command, int & status) {
    std::string out;
    FILE *      pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char   buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        out.append(buffer, n);
    }
    status = pclose(pipe);
    return out;
}

bool write_wav(const std::string & path, const std::vector<float> & samples) {
    std::ofstream out(path, std::ios::binary);
    auto          put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char *>(&v), 4); };
    auto          put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char *>(&v), 2); };
    const auto    bytes = static_cast<uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    put32(36 + bytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(1);
    put32(speech_rate);
    put32(speech_rate * 2);
    put16(2);
    put16(16);
    out.write("data", 4);
    put32(bytes);
    for (float s : samples) {
        put16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f))));
    }
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char ** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s TOOL MODEL_FOLDER WORK_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string tool        = argv[1];
    const std::string model       = argv[2];
    const std::string folder      = argv[3];
    const int         espeak_rate = speech_synthesiser_start();
    if (espeak_rate <= 0) {
        std::fprintf(stderr, "the speech synthesiser did not start\n");
        return 1;
    }

    // The recording, its turns and its extra words, every word at the time it was spoken.
    std::vector<float>  audio;
    std::string         turns;
    std::string         extra;
    std::vector<double> filler_starts;
    size_t              spoken_words = 0;
    char                line[256];
    for (size_t i = 0; i < 2 * std::size(conversation); i++) {
        const conversation_turn & turn  = conversation[i % std::size(conversation)];
        const voice_setting &     voice = speaker_voices[i / std::size(conversation)][turn.who == 'P' ? 0 : 1];
        passage_audio             p;
        if (!synthesize(turn.text, voice, espeak_rate, p)) {
            std::fprintf(stderr, "synthesis failed\n");
            return 1;
        }
        const double offset = static_cast<double>(audio.size()) / speech_rate;
        const double length = static_cast<double>(p.samples.size()) / speech_rate;
        std::snprintf(line, sizeof(line), "%.3f %.3f %c\n", offset + 0.1, offset + length - 0.1, turn.who);
        turns += line;
        for (const true_word & w : p.words) {
            if (w.start < 0) {
                continue;
            }
            spoken_words++;
            std::snprintf(line, sizeof(line), "%.3f %s\n", offset + w.start, w.key.c_str());
            extra += line;
            if (is_filler(lower_case(w.key))) {
                filler_starts.push_back(offset + w.start);
            }
        }
        audio.insert(audio.end(), p.samples.begin(), p.samples.end());
        audio.insert(audio.end(), static_cast<size_t>(turn_gap_s * speech_rate), 0.0f);
    }
    const std::string wav_path   = folder + "/conversation.wav";
    const std::string turns_path = folder + "/turns.txt";
    const std::string extra_path = folder + "/extra.txt";
    std::ofstream(turns_path) << turns;
    std::ofstream(extra_path) << extra;
    if (!write_wav(wav_path, audio)) {
        std::fprintf(stderr, "could not write %s\n", wav_path.c_str());
        return 1;
    }

    const std::string base = "'" + tool + "' --asr '" + model + "' --aligner '" + model + "' --audio '" + wav_path +
                             "' --turns '" + turns_path + "'";
    int               plain_status    = 0;
    int               restored_status = 0;
    const std::string plain_doc       = run_command(base + " 2>/dev/null", plain_status);
    const std::string restored_doc =
        run_command(base + " --extra-words '" + extra_path + "' 2>/dev/null", restored_status);
    if (plain_status != 0 || restored_status != 0) {
        std::fprintf(stderr, "the tool failed:\n%s\n%s\n", plain_doc.c_str(), restored_doc.c_str());
        return 1;
    }
    const std::vector<doc_word> plain    = parse_document(plain_doc);
    const std::vector<doc_word> restored = parse_document(restored_doc);

    // Each added filler is paired with the nearest spoken filler not yet taken.
    std::vector<bool>     taken(filler_starts.size(), false);
    size_t                added = 0;
    size_t                near  = 0;
    std::vector<doc_word> kept;
    std::printf("added fillers (start, nearest spoken filler, difference):\n");
    for (const doc_word & w : restored) {
        if (!w.added) {
            kept.push_back(w);
            continue;
        }
        added++;
        size_t best = filler_starts.size();
        for (size_t k = 0; k < filler_starts.size(); k++) {
            if (!taken[k] && (best == filler_starts.size() ||
                              std::abs(filler_starts[k] - w.start) < std::abs(filler_starts[best] - w.start))) {
                best = k;
            }
        }
        if (best == filler_starts.size()) {
            std::printf("  %-4s %7.3f  (no spoken filler left)\n", w.text.c_str(), w.start);
            continue;
        }
        taken[best]         = true;
        const double offset = w.start - filler_starts[best];
        near += std::abs(offset) <= near_limit ? 1 : 0;
        std::printf("  %-4s %7.3f  %7.3f  %+6.3f s\n", w.text.c_str(), w.start, filler_starts[best], offset);
    }
    // Spoken fillers the recogniser itself heard as a filler word: restoration rightly leaves those alone.
    size_t recognised_fillers = 0;
    size_t heard_near         = 0;
    for (const doc_word & w : plain) {
        recognised_fillers += is_filler(lower_case(w.text)) ? 1 : 0;
    }
    for (double spoken : filler_starts) {
        for (const doc_word & w : plain) {
            if (is_filler(lower_case(w.text)) && std::abs(w.start - spoken) <= near_limit) {
                heard_near++;
                break;
            }
        }
    }
    bool   same_words = kept.size() == plain.size();
    double max_shift  = 0.0;
    size_t max_at     = 0;
    size_t shifted    = 0; // words that start more than 50 ms away from where they start without extra words
    for (size_t i = 0; same_words && i < kept.size(); i++) {
        same_words         = kept[i].text == plain[i].text;
        const double shift = std::abs(kept[i].start - plain[i].start);
        shifted += shift > 0.05 ? 1 : 0;
        if (shift > max_shift) {
            max_shift = shift;
            max_at    = i;
        }
    }
    std::printf("conversation: %zu turns, 2 speakers, %.1f s, %zu spoken words, %zu spoken fillers\n",
                2 * std::size(conversation), static_cast<double>(audio.size()) / speech_rate, spoken_words,
                filler_starts.size());
    std::printf("recognised words without extra words: %zu, %zu of them fillers; spoken fillers with a recognised "
                "filler within %.1f s: %zu\n",
                plain.size(), recognised_fillers, near_limit, heard_near);
    std::printf("fillers restored: %zu; within %.1f s of where spoken: %zu\n", added, near_limit, near);
    if (same_words) {
        std::printf("other words: the same %zu words; %zu start more than 0.05 s away; largest start shift %.3f s "
                    "(\"%s\" at %.3f s, %.3f s without extra words)\n",
                    kept.size(), shifted, max_shift, kept.empty() ? "" : kept[max_at].text.c_str(),
                    kept.empty() ? 0.0 : kept[max_at].start, kept.empty() ? 0.0 : plain[max_at].start);
    } else {
        std::printf("other words: changed (%zu words without extra words, %zu kept with them)\n", plain.size(),
                    kept.size());
    }
    return 0;
}
