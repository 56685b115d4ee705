// Cuts a long stretch of samples into pieces the recogniser accepts (at most 38 s), each cut placed in the
// middle of the quietest 50 ms window 22 to 38 s after the start of the piece being cut.

#include "segments/segments.h"

#include <limits>

namespace {

// Sum of squares of `count` samples from `first`, widened to double and added in index order from 0.
double window_energy(const float * first, int64_t count) {
    double sum = 0.0;
    for (int64_t i = 0; i < count; i++) {
        const double v = first[i];
        sum += v * v;
    }
    return sum;
}

} // namespace

std::vector<AudioPiece> split_long_audio(std::span<const float> samples, int32_t rate) {
    // A stretch longer than the 32-bit index range is taken up to its last indexable sample.
    const int64_t n = samples.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())
                          ? std::numeric_limits<int32_t>::max()
                          : static_cast<int64_t>(samples.size());

    std::vector<AudioPiece> pieces;
    // Lengths are derived in 64 bits, so no rate overflows them; a rate of 0 or less sets no length limit.
    const int64_t longest = 38 * static_cast<int64_t>(rate);
    if (rate <= 0 || n <= longest) {
        pieces.push_back(AudioPiece{ 0, static_cast<int32_t>(n) });
        return pieces;
    }
    const int64_t zone_start  = 22 * static_cast<int64_t>(rate);
    const int64_t default_cut = 30 * static_cast<int64_t>(rate);
    const int64_t window      = rate / 20;
    const int64_t hop         = window / 2;

    int64_t pos = 0;
    do {
        int64_t cut  = pos + default_cut;
        double  best = 1e30;
        // Under 40 samples per second there is no window to search: the default cut is kept. Every window
        // read ends before pos + longest < n, so the search stays inside the stretch.
        if (hop > 0) {
            for (int64_t p = pos + zone_start; p + window < pos + longest; p += hop) {
                const double energy = window_energy(samples.data() + p, window);
                // Strictly less: the earlier of equal windows stays chosen, and NaN never replaces best.
                if (energy < best) {
                    best = energy;
                    cut  = p + hop;
                }
            }
        }
        pieces.push_back(AudioPiece{ static_cast<int32_t>(pos), static_cast<int32_t>(cut) });
        pos = cut;
    } while (n - pos > longest);
    pieces.push_back(AudioPiece{ static_cast<int32_t>(pos), static_cast<int32_t>(n) });
    return pieces;
}
