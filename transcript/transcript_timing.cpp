// Timing a segment's transcript words stretch by stretch, and settling the times of the whole transcript.

#include "cli/cli.h"
#include "transcript/transcript.h"
#include "words/words.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace {

// The shortest run of unmatched words tried without, when a stretch cannot be placed with them.
constexpr size_t min_left_out_run = 3;

// How far a badly placed stretch is widened on each side for its second try.
constexpr double wider_seconds = 1.0;

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

} // namespace

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
