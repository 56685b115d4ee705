// Cost of lining a long transcript up with the recognised words: a synthetic transcript of N words drawn from
// a made-up vocabulary, "recognised" with some words dropped and some changed, in segments of about 20 words.
// Prints the time taken and the process's peak resident memory. Usage: plan_memory_bench N

#include "transcript/transcript.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char ** argv) {
    const size_t                n    = argc > 1 ? static_cast<size_t>(std::strtoul(argv[1], nullptr, 10)) : 20000;
    const int32_t               rate = 16000;
    std::mt19937                random(3);
    std::vector<TranscriptWord> words(n);
    for (TranscriptWord & w : words) {
        // A skewed vocabulary of 3000 made-up words: short common ones repeat often, as in speech.
        const size_t rank = static_cast<size_t>(std::pow(3000.0, std::uniform_real_distribution<double>(0, 1)(random)));
        w.key             = "w" + std::to_string(rank);
        w.text            = w.key;
    }
    std::vector<HeardWord> heard;
    std::vector<Segment>   segments;
    double                 at = 0;
    for (size_t i = 0; i < n; i++) {
        if (random() % 10 == 0) { // dropped by the recogniser
            at += 0.35;
            continue;
        }
        const std::string key = random() % 8 == 0 ? "x" + std::to_string(random() % 3000) : words[i].key;
        if (heard.empty() || heard.size() % 20 == 0) {
            segments.push_back({ static_cast<int32_t>(at * rate), 0, 0 });
        }
        heard.push_back({ key, at, segments.size() - 1 });
        at += 0.35;
        segments.back().end = static_cast<int32_t>(at * rate);
    }
    const auto           t0      = std::chrono::steady_clock::now();
    const TranscriptPlan plan    = plan_transcript(words, heard, segments, rate);
    const auto           t1      = std::chrono::steady_clock::now();
    size_t               matched = 0;
    uint64_t             digest  = 0; // compares plans between builds
    for (size_t i = 0; i < n; i++) {
        matched += plan.heard[i] >= 0 ? 1 : 0;
        digest = digest * 1000003 + static_cast<uint64_t>(plan.heard[i] + 1) * 2 + (plan.anchor[i] ? 1 : 0);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("words %zu heard %zu matched %zu digest %016llx seconds %.2f peak_rss_mb %.1f\n", n, heard.size(),
                matched, static_cast<unsigned long long>(digest), std::chrono::duration<double>(t1 - t0).count(),
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
