// Written words the recogniser heard nothing for: where a place between two matched words holds at most half
// as many recognised words as written ones, most of its written words were likely never said.

#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>

namespace {

// Words this short are often run into their neighbours by the recogniser, so hearing nothing for them says
// little.
constexpr size_t max_swallowed_letters = 4;

// The recogniser also misses longer words it was given time for; words are taken as never said only where
// there was hardly any time for them, less than this share of what they take to say.
constexpr double room_share = 0.25;

} // namespace

std::vector<bool> surplus_words(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                                const std::vector<HeardWord> & heard, const Stretch & s) {
    std::vector<bool> surplus(words.size(), false);
    int32_t           previous = -1; // transcript index of the last matched word
    for (size_t i = s.first; i <= s.last; i++) {
        if (i < s.last && plan.heard[i] < 0) {
            continue;
        }
        if (previous >= 0 && i < s.last) {
            const size_t        from = static_cast<size_t>(previous) + 1;
            std::vector<size_t> written;
            for (size_t k = from; k < i; k++) {
                if (!plan.unheard[k]) {
                    written.push_back(k);
                }
            }
            const auto heard_between =
                static_cast<size_t>(plan.heard[i] - plan.heard[static_cast<size_t>(previous)] - 1);
            // The time between the two matched words, after the first is said, against what the words take.
            const HeardWord & h0 = heard[static_cast<size_t>(plan.heard[static_cast<size_t>(previous)])];
            const double room    = heard[static_cast<size_t>(plan.heard[i])].start - h0.start - spoken_seconds(h0.key);
            double       need    = 0;
            for (const size_t k : written) {
                need += spoken_seconds(words[k].key);
            }
            if (!written.empty() && 2 * heard_between <= written.size() && room < room_share * need) {
                for (const size_t k : written) {
                    surplus[k] = words[k].key.size() > max_swallowed_letters;
                }
            }
        }
        if (i < s.last) {
            previous = static_cast<int32_t>(i);
        }
    }
    return surplus;
}

namespace {

// An anchored word further than this from the usual lead of the anchors around it was misplaced.
constexpr double drift_seconds = 0.3;

// The fewest placed anchors whose usual lead is trusted; with fewer, none is assumed.
constexpr size_t min_lead_anchors = 5;

// Two tries agree on a word both place with starts this close.
constexpr double agree_seconds = 0.03;

// Per word of stretch `s`: whether try `t` misses it (unplaced though meant to be aligned, or an anchor placed
// off the usual lead of the anchors around it).
std::vector<bool> missed(const TranscriptPlan & plan, const std::vector<HeardWord> & heard, const Stretch & s,
                         const std::vector<bool> & left_out, const StretchTimes & t) {
    std::vector<bool>   miss(s.last - s.first, false);
    std::vector<size_t> anchors;
    std::vector<double> leads;
    for (size_t i = s.first; i < s.last; i++) {
        const size_t k = i - s.first;
        if (!t.placed[k]) {
            miss[k] = !left_out[i];
        } else if (plan.anchor[i]) {
            anchors.push_back(k);
            leads.push_back(t.start[k] - heard[static_cast<size_t>(plan.heard[i])].start);
        }
    }
    for (size_t a = 0; a < anchors.size(); a++) {
        double lead = 0;
        if (anchors.size() >= min_lead_anchors) {
            const size_t lo = a > transcript_lead_window ? a - transcript_lead_window : 0;
            const size_t hi = std::min(anchors.size(), a + transcript_lead_window + 1);
            lead            = median_lead(
                           { leads.begin() + static_cast<std::ptrdiff_t>(lo), leads.begin() + static_cast<std::ptrdiff_t>(hi) });
        }
        miss[anchors[a]] = std::fabs(leads[a] - lead) > drift_seconds;
    }
    return miss;
}

} // namespace

void keep_fewer_misses(const TranscriptPlan & plan, const std::vector<HeardWord> & heard, const Stretch & s,
                       const std::vector<bool> & left_out, const StretchTimes & without, StretchTimes & times) {
    const size_t            count = s.last - s.first;
    const std::vector<bool> a     = missed(plan, heard, s, plan.unheard, times);
    const std::vector<bool> b     = missed(plan, heard, s, left_out, without);
    const auto              agree = [&](size_t k) {
        return times.placed[k] && without.placed[k] && std::fabs(times.start[k] - without.start[k]) <= agree_seconds;
    };
    for (size_t k = 0; k < count;) {
        if (agree(k)) {
            k++;
            continue;
        }
        size_t end = k;
        while (end < count && !agree(end)) {
            end++;
        }
        const auto misses_a =
            std::count(a.begin() + static_cast<std::ptrdiff_t>(k), a.begin() + static_cast<std::ptrdiff_t>(end), true);
        const auto misses_b =
            std::count(b.begin() + static_cast<std::ptrdiff_t>(k), b.begin() + static_cast<std::ptrdiff_t>(end), true);
        if (misses_b < misses_a) {
            for (size_t u = k; u < end; u++) {
                times.start[u]  = without.start[u];
                times.end[u]    = without.end[u];
                times.placed[u] = without.placed[u];
            }
        }
        k = end;
    }
}
