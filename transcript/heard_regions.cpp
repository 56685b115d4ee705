// The places where the written and the recognised words disagree, and whether the heard alignment puts a place's
// matched words nearer where they were heard.

#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// A matched word drawn this far off the usual lead of its neighbours was pushed off its word.
constexpr double pushed_seconds = 0.3;

} // namespace

std::vector<std::pair<size_t, size_t>> disagreeing_regions(const TranscriptPlan & plan, const Stretch & s) {
    std::vector<size_t> matched;
    for (size_t i = s.first; i < s.last; i++) {
        if (plan.heard[i] >= 0) {
            matched.push_back(i);
        }
    }
    auto disagree = [&](size_t t) { // between matched[t] and matched[t + 1]
        for (size_t k = matched[t] + 1; k < matched[t + 1]; k++) {
            if (!plan.unheard[k]) {
                return true;
            }
        }
        return plan.heard[matched[t + 1]] != plan.heard[matched[t]] + 1;
    };
    std::vector<std::pair<size_t, size_t>> regions;
    for (size_t t = 0; t + 1 < matched.size(); t++) {
        if (!disagree(t)) {
            continue;
        }
        if (!regions.empty() && regions.back().second == matched[t] + 1) {
            regions.back().second = matched[t + 1] + 1;
        } else {
            regions.emplace_back(matched[t], matched[t + 1] + 1);
        }
    }
    return regions;
}

double region_cost(const TranscriptPlan & plan, const KeptRegion & r, const StretchTimes & v, size_t offset) {
    double sum = 0;
    for (size_t i = r.first; i < r.last; i++) {
        if (plan.heard[i] >= 0) {
            const size_t k = i - offset;
            sum += v.placed[k] ? std::min(std::fabs(v.start[k] - r.expected[i - r.first]), transcript_unplaced_cost)
                               : transcript_unplaced_cost;
        }
    }
    return sum;
}

std::vector<KeptRegion> prefer_nearer_to_heard(const TranscriptPlan & plan, const std::vector<HeardWord> & heard,
                                               const std::vector<std::pair<size_t, size_t>> & regions,
                                               const Stretch & s, const StretchTimes & heard_times,
                                               StretchTimes & times) {
    std::vector<size_t> matched;
    for (size_t i = s.first; i < s.last; i++) {
        if (plan.heard[i] >= 0) {
            matched.push_back(i);
        }
    }
    auto heard_start = [&](size_t i) { return heard[static_cast<size_t>(plan.heard[i])].start; };
    auto lead        = [&](size_t i) { // around transcript word i
        const auto t = static_cast<size_t>(std::lower_bound(matched.begin(), matched.end(), i) - matched.begin());
        std::vector<double> near;
        for (size_t u = t > transcript_lead_window ? t - transcript_lead_window : 0;
             u < std::min(matched.size(), t + transcript_lead_window + 1); u++) {
                   if (times.placed[matched[u] - s.first]) {
                       near.push_back(times.start[matched[u] - s.first] - heard_start(matched[u]));
            }
        }
        return median_lead(std::move(near));
    };
    auto cost = [&](const StretchTimes & v, size_t first, size_t last) {
        double sum = 0;
        for (size_t i = first; i < last; i++) {
            if (plan.heard[i] < 0) {
                continue;
            }
            const size_t k = i - s.first;
            sum += v.placed[k] ? std::min(std::fabs(v.start[k] - heard_start(i) - lead(i)), transcript_unplaced_cost)
                               : transcript_unplaced_cost;
        }
        return sum;
    };
    // Matched words next to a region that the written alignment drew far from where they were heard were pushed
    // there by the region's words ("They are pleased" behind two written words never said): they go with it.
    auto off = [&](size_t i) {
        const size_t k = i - s.first;
        return !times.placed[k] || std::fabs(times.start[k] - heard_start(i) - lead(i)) > pushed_seconds;
    };
    std::vector<std::pair<size_t, size_t>> widened;
    for (auto [first, last] : regions) {
        while (first > s.first && plan.heard[first - 1] >= 0 && off(first - 1)) {
            first--;
        }
        while (last < s.last && plan.heard[last] >= 0 && off(last)) {
            last++;
        }
        if (!widened.empty() && first < widened.back().second) {
            widened.back().second = std::max(widened.back().second, last);
        } else {
            widened.emplace_back(first, last);
        }
    }
    std::vector<KeptRegion> kept;
    for (const auto & [first, last] : widened) {
        const double heard_cost = cost(heard_times, first, last);
        if (heard_cost + transcript_prefer_margin_seconds < cost(times, first, last)) {
            KeptRegion region{ first, last, std::vector<double>(last - first, 0.0) };
            for (size_t i = first; i < last; i++) {
                if (plan.heard[i] >= 0) {
                    region.expected[i - first] = heard_start(i) + lead(i);
                }
            }
            for (size_t i = first; i < last; i++) {
                const size_t k  = i - s.first;
                times.start[k]  = heard_times.start[k];
                times.end[k]    = heard_times.end[k];
                times.placed[k] = heard_times.placed[k];
            }
            kept.push_back(std::move(region));
        }
    }
    return kept;
}
