// Whole-run benchmark helpers: makes long test recordings, times the phases of a run, and measures a
// command's wall time and peak memory.
//
//   tavrik_pipeline_bench make MINUTES DIR
//       DIR/audio.wav (LibriVox clips and espeak-ng speech with pauses), DIR/turns.txt (one turn per
//       piece, P and C in turn) and DIR/extra.txt (every spoken word with an estimated time, and an "um"
//       in every third pause).
//   tavrik_pipeline_bench phases ASR ALIGNER AUDIO [TURNS|-] [EXTRA|-] [THREADS]
//       runs the tool's steps in the tool's order and prints the time spent loading models, inside
//       transcribe, inside align, and in everything else (the tool's own work). THREADS is handed to every
//       transcribe call, as the tool's --threads (default 4, the tool's default).
//   tavrik_pipeline_bench measure CMD [ARGS...]
//       runs CMD with its standard output discarded; prints wall seconds and peak RSS in MiB.
//   tavrik_pipeline_bench wer REFERENCE HYPOTHESIS
//       prints the word errors (substitutions, deletions, insertions) and the reference length.

#include "bench/scoring/word_errors.h"
#include "cli/cli.h"
#include "engine/kelvo_asr.h"
#include "output/output.h"
#include "segments/segments.h"
#include "words/words.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench_clock = std::chrono::steady_clock;

double seconds_since(bench_clock::time_point t0) {
    return std::chrono::duration<double>(bench_clock::now() - t0).count();
}

struct Piece {
    std::vector<float>       samples;
    std::vector<std::string> words;
};

bool read_pcm16(const std::string & path, std::vector<float> & out) {
    std::vector<float> s;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(path, s, rate) || rate != 16000) {
        return false;
    }
    out = std::move(s);
    return true;
}

std::vector<std::string> split_words(const std::string & text) {
    std::vector<std::string> w;
    std::istringstream       in(text);
    for (std::string x; in >> x;) {
        if (x != "<s>" && x != "</s>" && x[0] != '(') {
            w.push_back(x);
        }
    }
    return w;
}

