// The longest common subsequence of two sequences. Private to the engine.

#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace kelvo_asr {

// Pairs (i, j), i < `n` and j < `m`, of a longest common subsequence of two sequences, where `same(i, j)`
// tells whether item i of the first equals item j of the second; both indices strictly increase along the
// result. Walking both sequences from the front, a pair is taken whenever it lies on a longest path;
// otherwise the first sequence's item is passed over when that keeps the longest length, else the
// second's. Quadratic in time and memory.
std::vector<std::pair<size_t, size_t>> longest_common_subsequence(size_t n, size_t m,
                                                                  const std::function<bool(size_t, size_t)> & same);

} // namespace kelvo_asr
