// The k-th smallest of many values that can be handed over again rather than kept: a radix selection, one
// pass over the values per 16 bits of a value, each keeping a histogram of 65,536 counts. Memory stays
// that of the histograms whatever the number of values. Private to the engine.

#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace kelvo_asr {

// For each rank of `ranks` (from 0, each below the number of values), the value of that rank among the
// finite float or double values that `replay(sink)` hands to `sink`, the same values in the same order each
// time; the same value as sorting them and reading the rank.
template <typename Value, typename Replay>
std::vector<Value> kth_smallest(const Replay & replay, const std::vector<size_t> & ranks) {
    static_assert(std::is_same_v<Value, float> || std::is_same_v<Value, double>);
    using key_t              = std::conditional_t<std::is_same_v<Value, float>, uint32_t, uint64_t>;
    constexpr int     bits   = static_cast<int>(sizeof(key_t)) * 8;
    constexpr key_t   top    = key_t{ 1 } << (bits - 1);
    constexpr int32_t digits = 1 << 16;
    // Keys ordered as the values are: negative values' bits reversed, positive values' sign bit set.
    const auto key = [](Value v) {
        const auto b = std::bit_cast<key_t>(v);
        return (b & top) != 0 ? static_cast<key_t>(~b) : static_cast<key_t>(b | top);
    };
    const size_t                       n_ranks = ranks.size();
    std::vector<key_t>                 prefix(n_ranks, 0);
    std::vector<size_t>                left = ranks; // the rank still to find among the keys matching the prefix
    std::vector<std::vector<uint32_t>> count(n_ranks);
    for (int shift = bits - 16; shift >= 0; shift -= 16) {
        for (std::vector<uint32_t> & c : count) {
            c.assign(digits, 0);
        }
        replay([&](Value v) {
            const key_t k = key(v);
            for (size_t r = 0; r < n_ranks; r++) {
                if (shift + 16 == bits || (k >> (shift + 16)) == (prefix[r] >> (shift + 16))) {
                    count[r][(k >> shift) & 0xffff]++;
                }
            }
        });
        for (size_t r = 0; r < n_ranks; r++) {
            key_t digit = 0;
            while (left[r] >= count[r][digit]) {
                left[r] -= count[r][digit];
                digit++;
            }
            prefix[r] |= digit << shift;
        }
    }
    std::vector<Value> out(n_ranks);
    for (size_t r = 0; r < n_ranks; r++) {
        const key_t k = prefix[r];
        out[r]        = std::bit_cast<Value>((k & top) != 0 ? static_cast<key_t>(k & ~top) : static_cast<key_t>(~k));
    }
    return out;
}

} // namespace kelvo_asr
