#include "engine/audio/kth_smallest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using kelvo_asr::kth_smallest;

// The first, last and some twenty ranks between of `values` found by the selection equal the sorted values' entries.
template <typename Value> void expect_ranks(const std::vector<Value> & values) {
    const auto replay = [&](const auto & sink) {
        for (const Value v : values) {
            sink(v);
        }
    };
    std::vector<size_t> ranks = { 0, values.size() - 1 };
    for (size_t r = 1; r + 1 < values.size(); r += std::max<size_t>(23, values.size() / 16)) {
        ranks.push_back(r);
    }
    std::vector<Value> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const std::vector<Value> found = kth_smallest<Value>(replay, ranks);
    ASSERT_EQ(found.size(), ranks.size());
    for (size_t k = 0; k < ranks.size(); k++) {
        EXPECT_EQ(found[k], sorted[ranks[k]]) << "rank " << ranks[k];
    }
}

// Values that share their high bits (levels 0.01 dB apart), negatives, repeats, subnormals and extremes.
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
        v.push_back(Value(-60) + Value(state % 4001) / Value(100));
    }
    return v;
}

TEST(KthSmallest, RanksOfFloatsAndDoublesAreTheSortedValues) {
    expect_ranks(awkward_values<float>());
    expect_ranks(awkward_values<double>());
    expect_ranks(std::vector<double>{ 3.0, -3.0 });
    std::vector<float> repeated(70000, -42.0f); // one value more often than a 16-bit digit counts to
    repeated[123] = -42.5f;
    expect_ranks(repeated);
}

} // namespace
