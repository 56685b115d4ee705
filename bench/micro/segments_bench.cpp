// Planning cost over one hour of audio: the splitter on the whole recording, and planning 10,000 turns.

#include "segments/segments.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int32_t kRate = 16000;

// One hour of low noise, built once for every benchmark of this file.
const std::vector<float> & hour_of_noise() {
    static const std::vector<float> samples = [] {
        std::vector<float>              s(static_cast<size_t>(kRate) * 3600);
        std::mt19937                    random(12345);
        std::normal_distribution<float> noise(0.0f, 0.001f);
        for (float & v : s) {
            v = noise(random);
        }
        return s;
    }();
    return samples;
}

void BM_split_long_audio_one_hour(benchmark::State & state) {
    const std::vector<float> & samples = hour_of_noise();
    for (auto _ : state) {
        std::vector<AudioPiece> pieces = split_long_audio(samples, kRate);
        benchmark::DoNotOptimize(pieces.data());
        benchmark::ClobberMemory();
    }
    state.counters["audio_s_per_s"] = benchmark::Counter(3600.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_split_long_audio_one_hour)->Unit(benchmark::kMillisecond);

void BM_plan_segments_10000_turns_one_hour(benchmark::State & state) {
    const std::vector<float> & samples = hour_of_noise();
    // 10,000 turns in time order across the hour (0.36 s apart), each with a small random gap at both ends.
    std::vector<Turn>                      turns;
    std::mt19937                           random(54321);
    std::uniform_real_distribution<double> gap(0.0, 0.05);
    const double                           step = 3600.0 / 10000.0;
    for (int i = 0; i < 10000; i++) {
        turns.push_back(Turn{ i * step + gap(random), (i + 1) * step - gap(random), static_cast<char>('A' + i % 2) });
    }
    for (auto _ : state) {
        std::vector<Segment> segments = plan_segments(turns, samples, kRate);
        benchmark::DoNotOptimize(segments.data());
        benchmark::ClobberMemory();
    }
    state.counters["audio_s_per_s"] = benchmark::Counter(3600.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_plan_segments_10000_turns_one_hour)->Unit(benchmark::kMillisecond);

} // namespace
