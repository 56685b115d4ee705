// The period a frame's normalised autocorrelation points to, shared by every pitch measure of the engine.
// Private to the engine.

#pragma once

#include <cstdint>

namespace kelvo_asr {

// The period in lags from `scores` (normalised autocorrelation, indexed by lag, lowest_lag - 1 to
// highest_lag + 1 readable) whose highest score `best` lies at `best_lag`: the shortest lag from
// `first_lag` on that peaks at `near_best` of the best or more, since a multiple of the period scores as
// well as the period and taking it would halve the pitch; refined between lags by a parabola through its
// neighbours.
inline double pitch_period(const double * scores, int32_t first_lag, int32_t lowest_lag, int32_t highest_lag,
                           int32_t best_lag, double best, double near_best) {
    for (int32_t lag = first_lag; lag < best_lag; lag++) {
        if (scores[lag] >= near_best * best && scores[lag] >= scores[lag - 1] && scores[lag] >= scores[lag + 1]) {
            best_lag = lag;
            break;
        }
    }
    double period = best_lag;
    if (best_lag > lowest_lag && best_lag < highest_lag) {
        const double a = scores[best_lag - 1];
        const double b = scores[best_lag];
        const double c = scores[best_lag + 1];
        const double d = a - 2 * b + c;
        if (d < 0) {
            period += 0.5 * (a - c) / d;
        }
    }
    return period;
}

} // namespace kelvo_asr
