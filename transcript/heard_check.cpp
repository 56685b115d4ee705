// The check of an alignment against the words the recogniser heard, where written and heard words disagree.

#include "transcript/transcript.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// How far before and after the heard alignment's edges a region's written words may be drawn again, and the
// shortest span worth aligning.
constexpr double region_slack_seconds = 0.05;
constexpr double min_region_seconds   = 0.3;

// In a quiet recording the quietest 10 ms frame of a stretch lies at least this far below its loudest; in noise
// the pauses hold the noise, nearer the speech.
constexpr double quiet_floor_db = 40.0;

// The least room, as a share of the time its words take to say, for aligning a run of words on its own.
constexpr double room_share = 0.5;

// Aligns each run of unplaced words in [first, last) that have something to say, and that the first alignment
// (`written`) placed, on its own over the audio between the placed words around it, when there is room for it
// there: a word the first alignment could not place either stays unplaced.
bool fill_between(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                  const std::vector<HeardWord> & heard, const Stretch & s, size_t first, size_t last,
                  std::span<const float> samples, int32_t rate, const std::string & language, bool denoise,
                  kelvo_asr::ForcedAligner & aligner, const StretchTimes & written, StretchTimes & times,
                  std::string & error) {
    for (size_t i = first; i < last;) {
        if (times.placed[i - s.first] || plan.unheard[i] || !written.placed[i - s.first]) {
            i++;
            continue;
        }
        size_t end  = i;
        double need = 0;
        while (end < last && !times.placed[end - s.first] && (written.placed[end - s.first] || plan.unheard[end])) {
            need += plan.unheard[end] ? 0.0 : spoken_seconds(words[end].key);
            end++;
        }
        const double from = i > s.first && times.placed[i - 1 - s.first] ? times.end[i - 1 - s.first] : -1;
        const double to   = end < s.last && times.placed[end - s.first] ? times.start[end - s.first] : -1;
        if (from >= 0 && to > from && to - from >= room_share * need) {
            const Stretch gap{ static_cast<int32_t>(std::lround(from * rate)),
                               static_cast<int32_t>(std::lround(to * rate)), i, end };
            StretchTimes  inside;
            if (!align_stretch(words, plan, plan.unheard, heard, gap, gap.from, gap.to, samples, rate, language,
                               denoise, aligner, inside, error)) {
                return false;
            }
            for (size_t k = i; k < end; k++) {
                times.start[k - s.first]  = inside.start[k - i];
                times.end[k - s.first]    = inside.end[k - i];
                times.placed[k - s.first] = inside.placed[k - i];
            }
        }
        i = end;
    }
    return true;
}

// Aligns the written words of region [first, last) again, on their own, over the span the heard alignment
// (`heard_times`) gives the region, from a little before its first matched word's start to its last one's end,
// not before the placed word ahead of the region ends. Fills `inside` (positions of the region) and returns false
// with `error` when the aligner fails; `inside` stays empty when the span is missing or too short.
bool realign_region(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                    const std::vector<HeardWord> & heard, const Stretch & s, size_t first, size_t last,
                    std::span<const float> samples, int32_t rate, const std::string & language, bool denoise,
                    kelvo_asr::ForcedAligner & aligner, const StretchTimes & heard_times, const StretchTimes & times,
                    StretchTimes & inside, std::string & error) {
    inside = StretchTimes{ {}, {}, {}, 0 };
    if (!heard_times.placed[first - s.first] || !heard_times.placed[last - 1 - s.first]) {
        return true;
    }
    double from = heard_times.start[first - s.first] - region_slack_seconds;
    for (size_t k = first - s.first; k-- > 0;) {
        if (times.placed[k]) {
            from = std::max(from, times.end[k]);
            break;
        }
    }
    from            = std::max(from, static_cast<double>(s.from) / static_cast<double>(rate));
    const double to = std::min(heard_times.end[last - 1 - s.first] + region_slack_seconds,
                               static_cast<double>(s.to) / static_cast<double>(rate));
    if (to - from < min_region_seconds) {
        return true;
    }
    const Stretch span{ static_cast<int32_t>(std::lround(from * rate)), static_cast<int32_t>(std::lround(to * rate)),
                        first, last };
    return align_stretch(words, plan, plan.unheard, heard, span, span.from, span.to, samples, rate, language, denoise,
                         aligner, inside, error);
}

} // namespace

bool pauses_hold_noise(std::span<const float> samples, int32_t rate, const Stretch & s) {
    const double              per_second = static_cast<double>(rate);
    const std::vector<double> db =
        frame_levels(samples, rate, std::max(s.from, 0) / per_second, static_cast<double>(s.to) / per_second, 0.010);
    if (db.empty()) {
        return false;
    }
    const auto [lo, hi] = std::minmax_element(db.begin(), db.end());
    return *hi - *lo < quiet_floor_db;
}

