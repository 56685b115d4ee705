// Recognition benchmark helpers: builds the corpus' recordings, runs and times a recogniser, scores its words.
//
//   recognition_bench join LIST PREFIX [--untimed | --gaps MIN MAX]
//       joins synthesised turns into PREFIX.wav, .txt and (timed) .ref, .turns, .extra.
//   recognition_bench noise IN TURNS SNR_DB OUT [NOISE]
//       mixes white noise (or the recording NOISE, looped) into IN at SNR_DB under the speech level; the same
//       noise on every run.
//   recognition_bench run OUTPUT CMD [ARGS...]
//       runs CMD with its standard output into OUTPUT and its standard error discarded; prints wall
//       seconds, peak RSS in MiB and the exit status.
//   recognition_bench score REFERENCE HYPOTHESIS
//       word errors of HYPOTHESIS (plain words, or the tool's JSON document) against REFERENCE (plain
//       words): without fillers (words, errors), with them (all_words, all_errors), and the fillers in each.
//   recognition_bench fillers REFERENCE.ref HYPOTHESIS
//       spoken fillers found within 0.3 s (start to start), how many of those were restored ("added"),
//       output fillers more than 1 s from any spoken filler, and the word errors without fillers.

#include "corpus_building.h"
#include "word_scoring.h"
#include "words/words.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int run_timed(const char * output, char ** argv) {
    const auto t0  = std::chrono::steady_clock::now();
    const int  out = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
        std::fprintf(stderr, "cannot write %s\n", output);
        return 1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(out, 1);
        dup2(null, 2);
        execvp(argv[0], argv);
        _exit(127);
    }
    close(out);
    int           status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("wall=%.3f rss_mib=%.1f status=%d\n", wall, usage.ru_maxrss / 1024.0,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}

size_t count_fillers(const std::vector<DocumentWord> & words) {
    size_t n = 0;
    for (const auto & w : words) {
        n += is_filler(w.text) ? 1 : 0;
    }
    return n;
}

int score(const std::string & reference, const std::string & hypothesis) {
    const auto ref = read_hypothesis(reference), hyp = read_hypothesis(hypothesis);
    const auto ref_words = keys_of(ref, true), hyp_words = keys_of(hyp, true);
    std::printf("words=%zu errors=%zu all_words=%zu all_errors=%zu ref_fillers=%zu hyp_fillers=%zu\n", ref_words.size(),
                word_errors(ref_words, hyp_words), ref.size(), word_errors(keys_of(ref, false), keys_of(hyp, false)),
                count_fillers(ref), count_fillers(hyp));
    return 0;
}

int fillers(const std::string & reference, const std::string & hypothesis) {
    const auto        ref = read_reference(reference), hyp = read_hypothesis(hypothesis);
    const FillerScore f         = score_fillers(ref, hyp, 0.3, 1.0);
    const auto        ref_words = keys_of(ref, true);
    std::printf("spoken=%zu found=%zu found_added=%zu wrong=%zu output=%zu words=%zu errors=%zu\n", f.spoken, f.found,
                f.found_added, f.wrong, f.output, ref_words.size(), word_errors(ref_words, keys_of(hyp, true)));
    return 0;
}

} // namespace

int main(int argc, char ** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "join" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "--untimed"))) {
        return join_turns(argv[2], argv[3], argc == 4);
    }
    if (mode == "join" && argc == 7 && std::string(argv[4]) == "--gaps") {
        return join_turns(argv[2], argv[3], true, std::atof(argv[5]), std::atof(argv[6]));
    }
    if (mode == "noise" && (argc == 6 || argc == 7)) {
        return add_white_noise(argv[2], argv[3], std::atof(argv[4]), argv[5], argc == 7 ? argv[6] : "");
    }
    if (mode == "run" && argc >= 4) {
        return run_timed(argv[2], argv + 3);
    }
    if (mode == "score" && argc == 4) {
        return score(argv[2], argv[3]);
    }
    if (mode == "fillers" && argc == 4) {
        return fillers(argv[2], argv[3]);
    }
    std::fprintf(
        stderr,
        "usage: recognition_bench join LIST PREFIX [--untimed | --gaps MIN MAX] | noise IN TURNS SNR_DB OUT [NOISE] | "
        "run OUTPUT CMD... | score REFERENCE HYPOTHESIS | fillers REFERENCE.ref HYPOTHESIS\n");
    return 2;
}
