// One call of the aligner over a stretch of written words, and the checks of what it drew.

#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>

namespace {

// An anchored word the aligner puts further than this from the usual lead of its neighbours was misplaced.
constexpr double anchor_drift_seconds = 0.3;

// The fewest placed anchors whose usual lead over the recogniser's starts is trusted; with fewer, none is assumed.
constexpr size_t min_lead_anchors = 5;

// A word longer than this many times its rough length, plus the slack, was drawn over other speech.
constexpr double stretched_factor = 2.5;
constexpr double stretched_slack  = 0.5;

} // namespace

double median_lead(std::vector<double> leads) {
    if (leads.empty()) {
        return 0.0;
    }
    const auto middle = leads.begin() + static_cast<std::ptrdiff_t>(leads.size() / 2);
    std::nth_element(leads.begin(), middle, leads.end());
    return *middle;
}

bool align_stretch(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                   const std::vector<bool> & left_out, const std::vector<HeardWord> & heard, const Stretch & s,
                   int32_t from, int32_t to, std::span<const float> samples, int32_t rate, const std::string & language,
                   bool denoise, kelvo_asr::ForcedAligner & aligner, StretchTimes & times, std::string & error) {
    const size_t count = s.last - s.first;
    times = StretchTimes{ std::vector<double>(count, 0), std::vector<double>(count, 0), std::vector<bool>(count, false),
                          0 };
    std::string         text;
    std::vector<size_t> sent;
    for (size_t i = s.first; i < s.last; i++) {
        if (!left_out[i]) {
            if (!text.empty()) {
                text += ' ';
            }
            text += words[i].key;
            sent.push_back(i);
        }
    }
    for (size_t i = s.first; i < s.last; i++) {
        times.misses += left_out[i] && !plan.unheard[i] ? 1 : 0; // words left out on this try count as missed
    }
    if (sent.empty()) {
        return true;
    }
    // The decoder's own edges: with the whole text known, moving a word's edge onto the signal's sound next to a
    // pause timed the words worse, in quiet and in noise.
    const kelvo_asr::alignment_result result =
        aligner.align(samples.data() + from, to - from, text, language, denoise, false);
    if (!result.success) {
        error = "alignment failed: " + result.error;
        return false;
    }
    const double offset = static_cast<double>(from) / static_cast<double>(rate);
    for (size_t k = 0; k < sent.size(); k++) {
        const size_t i = sent[k] - s.first;
        if (k >= result.words.size() || result.words[k].end - result.words[k].start < 0.001f) {
            times.misses++;
            continue;
        }
        times.start[i] = static_cast<double>(result.words[k].start) + offset;
        times.end[i]   = static_cast<double>(result.words[k].end) + offset;
        // A word drawn far beyond its length lies over speech it does not stand for: it is not placed.
        if (times.end[i] - times.start[i] > stretched_factor * spoken_seconds(words[sent[k]].key) + stretched_slack) {
            times.misses++;
            continue;
        }
        times.placed[i] = true;
    }
    // The recogniser's starts run early by an amount that drifts along a stretch (from under 0.1 s to about
    // 0.6 s): an anchor is misplaced when it is off from the usual lead of the anchors around it, not from
    // where it was heard.
    std::vector<size_t> anchors;
    std::vector<double> leads;
    for (const size_t w : sent) {
        if (plan.anchor[w] && times.placed[w - s.first]) {
            anchors.push_back(w);
            leads.push_back(times.start[w - s.first] - heard[static_cast<size_t>(plan.heard[w])].start);
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
        if (std::fabs(leads[a] - lead) > anchor_drift_seconds) {
            times.misses++;
        }
    }
    return true;
}
