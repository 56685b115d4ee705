// The recognised words aligned over a stretch in place of the written ones, for the check against what was heard.

#include "transcript/transcript.h"

#include <algorithm>

namespace {

// Recognised words heard this much before a stretch starts are its own: the recogniser's starts run early.
constexpr double heard_lead_seconds = 0.1;

} // namespace

bool align_heard(const TranscriptPlan & plan, const std::vector<HeardWord> & heard, const Stretch & s, size_t index,
                 std::span<const float> samples, int32_t rate, const std::string & language, bool denoise,
                 kelvo_asr::ForcedAligner & aligner, StretchTimes & times, std::string & error) {
    const size_t count = s.last - s.first;
    times = StretchTimes{ std::vector<double>(count, 0), std::vector<double>(count, 0), std::vector<bool>(count, false),
                          0 };
    const double from = static_cast<double>(s.from) / static_cast<double>(rate);
    const double to   = static_cast<double>(s.to) / static_cast<double>(rate);
    size_t       j0   = heard.size();
    size_t       j1   = 0;
    std::string  text;
    for (size_t j = 0; j < heard.size(); j++) {
        if (heard[j].segment == index && heard[j].start >= from - heard_lead_seconds && heard[j].start < to) {
            j0 = std::min(j0, j);
            j1 = j + 1;
            text += (text.empty() ? "" : " ") + heard[j].key;
        }
    }
    if (text.empty()) {
        return true;
    }
    // With the decoder's own edges, as the written words are aligned.
    const kelvo_asr::alignment_result result =
        aligner.align(samples.data() + s.from, s.to - s.from, text, language, denoise, false);
    if (!result.success) {
        error = "alignment failed: " + result.error;
        return false;
    }
    const double offset = from;
    auto         place  = [&](size_t i, size_t j) {
        const size_t k = j - j0;
        if (j < j0 || j >= j1 || k >= result.words.size() || result.words[k].end - result.words[k].start < 0.001f) {
            return;
        }
        times.start[i - s.first]  = static_cast<double>(result.words[k].start) + offset;
        times.end[i - s.first]    = static_cast<double>(result.words[k].end) + offset;
        times.placed[i - s.first] = true;
    };
    int32_t previous = -1; // transcript index of the last matched word
    for (size_t i = s.first; i <= s.last; i++) {
        if (i < s.last && plan.heard[i] < 0) {
            continue;
        }
        // The unmatched written words since the last matched one, against the unmatched recognised words.
        const size_t jl = previous >= 0 ? static_cast<size_t>(plan.heard[static_cast<size_t>(previous)]) + 1 : j0;
        const size_t jr = i < s.last ? static_cast<size_t>(plan.heard[i]) : j1;
        std::vector<size_t> written;
        for (size_t k = previous >= 0 ? static_cast<size_t>(previous) + 1 : s.first; k < i; k++) {
            if (!plan.unheard[k]) {
                written.push_back(k);
            }
        }
        if (jr >= jl && written.size() == jr - jl) {
            for (size_t k = 0; k < written.size(); k++) {
                place(written[k], jl + k);
            }
        }
        if (i < s.last) {
            place(i, static_cast<size_t>(plan.heard[i]));
            previous = static_cast<int32_t>(i);
        }
    }
    return true;
}
