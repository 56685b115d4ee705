#include "cli/cli.h"
#include "transcript/transcript.h"
#include "words/words.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace {

// An anchored word the aligner puts further than this from the usual lead of its neighbours was misplaced.
constexpr double anchor_drift_seconds = 0.3;

// The fewest placed anchors whose usual lead over the recogniser's starts is trusted; with fewer, none is assumed.
constexpr size_t min_lead_anchors = 5;

// A word longer than this many times its rough length, plus the slack, was drawn over other speech.
constexpr double stretched_factor = 2.5;
constexpr double stretched_slack  = 0.5;

// The shortest run of unmatched words tried without, when a stretch cannot be placed with them.
constexpr size_t min_left_out_run = 3;

// How far a badly placed stretch is widened on each side for its second try.
constexpr double wider_seconds = 1.0;

// A word that opens a turn or a sentence, drawn against the word before it with a pause after it, belongs
// after the pause (and one that closes a turn or sentence, likewise, before the pause ahead of it).
constexpr double turn_pause_seconds = 0.3;
constexpr double abutting_seconds   = 0.03;

// Whether every placed word of `times` starts before the segment's end and ends after its start.
bool within_segment(const StretchTimes & times, const Segment & segment, int32_t rate) {
    const double start = static_cast<double>(segment.start) / static_cast<double>(rate);
    const double end   = static_cast<double>(segment.end) / static_cast<double>(rate);
    for (size_t k = 0; k < times.placed.size(); k++) {
        if (times.placed[k] && (times.start[k] >= end || times.end[k] <= start)) {
            return false;
        }
    }
    return true;
}

// A word drawn shorter than this share of its rough length was squeezed into a place with no room for it.
constexpr double squeezed_share = 0.35;

// One word squeezed is what a written word the audio lacks costs; this many more than the first alignment
// squeezes are said words drawn off their speech.
constexpr int squeezed_beyond = 2;

// Whether word k of stretch `s` is unplaced in `v`, or drawn squeezed.
bool squeezed(const std::vector<TranscriptWord> & words, const Stretch & s, const StretchTimes & v, size_t k) {
    return !v.placed[k] || v.end[k] - v.start[k] < squeezed_share * spoken_seconds(words[s.first + k].key);
}

} // namespace

void keep_unsqueezed(const std::vector<TranscriptWord> & words, const Stretch & s, const StretchTimes & written,
                     StretchTimes & times) {
    const auto same = [&](size_t k) {
        return times.placed[k] == written.placed[k] &&
               (!times.placed[k] || (times.start[k] == written.start[k] && times.end[k] == written.end[k]));
    };
    for (size_t k = 0; k < times.placed.size();) {
        if (same(k)) {
            k++;
            continue;
        }
        size_t end = k;
        int    now = 0, before = 0;
        for (; end < times.placed.size() && !same(end); end++) {
            now += squeezed(words, s, times, end) ? 1 : 0;
            before += squeezed(words, s, written, end) ? 1 : 0;
        }
        if (now >= before + squeezed_beyond) {
            for (size_t q = k; q < end; q++) {
                times.start[q]  = written.start[q];
                times.end[q]    = written.end[q];
                times.placed[q] = written.placed[q];
            }
        }
        k = end;
    }
}

void keep_turn_edges(const std::vector<TranscriptWord> & words, const Stretch & s, StretchTimes & times) {
    // Between placed words b and a (stretch positions, b < a): whether a turn or sentence ends anywhere there,
    // so that words left out between them (a sentence never said) do not hide the turn.
    const auto turn_in = [&](size_t b, size_t a) {
        for (size_t m = b; m < a; m++) {
            if (turn_or_sentence_ends(words, s.first + m)) {
                return true;
            }
        }
        return false;
    };
    for (size_t k = 1; k + 1 < times.placed.size(); k++) {
        if (!times.placed[k]) {
            continue;
        }
        size_t b = k - 1;
        while (b > 0 && !times.placed[b]) {
            b--;
        }
        size_t a = k + 1;
        while (a + 1 < times.placed.size() && !times.placed[a]) {
            a++;
        }
        if (!times.placed[b] || !times.placed[a]) {
            continue;
        }
        const double length = times.end[k] - times.start[k];
        const double before = times.start[k] - times.end[b];
        const double after  = times.start[a] - times.end[k];
        if (turn_in(b, k) && !turn_in(k, a) && before <= abutting_seconds && after >= turn_pause_seconds) {
            times.end[k]   = times.start[a];
            times.start[k] = times.end[k] - length;
        } else if (turn_in(k, a) && !turn_in(b, k) && after <= abutting_seconds && before >= turn_pause_seconds) {
            times.start[k] = times.end[b];
            times.end[k]   = times.start[k] + length;
        }
    }
}

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

