// Scores words documents against the conversations' written texts: of the words recognised right, how
// many are written exactly as the text writes them, and how well sentence ends, questions and names come out.
//
//   written_bench [--examples] [--pause S] [--rise T] REF.txt DOC.json [WAV]
//
// With WAV, DOC is a --plain-words document, and the written step is applied to it here (segments planned
// as the tool plans them without turns) with the settings given, so that settings can be tried without
// decoding again. Prints one line of counts:
//   matched exact ends_ref ends_hyp ends_both questions questions_found statements statements_asked names names_ok

#include "engine/kelvo_asr.h"
#include "formats/formats.h"
#include "segments/segments.h"
#include "words/words.h"
#include "written/written.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string read_all(const std::string & path) {
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

std::string key_of(const std::string & word) {
    return to_lower(make_match_key(word));
}

bool has_digit(const std::string & word) {
    return word.find_first_of("0123456789") != std::string::npos;
}

char end_mark(const std::string & word) {
    return !word.empty() && std::strchr(".?!", word.back()) != nullptr ? word.back() : 0;
}

std::string without_marks(const std::string & word) {
    const size_t last = word.find_last_not_of(".,?!;:");
    return last == std::string::npos ? "" : word.substr(0, last + 1);
}

} // namespace

int main(int argc, char ** argv) {
    SentenceSettings         settings;
    bool                     examples = false;
    bool                     rises    = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--examples") {
            examples = true;
        } else if (arg == "--rises") {
            rises = true;
        } else if (arg == "--pause" && i + 1 < argc) {
            settings.pause = std::stod(argv[++i]);
        } else if (arg == "--rise" && i + 1 < argc) {
            settings.question_rise = std::stof(argv[++i]);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() < 2 || files.size() > 3) {
        std::fprintf(stderr, "usage: written_bench [--examples] [--pause S] [--rise T] REF.txt DOC.json [WAV]\n");
        return 2;
    }
    const DocumentRead document = read_words_document(read_all(files[1]));
    if (!document.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", files[1].c_str(), document.error.c_str());
        return 1;
    }
    std::vector<TimedWord> words;
    for (const DocumentWord & w : document.words) {
        words.push_back(TimedWord{ .text    = w.text,
                                   .start   = w.start,
                                   .end     = w.end,
                                   .added   = w.added,
                                   .who     = w.who.empty() ? char(0) : w.who[0],
                                   .untimed = w.untimed });
    }
    const NameList names = read_name_list("");
    if (files.size() == 3) {
        std::vector<float> samples;
        int32_t            rate = 0;
        if (!kelvo_asr::load_audio_file(files[2], samples, rate)) {
            std::fprintf(stderr, "cannot read %s\n", files[2].c_str());
            return 1;
        }
        const std::vector<Segment> segments = plan_segments({}, samples, rate);
        if (rises) { // each sentence's last word and the pitch rise at its end, for choosing the settings
            for (const Sentence & s : find_sentences(words, segments, rate, settings)) {
                const double from = std::max(words[s.first].start, words[s.last].end - 1.0);
                const auto   a    = static_cast<size_t>(from * rate);
                const auto   b    = std::min(samples.size(), static_cast<size_t>(words[s.last].end * rate));
                const kelvo_asr::pitch_result p =
                    kelvo_asr::measure_pitch(samples.data() + a, static_cast<int32_t>(b > a ? b - a : 0));
                std::fprintf(stderr, "rise\t%s\t%d\t%.2f\t%d\t", words[s.last].text.c_str(), p.voiced, p.rise,
                             reads_as_question(words, s.first, s.last));
                for (const float hz : p.hz) {
                    std::fprintf(stderr, "%.0f ", hz);
                }
                std::fprintf(stderr, "\n");
            }
        }
        write_as_people_do(words, segments, samples, rate, names, settings);
    }

    const std::vector<std::string> ref = split_tokens(read_all(files[0]));
    std::vector<std::string>       ref_keys;
    std::vector<std::string>       hyp_keys;
    for (const std::string & w : ref) {
        ref_keys.push_back(key_of(w));
    }
    for (const TimedWord & w : words) {
        hyp_keys.push_back(key_of(w.text));
    }
    const std::vector<int32_t> pairs = match_sequences(ref_keys, hyp_keys);

    long matched = 0, exact = 0, ends_ref = 0, ends_hyp = 0, ends_both = 0, questions = 0, questions_found = 0,
         statements = 0, statements_asked = 0, n_names = 0, names_ok = 0;
    for (size_t r = 0; r < ref.size(); r++) {
        if (pairs[r] < 0 || has_digit(ref[r])) {
            continue;
        }
        const std::string & said  = ref[r];
        const std::string & wrote = words[static_cast<size_t>(pairs[r])].text;
        matched++;
        const bool same = said == wrote;
        exact += same;
        const char ref_end = end_mark(said);
        const char hyp_end = end_mark(wrote);
        ends_ref += ref_end != 0;
        ends_hyp += hyp_end != 0;
        ends_both += ref_end != 0 && hyp_end != 0;
        questions += ref_end == '?';
        questions_found += ref_end == '?' && hyp_end == '?';
        statements += ref_end == '.' || ref_end == '!';
        statements_asked += (ref_end == '.' || ref_end == '!') && hyp_end == '?';
        const bool is_name = names.contains(ref_keys[r]);
        n_names += is_name;
        names_ok += is_name && without_marks(said) == without_marks(wrote);
        if (examples && !same) {
            const char * kind = ref_end != hyp_end ? (ref_end == '?' || hyp_end == '?' ? "question" : "sentence end")
                                : is_name          ? "name"
                                                   : "case";
            std::fprintf(stderr, "%s\t%s\twritten %s\tgot %s\n", files[1].c_str(), kind, said.c_str(), wrote.c_str());
        }
    }
    std::printf("%ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld\n", matched, exact, ends_ref, ends_hyp, ends_both,
                questions, questions_found, statements, statements_asked, n_names, names_ok);
    return 0;
}