int run_quiet(const std::vector<std::string> & args) {
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> argv;
        for (const auto & a : args) {
            argv.push_back(const_cast<char *>(a.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

std::vector<Piece> source_pieces(const std::string & testdata, const std::string & tmp) {
    std::vector<Piece> pieces;
    std::ifstream      refs(testdata + "/librivox/transcription");
    for (std::string line; std::getline(refs, line);) {
        size_t open = line.rfind('('), shut = line.rfind(')');
        if (open == std::string::npos || shut == std::string::npos) {
            continue;
        }
        Piece p;
        p.words = split_words(line.substr(0, open));
        if (read_pcm16(testdata + "/librivox/" + line.substr(open + 1, shut - open - 1) + ".wav", p.samples)) {
            pieces.push_back(std::move(p));
        }
    }
    const char * sentences[] = {
        "the committee will meet again on thursday to review the budget for next year",
        "please remember to close the windows before you leave the office tonight",
        "we walked along the river until the sun went down behind the hills",
        "my brother bought a new car last week and drove it to the coast",
    };
    int k = 0;
    for (const char * text : sentences) {
        const std::string raw = tmp + "/espeak.wav", wav = tmp + "/espeak16.wav";
        if (run_quiet({ "espeak-ng", "-v", (k % 2) ? "en-gb" : "en-us", "-s", "150", "-w", raw, text }) != 0 ||
            run_quiet({ "sox", raw, "-r", "16000", "-c", "1", "-b", "16", wav }) != 0) {
            std::fprintf(stderr, "espeak-ng or sox failed\n");
            continue;
        }
        Piece p;
        p.words = split_words(text);
        if (read_pcm16(wav, p.samples)) {
            pieces.push_back(std::move(p));
        }
        k++;
    }
    return pieces;
}

bool write_pcm16(const std::string & path, const std::vector<float> & s) {
    FILE * f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    auto le = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++) {
            std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
        }
    };
    const uint32_t bytes = static_cast<uint32_t>(s.size() * 2);
    std::fputs("RIFF", f);
    le(36 + bytes, 4);
    std::fputs("WAVEfmt ", f);
    le(16, 4), le(1, 2), le(1, 2), le(16000, 4), le(32000, 4), le(2, 2), le(16, 2);
    std::fputs("data", f);
    le(bytes, 4);
    for (float x : s) {
        le(static_cast<uint32_t>(static_cast<int16_t>(std::lrint(std::fmax(-1.0f, std::fmin(1.0f, x)) * 32767.0f))), 2);
    }
    return std::fclose(f) == 0;
}

int make_recording(double minutes, const std::string & dir) {
    const char *       td       = std::getenv("TAVRIK_TESTDATA_DIR");
    std::vector<Piece> pieces   = source_pieces(td ? td : "/usr/share/pocketsphinx/test/data", dir);
    const size_t       target   = static_cast<size_t>(minutes * 60 * 16000);
    const double       pauses[] = { 0.4, 0.9, 0.6, 1.3, 0.5 };
    if (pieces.empty()) {
        std::fprintf(stderr, "no source recordings\n");
        return 1;
    }
    std::vector<float> audio(8000, 0.0f);
    audio.reserve(target + 16000 * 40);
    std::string turns, extra;
    char        line[256];
    for (size_t n = 0; audio.size() < target; n++) {
        const Piece & p     = pieces[n % pieces.size()];
        const double  start = audio.size() / 16000.0;
        const double  span  = p.samples.size() / 16000.0;
        std::snprintf(line, sizeof line, "%.3f %.3f %c\n", start, start + span, n % 2 ? 'C' : 'P');
        turns += line;
        for (size_t k = 0; k < p.words.size(); k++) {
            std::snprintf(line, sizeof line, "%.3f %s\n", start + span * (k + 0.5) / p.words.size(),
                          p.words[k].c_str());
            extra += line;
        }
        audio.insert(audio.end(), p.samples.begin(), p.samples.end());
        const double pause = pauses[n % 5];
        if (n % 3 == 2) {
            std::snprintf(line, sizeof line, "%.3f um\n", start + span + pause / 2);
            extra += line;
        }
        audio.insert(audio.end(), static_cast<size_t>(pause * 16000), 0.0f);
    }
    std::ofstream(dir + "/turns.txt") << turns;
    std::ofstream(dir + "/extra.txt") << extra;
    if (!write_pcm16(dir + "/audio.wav", audio)) {
        return 1;
    }
    std::printf("%.1f s of audio in %s\n", audio.size() / 16000.0, dir.c_str());
    return 0;
}

int time_phases(const std::string & asr_path, const std::string & aligner_path, const std::string & audio_path,
                const std::string & turns_path, const std::string & extra_path, int32_t threads) {
    const auto         t0 = bench_clock::now();
    std::vector<float> samples;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(audio_path, samples, rate)) {
        return 1;
    }
    const double             read_s = seconds_since(t0);
    auto                     t      = bench_clock::now();
    kelvo_asr::KelvoASR      asr;
    kelvo_asr::ForcedAligner aligner;
    if (!asr.load_model(asr_path) || !aligner.load_model(aligner_path)) {
        std::fprintf(stderr, "model loading failed\n");
        return 1;
    }
    const double load_s = seconds_since(t);

    double transcribe_s = 0, align_s = 0, plan_s = 0, words_s = 0, fillers_s = 0;
    t                               = bench_clock::now();
    std::vector<ExtraWord> extra    = extra_path == "-" ? std::vector<ExtraWord>{} : read_extra_words(extra_path);
    std::vector<Turn>      turns    = turns_path == "-" ? std::vector<Turn>{} : read_turns(turns_path);
    std::vector<Segment>   segments = plan_segments(turns, samples, rate);
    plan_s                          = seconds_since(t);

    std::vector<TimedWord> timed;
    // Progress lines and the document go to /dev/null: their cost is the formatting and the writes.
    FILE *    devnull   = std::fopen("/dev/null", "w");
    const int saved_err = dup(2);
    dup2(fileno(devnull), 2);
    for (size_t j = 0; j < segments.size(); j++) {
        const Segment &              seg = segments[j];
        kelvo_asr::transcribe_params params;
        params.print_log = false;
        params.n_threads = threads;
        t                = bench_clock::now();
        auto heard       = asr.transcribe(samples.data() + seg.start, seg.end - seg.start, params);
        transcribe_s += seconds_since(t);
        t                  = bench_clock::now();
        SegmentWords words = build_segment_words(heard.text);
        words_s += seconds_since(t);
        t = bench_clock::now();
        if (!extra.empty()) {
            restore_fillers(words, extra, seg, rate);
        }
        fillers_s += seconds_since(t);
        // align_segment around the aligner: the few microseconds of its own assembly count as alignment.
        t = bench_clock::now();
        std::string error;
        if (!align_segment(seg, samples, rate, j, segments.size(), words, heard.language, aligner, timed, error)) {
            dup2(saved_err, 2);
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        align_s += seconds_since(t);
    }
    std::fflush(stderr);
    dup2(saved_err, 2);
    t               = bench_clock::now();
    const int saved = dup(1);
    dup2(fileno(devnull), 1);
    dup2(fileno(devnull), 2);
    write_words_document(timed);
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved, 1);
    dup2(saved_err, 2);
    const double write_s = seconds_since(t);
    const double total_s = seconds_since(t0);
    const double own_s   = read_s + plan_s + words_s + fillers_s + write_s;
    std::printf("audio_s=%.1f segments=%zu words=%zu read=%.3f load=%.3f transcribe=%.3f align=%.3f "
                "plan=%.4f words=%.4f fillers=%.4f write=%.4f own=%.4f total=%.3f own_share=%.4f%%\n",
                samples.size() / 16000.0, segments.size(), timed.size(), read_s, load_s, transcribe_s, align_s, plan_s,
                words_s, fillers_s, write_s, own_s, total_s, 100.0 * own_s / total_s);
    return 0;
}

int measure(int argc, char ** argv) {
    const auto t0  = bench_clock::now();
    pid_t      pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[0], argv);
        _exit(127);
    }
    int           status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    (void)argc;
    std::printf("wall=%.3f rss_mib=%.1f status=%d\n", seconds_since(t0), usage.ru_maxrss / 1024.0,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}

// Word errors of a hypothesis against a reference, compared lower-cased.
int print_word_errors(const std::string & reference, const std::string & hypothesis) {
    auto lower = [](std::string t) {
        for (auto & c : t) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return split_words(t);
    };
    const auto ref = lower(reference), hyp = lower(hypothesis);
    std::printf("errors=%zu words=%zu\n", word_errors(ref, hyp), ref.size());
    return 0;
}

} // namespace

int main(int argc, char ** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4) {
        return make_recording(std::atof(argv[2]), argv[3]);
    }
    if (mode == "phases" && argc >= 5) {
        return time_phases(argv[2], argv[3], argv[4], argc > 5 ? argv[5] : "-", argc > 6 ? argv[6] : "-",
                           argc > 7 ? std::max(1, std::atoi(argv[7])) : 4);
    }
    if (mode == "wer" && argc == 4) {
        return print_word_errors(argv[2], argv[3]);
    }
    if (mode == "measure" && argc >= 3) {
        return measure(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "usage: tavrik_pipeline_bench make MINUTES DIR | phases ASR ALIGNER AUDIO [TURNS] [EXTRA] "
                         "[THREADS] | measure CMD... | wer REFERENCE HYPOTHESIS\n");
    return 2;
}
