// Micro-benchmarks of filler restoration: a whole hour's run, and one crowded window.

#include "words/words.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr int32_t rate = 16000;

// A vocabulary of 200 words, "w0" ... "w199".
std::string vocabulary_word(size_t i) {
    return "w" + std::to_string(i % 200);
}

// `count` extra words spread evenly over [first_s, first_s + span_s), every 6th a filler.
std::vector<ExtraWord> spread_extra_words(size_t count, double first_s, double span_s) {
    std::vector<ExtraWord> extra;
    for (size_t i = 0; i < count; i++) {
        double time = first_s + span_s * double(i) / double(count);
        extra.push_back({ time, i % 6 == 5 ? std::string("um") : vocabulary_word(i * 7919) });
    }
    return extra;
}

// A transcript of `count` words taken from the non-filler extra words inside [first_s, end_s), evenly.
SegmentWords transcript_from(const std::vector<ExtraWord> & extra, double first_s, double end_s, size_t count) {
    std::vector<const ExtraWord *> inside;
    for (const ExtraWord & word : extra) {
        if (word.time >= first_s && word.time < end_s && word.text != "um") {
            inside.push_back(&word);
        }
    }
    std::string text;
    for (size_t i = 0; i < count && !inside.empty(); i++) {
        text += inside[i * inside.size() / count]->text + " ";
    }
    return build_segment_words(text);
}

// One hour: 100,000 extra words, 100 unlabelled segments of 36 s with about 90 recognised words each.
void BM_restore_fillers_one_hour(benchmark::State & state) {
    const std::vector<ExtraWord> extra = spread_extra_words(100000, 0.0, 3600.0);
    std::vector<Segment>         segments;
    std::vector<SegmentWords>    transcripts;
    for (int32_t s = 0; s < 100; s++) {
        segments.push_back({ s * 36 * rate, (s + 1) * 36 * rate, 0 });
        transcripts.push_back(transcript_from(extra, s * 36.0, (s + 1) * 36.0, 90));
    }
    for (auto _ : state) {
        for (size_t s = 0; s < segments.size(); s++) {
            SegmentWords words = transcripts[s];
            restore_fillers(words, extra, segments[s], rate);
            benchmark::DoNotOptimize(words.keys.data());
        }
    }
    state.counters["segments/s"] = benchmark::Counter(double(segments.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_restore_fillers_one_hour)->Unit(benchmark::kMillisecond);

// One segment of 36 s whose window holds 10,000 extra words, against a 90-word transcript.
void BM_restore_fillers_10000_in_one_window(benchmark::State & state) {
    const std::vector<ExtraWord> extra      = spread_extra_words(10000, 0.0, 36.0);
    const SegmentWords           transcript = transcript_from(extra, 0.0, 36.0, 90);
    const Segment                segment    = { 0, 36 * rate, 0 };
    for (auto _ : state) {
        SegmentWords words = transcript;
        restore_fillers(words, extra, segment, rate);
        benchmark::DoNotOptimize(words.keys.data());
    }
}
BENCHMARK(BM_restore_fillers_10000_in_one_window)->Unit(benchmark::kMillisecond);

} // namespace
