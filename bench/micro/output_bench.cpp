// Micro-benchmark of the words document: 500,000 words, with standard output sent to /dev/null.

#include "output/output.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// `count` words of about an hour's speech at 2.3 words a second, with a quote, fillers and both speakers.
std::vector<TimedWord> document_words(size_t count) {
    std::vector<TimedWord> words;
    words.reserve(count);
    for (size_t i = 0; i < count; i++) {
        double      start = double(i) * 0.43;
        std::string text  = i % 97 == 0 ? "\"quoted\"" : "word" + std::to_string(i % 1000);
        words.push_back({ text, start, start + 0.31, i % 50 == 7, i % 2 == 0 ? 'P' : 'C', i % 400 == 3 });
    }
    return words;
}

void bm_write_words_document(benchmark::State & state) {
    const std::vector<TimedWord> words = document_words(size_t(state.range(0)));

    // The document and its "done" progress line go to /dev/null while the loop runs.
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_out = dup(STDOUT_FILENO);
    const int saved_err = dup(STDERR_FILENO);
    const int null_fd   = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    for (auto _ : state) {
        write_words_document(words);
        std::fflush(stdout);
    }
    std::fflush(stderr);
    dup2(saved_out, STDOUT_FILENO);
    dup2(saved_err, STDERR_FILENO);
    close(null_fd);
    close(saved_out);
    close(saved_err);
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(bm_write_words_document)->Arg(500000)->Unit(benchmark::kMillisecond);
