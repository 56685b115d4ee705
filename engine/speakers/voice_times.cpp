// Found voices matched to times: the stretches are sorted and disjoint, so the first stretch ending after a
// time is found by binary search and every rule looks only at it, its neighbours and those it overlaps.

#include "engine/kelvo_asr.h"

#include <algorithm>
#include <cstdint>

namespace kelvo_asr {

namespace {

using stretch_iter = std::vector<voice_stretch>::const_iterator;

// How far [start, end) lies from `v`: 0 or less when they meet (less: they share samples).
int64_t apart(const voice_stretch & v, int64_t start, int64_t end) {
    return std::max<int64_t>(v.start - end, start - v.end);
}

// The first stretch that ends at or after `at`; end() when none does.
stretch_iter first_ending_from(const std::vector<voice_stretch> & stretches, double at) {
    return std::lower_bound(stretches.begin(), stretches.end(), at,
                            [](const voice_stretch & v, double t) { return static_cast<double>(v.end) < t; });
}

// Of the stretches just before and at `after`, the nearer to [start, end); the earlier when as near.
stretch_iter nearest(const std::vector<voice_stretch> & stretches, stretch_iter after, double start, double end) {
    if (after == stretches.end()) {
        return after - 1;
    }
    if (after == stretches.begin()) {
        return after;
    }
    const stretch_iter before = after - 1;
    return start - before->end <= after->start - end ? before : after;
}

} // namespace

int32_t voice_at(const std::vector<voice_stretch> & stretches, double sample) {
    if (stretches.empty()) {
        return 0;
    }
    const stretch_iter at = first_ending_from(stretches, sample);
    if (at != stretches.end() && at->start <= sample) {
        return at->voice;
    }
    return nearest(stretches, at, sample, sample)->voice;
}

int32_t main_voice(const std::vector<voice_stretch> & stretches, int32_t start, int32_t end) {
    if (stretches.empty()) {
        return 0;
    }
    // Stretches touching the span share no samples but are as near as can be: they count as sharing 0.
    const stretch_iter first = first_ending_from(stretches, start);
    stretch_iter       best  = stretches.end();
    int64_t            most  = 0;
    for (stretch_iter v = first; v != stretches.end() && v->start <= end; ++v) {
        const int64_t shared = -apart(*v, start, end);
        if (best == stretches.end() || shared > most) {
            best = v;
            most = shared;
        }
    }
    if (best == stretches.end()) {
        best = nearest(stretches, first, start, end);
    }
    return best->voice;
}

std::vector<voice_stretch> voices_within(const std::vector<voice_stretch> & stretches, int32_t start, int32_t end) {
    std::vector<voice_stretch> within;
    if (stretches.empty()) {
        return within;
    }
    const stretch_iter first = std::upper_bound(stretches.begin(), stretches.end(), start,
                                                [](int32_t t, const voice_stretch & v) { return t < v.end; });
    for (stretch_iter v = first; v != stretches.end() && v->start < end; ++v) {
        within.push_back({ std::max(v->start, start) - start, std::min(v->end, end) - start, v->voice });
    }
    if (within.empty()) {
        // A span no stretch meets is the nearest voice's, so that it is not learned as a voice of its own.
        within.push_back({ 0, end - start, nearest(stretches, first, start, end)->voice });
    }
    return within;
}

std::vector<int32_t> voice_changes(const std::vector<voice_stretch> & stretches, int32_t min_pause) {
    std::vector<int32_t> changes;
    for (size_t k = 1; k < stretches.size(); k++) {
        const int32_t pause = stretches[k].start - stretches[k - 1].end;
        if (stretches[k].voice != stretches[k - 1].voice && (min_pause <= 0 || pause >= min_pause)) {
            changes.push_back(stretches[k - 1].end + pause / 2);
        }
    }
    return changes;
}

} // namespace kelvo_asr