bool check_against_heard(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                         const std::vector<HeardWord> & heard, const Stretch & s, size_t index,
                         std::span<const float> samples, int32_t rate, const std::string & language, bool denoise,
                         kelvo_asr::ForcedAligner & aligner, StretchTimes & times, std::string & error) {
    const std::vector<std::pair<size_t, size_t>> regions = disagreeing_regions(plan, s);
    if (regions.empty()) {
        return true;
    }
    StretchTimes heard_times;
    if (!align_heard(plan, heard, s, index, samples, rate, language, denoise, aligner, heard_times, error)) {
        return false;
    }
    const StretchTimes written = times;
    // In noise the written words drawn again over the heard span put said words off that filling the place in
    // between its words placed right: there the place is only filled in.
    const bool                    draw_again   = !pauses_hold_noise(samples, rate, s);
    const std::vector<KeptRegion> kept_regions = prefer_nearer_to_heard(plan, heard, regions, s, heard_times, times);
    for (const KeptRegion & region : kept_regions) {
        const size_t first = region.first;
        const size_t last  = region.last;
        // The heard alignment tells where the region lies; its edges within are the recognised words', so the
        // written words are drawn again over that span, and kept when they place as many words as before and
        // put the matched words nearer where they were heard than the first alignment did (drawn again, they
        // often fall back where the first alignment had them).
        StretchTimes inside;
        if (draw_again && !realign_region(words, plan, heard, s, first, last, samples, rate, language, denoise, aligner,
                                          heard_times, times, inside, error)) {
            return false;
        }
        const auto placed_span = [](const std::vector<bool> & placed, size_t from, size_t to) {
            return std::count(placed.begin() + static_cast<std::ptrdiff_t>(from),
                              placed.begin() + static_cast<std::ptrdiff_t>(to), true);
        };
        const bool drawn_again_fits =
            !inside.placed.empty() && inside.misses == 0 &&
            region_cost(plan, region, inside, first) + transcript_prefer_margin_seconds <
                region_cost(plan, region, written, s.first) &&
            placed_span(inside.placed, 0, last - first) >= placed_span(written.placed, first - s.first, last - s.first);
        const auto take = [&](const StretchTimes & v, size_t offset) {
            for (size_t i = first; i < last; i++) {
                times.start[i - s.first]  = v.start[i - offset];
                times.end[i - s.first]    = v.end[i - offset];
                times.placed[i - s.first] = v.placed[i - offset];
            }
        };
        if (drawn_again_fits) {
            take(inside, first);
            continue;
        }
        StretchTimes filled = times;
        if (!fill_between(words, plan, heard, s, first, last, samples, rate, language, denoise, aligner, written,
                          filled, error)) {
            return false;
        }
        // A word placed before and left unplaced now keeps its first place where that still fits between its
        // placed neighbours.
        for (size_t i = first; i < last; i++) {
            const size_t k = i - s.first;
            if (filled.placed[k] || !written.placed[k]) {
                continue;
            }
            size_t before = k, after = k + 1;
            while (before > 0 && !filled.placed[before - 1]) {
                before--;
            }
            while (after < filled.placed.size() && !filled.placed[after]) {
                after++;
            }
            const bool fits_before =
                before == 0 || written.start[k] >= filled.end[before - 1] - transcript_overlap_seconds;
            const bool fits_after =
                after == filled.placed.size() || written.end[k] <= filled.start[after] + transcript_overlap_seconds;
            if (fits_before && fits_after) {
                filled.start[k]  = written.start[k];
                filled.end[k]    = written.end[k];
                filled.placed[k] = true;
            }
        }
        // Nearer is not worth words lost. In quiet each word the place would lose (but a word drawn at the
        // aligner's fewest frames, left out anyway) counts as much as a matched word left unplaced, and the place
        // keeps the first alignment when the gain does not pay for it: a written word the audio lacks, drawn over
        // the next word's opening, pushes the said words after it off, and their place may leave it no room. In
        // noise the recognised words' times are rougher, and any word lost keeps the first alignment.
        const auto placed_in = [&](const StretchTimes & v) {
            return placed_span(v.placed, first - s.first, last - s.first);
        };
        const size_t lost = draw_again ? region_words_lost(words, plan, s, first, last, written, filled)
                                       : (placed_in(filled) < placed_in(written) ? 1 : 0);
        if (lost > 0 && (!draw_again || region_cost(plan, region, filled, s.first) +
                                                transcript_unplaced_cost * static_cast<double>(lost) +
                                                transcript_prefer_margin_seconds >=
                                            region_cost(plan, region, written, s.first))) {
            take(written, s.first);
        } else {
            take(filled, s.first);
        }
    }
    // A word beside a place drawn again was drawn against the place's first alignment (in quiet, where its
    // edges are sure enough to move a neighbour by).
    for (const KeptRegion & region : draw_again ? kept_regions : std::vector<KeptRegion>{}) {
        fit_region_edges(s, region.first, region.last, written, times);
    }
    return true;
}