bool align_transcript_segment(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                              const std::vector<HeardWord> & heard, const Segment & segment, size_t index,
                              std::span<const float> samples, int32_t rate, const std::string & language, bool denoise,
                              bool labels, kelvo_asr::ForcedAligner & aligner, std::vector<TimedWord> & timed_words,
                              std::string & error) {
    const int32_t wider = static_cast<int32_t>(wider_seconds * static_cast<double>(rate));
    for (const Stretch & s : plan_stretches(words, plan, heard, segment, index, rate)) {
        StretchTimes times;
        if (!align_stretch(words, plan, plan.unheard, heard, s, s.from, s.to, samples, rate, language, denoise, aligner,
                           times, error)) {
            return false;
        }
        // Audio and text disagree here: the words may lie just outside the stretch, so try once more on a
        // wider window; and when words are still missed, align the pieces between the anchors apart, so that a
        // stretch of text the audio lacks costs only its own piece.
        // No wider window reaches into speech the transcript lacks between two of its sentences.
        const int32_t from = s.unwritten_before ? s.from : std::max(segment.start, s.from - wider);
        const int32_t to   = s.unwritten_after ? s.to : std::min(segment.end, s.to + wider);
        if (times.misses > 0 && (from < s.from || to > s.to)) {
            StretchTimes retry;
            if (!align_stretch(words, plan, plan.unheard, heard, s, from, to, samples, rate, language, denoise, aligner,
                               retry, error)) {
                return false;
            }
            if (retry.misses < times.misses) {
                times = std::move(retry);
            }
        }
        // A segment's edge can fall inside a word (a change of voice found a little off), leaving the stretch at
        // that edge no room for its text: it may reach past the edge, but no word may be drawn wholly beyond it
        // (that speech is the next segment's, where a written word the audio lacks would find room).
        if (times.misses > 0 && (s.from == segment.start || s.to == segment.end)) {
            const int32_t past_from = s.from == segment.start ? std::max(0, s.from - wider) : from;
            const int32_t past_to   = s.to == segment.end
                                          ? static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(samples.size()),
                                                                                 static_cast<int64_t>(s.to) + wider))
                                          : to;
            StretchTimes  past;
            if (!align_stretch(words, plan, plan.unheard, heard, s, past_from, past_to, samples, rate, language,
                               denoise, aligner, past, error)) {
                return false;
            }
            if (past.misses < times.misses && within_segment(past, segment, rate)) {
                times = std::move(past);
            }
        }
        const std::vector<Stretch> pieces =
            times.misses > 0 ? split_at_anchors(plan, heard, s, rate) : std::vector<Stretch>{};
        if (pieces.size() > 1) {
            StretchTimes apart{ {}, {}, {}, 0 };
            for (const Stretch & p : pieces) {
                StretchTimes piece;
                if (!align_stretch(words, plan, plan.unheard, heard, p, p.from, p.to, samples, rate, language, denoise,
                                   aligner, piece, error)) {
                    return false;
                }
                apart.start.insert(apart.start.end(), piece.start.begin(), piece.start.end());
                apart.end.insert(apart.end.end(), piece.end.begin(), piece.end.end());
                apart.placed.insert(apart.placed.end(), piece.placed.begin(), piece.placed.end());
                apart.misses += piece.misses;
            }
            if (apart.misses < times.misses) {
                times = std::move(apart);
            }
        }
        // Still missed: the longest run of words that match nothing heard may be text the audio lacks (a line
        // never said, next to a misheard word); without it the rest may be placed.
        if (times.misses > 0) {
            size_t run_first = 0, run_length = 0;
            for (size_t i = s.first; i < s.last;) {
                size_t k = i;
                while (k < s.last && plan.heard[k] < 0 && !plan.unheard[k]) {
                    k++;
                }
                if (k - i > run_length) {
                    run_first  = i;
                    run_length = k - i;
                }
                i = k + 1;
            }
            // A run that holds said words beside a sentence never said loses them all with it: the longest whole
            // sentence inside the run is tried without as well, where the run has no time for it.
            const size_t run_end                      = run_first + run_length;
            const auto [sentence_first, sentence_end] = longest_sentence_within(words, run_first, run_end);
            std::vector<std::pair<size_t, size_t>> tries;
            if (run_length >= min_left_out_run) {
                tries.emplace_back(run_first, run_end);
            }
            if (sentence_end > sentence_first && sentence_end - sentence_first < run_length &&
                fits_only_without(words, plan, heard, run_first, run_end, sentence_first, sentence_end,
                                  static_cast<double>(s.to) / static_cast<double>(rate))) {
                tries.emplace_back(sentence_first, sentence_end);
            }
            for (const auto & [left_first, left_end] : tries) {
                std::vector<bool> left_out = plan.unheard;
                std::fill(left_out.begin() + static_cast<std::ptrdiff_t>(left_first),
                          left_out.begin() + static_cast<std::ptrdiff_t>(left_end), true);
                StretchTimes without;
                if (!align_stretch(words, plan, left_out, heard, s, s.from, s.to, samples, rate, language, denoise,
                                   aligner, without, error)) {
                    return false;
                }
                if (without.misses < times.misses) {
                    times = std::move(without);
                }
            }
        }
        // Where the written words and the recognised ones disagree, a written word the audio lacks (or one said
        // differently) can drag its neighbours off their words.
        const StretchTimes written = times;
        if (!check_against_heard(words, plan, heard, s, index, samples, rate, language, denoise, aligner, times,
                                 error)) {
            return false;
        }
        keep_unsqueezed(words, s, written, times);
        leave_out_squeezed_words(words, plan, s, times);
        keep_turn_edges(words, s, times);
        if (!redraw_floor_words(words, plan, heard, s, samples, rate, language, denoise, aligner, times, error)) {
            return false;
        }
        trim_quiet_starts(samples, rate, times);
        for (size_t k = 0; k < times.placed.size(); k++) {
            const std::string & key = words[s.first + k].key;
            if (times.placed[k] && !key.empty() && std::string_view("aeiou").find(key[0]) != std::string_view::npos) {
                times.start[k] = vowel_opening_end(samples, rate, times.start[k], times.end[k]);
            }
        }
        trim_hidden_onsets(words, s, samples, rate, times);
        trim_noise_onsets(words, s, samples, rate, times);
        trim_stop_closures(words, s, samples, rate, times);
        for (size_t i = s.first; i < s.last; i++) {
            const TranscriptWord & w = words[i];
            TimedWord              word;
            word.text         = w.text;
            word.start        = times.start[i - s.first];
            word.end          = times.end[i - s.first];
            word.added        = w.added;
            word.who          = labels ? segment.label : w.who;
            word.untimed      = !times.placed[i - s.first];
            word.speaker_name = w.speaker;
            timed_words.push_back(std::move(word));
        }
    }
    return true;
}

size_t settle_transcript_times(std::vector<TimedWord> & timed_words) {
    double previous_end = -1; // no timed word yet
    for (TimedWord & word : timed_words) {
        if (word.untimed) {
            continue;
        }
        if (previous_end >= 0 && word.start < previous_end - transcript_overlap_seconds) {
            word.start = previous_end;
            if (word.end - word.start < 0.001) {
                word.untimed = true;
                continue;
            }
        }
        previous_end = word.end;
    }
    // Untimed words sit at the end of the timed word ahead of them, never past the start of the one after
    // them; ahead of the first timed word, at its start.
    std::vector<double> next_start(timed_words.size() + 1, -1);
    for (size_t k = timed_words.size(); k-- > 0;) {
        next_start[k] = timed_words[k].untimed ? next_start[k + 1] : timed_words[k].start;
    }
    size_t untimed = 0;
    double at      = std::max(next_start[0], 0.0);
    for (size_t k = 0; k < timed_words.size(); k++) {
        TimedWord & word = timed_words[k];
        if (!word.untimed) {
            at = word.end;
            continue;
        }
        word.start = word.end = next_start[k] >= 0 ? std::min(at, next_start[k]) : at;
        untimed++;
    }
    return untimed;
}
