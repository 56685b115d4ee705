// Longest common subsequence by dynamic programming over suffixes.

#include "engine/alignment/subsequence.h"

#include <algorithm>

namespace kelvo_asr {

std::vector<std::pair<size_t, size_t>> longest_common_subsequence(size_t n, size_t m,
                                                                  const std::function<bool(size_t, size_t)> & same) {
    // lcs[i][j]: length of a longest common subsequence of the suffixes from i and from j.
    std::vector<std::vector<size_t>> lcs(n + 1, std::vector<size_t>(m + 1, 0));
    for (size_t i = n; i-- > 0;) {
        for (size_t j = m; j-- > 0;) {
            lcs[i][j] = same(i, j) ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
        }
    }
    std::vector<std::pair<size_t, size_t>> pairs;
    size_t                                 i = 0;
    size_t                                 j = 0;
    while (i < n && j < m) {
        if (same(i, j) && lcs[i][j] == lcs[i + 1][j + 1] + 1) {
            pairs.emplace_back(i, j);
            i++;
            j++;
        } else if (lcs[i + 1][j] >= lcs[i][j + 1]) {
            i++;
        } else {
            j++;
        }
    }
    return pairs;
}

} // namespace kelvo_asr
