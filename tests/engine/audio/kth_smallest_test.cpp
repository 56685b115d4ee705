#include "engine/audio/kth_smallest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using kelvo_asr::kth_smallest;

// Every rank of `values` found by the selection equals the sorted values' entry: values that share their
// high bits (close levels), negatives, repeats, subnormals and extremes included.
template <typename Value> void expect_every_rank(const std::vector<Value> & values) {
    const auto replay = [&](const auto & sink) {
        for (const Value v : values) {
            sink(v);
        }
    };
    std::vector<size_t> ranks(values.size());
    for (size_t r = 0; r < ranks.size(); r++) {
        ranks[r] = r;
    }
    std::vector<Value> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const std::vector<Value> found = kth_smallest<Value>(replay, ranks);
    ASSERT_EQ(found.size(), sorted.size());
    for (size_t r = 0; r < sorted.size(); r++) {
        EXPECT_EQ(found[r], sorted[r]) << "rank " << r;
    }
}

template <typename Value> std::vector<Value> awkward_values() {
    std::vector<Value> v     = { Value(-120),
                                 Value(-35.5),
                                 Value(-35.500001),
                                 Value(-35.5),
                                 Value(0),
                                 Value(12.25),
                                 std::numeric_limits<Value>::lowest(),
                                 std::numeric_limits<Value>::max(),
                                 std::numeric_limits<Value>::denorm_min(),
                                 -std::numeric_limits<Value>::denorm_min() };
    uint32_t           state = 7u;
    for (int i = 0; i < 500; i++) {
        state = state * 1664525u + 1013904223u;
        v.push_back(Value(-60) + Value(state % 4001) / Value(100)); // levels 10 ms apart in dB, many repeats
    }
    return v;
}

TEST(KthSmallest, EveryRankOfFloatsAndDoublesIsTheSortedValue) {
    expect_every_rank(awkward_values<float>());
    expect_every_rank(awkward_values<double>());
    expect_every_rank(std::vector<double>{ 3.0 });
    expect_every_rank(std::vector<float>(70000, -42.0f)); // one value, more often than a 16-bit count digit
}

} // namespace
