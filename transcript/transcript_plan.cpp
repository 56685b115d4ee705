#include "transcript/transcript.h"
#include "words/words.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The fewest recognised words in a row, standing for no transcript word, that are kept out of the alignment.
constexpr size_t min_hole_words = 2;

// A word of this many letters or fewer, alone between two matched words, is aligned even without room.
constexpr size_t max_swallowed_letters = 4;

int32_t to_sample(double seconds, int32_t rate) {
    return static_cast<int32_t>(std::lround(seconds * static_cast<double>(rate)));
}

} // namespace

double spoken_seconds(const std::string & key) {
    return 0.1 + 0.055 * static_cast<double>(key.size());
}

size_t keyed_between(const std::vector<TranscriptWord> & words, size_t first, size_t end) {
    size_t count = 0;
    for (size_t k = first; k < end; k++) {
        count += words[k].key.empty() ? 0 : 1;
    }
    return count;
}

double rough_seconds(const std::vector<TranscriptWord> & words, size_t first, size_t end) {
    double sum = 0;
    for (size_t k = first; k < end; k++) {
        sum += words[k].key.empty() ? 0.0 : spoken_seconds(words[k].key);
    }
    return sum;
}

TranscriptPlan plan_transcript(const std::vector<TranscriptWord> & words, const std::vector<HeardWord> & heard,
                               const std::vector<Segment> & segments, int32_t rate, size_t min_run) {
    const size_t   n = words.size();
    TranscriptPlan plan;
    plan.segment.assign(n, 0);
    plan.heard.assign(n, -1);
    plan.anchor.assign(n, false);
    plan.unheard.assign(n, false);

    std::vector<std::string> a;
    std::vector<size_t>      a_index;
    for (size_t i = 0; i < n; i++) {
        if (!words[i].key.empty()) {
            a.push_back(words[i].key);
            a_index.push_back(i);
        }
    }
    std::vector<std::string> b;
    b.reserve(heard.size());
    for (const HeardWord & h : heard) {
        b.push_back(h.key);
    }
    const std::vector<int32_t> match = match_sequences(a, b);
    for (size_t p = 0; p < a.size(); p++) {
        plan.heard[a_index[p]] = match[p];
    }
    for (size_t i = 0; i < n; i++) {
        plan.unheard[i] = words[i].key.empty(); // nothing to say: placed between its neighbours
    }

    // Runs of agreement: matched keyed words whose recognised words follow each other in one segment.
    for (size_t p = 0; p < a.size();) {
        size_t q = p + 1;
        if (match[p] >= 0) {
            while (q < a.size() && match[q] == match[q - 1] + 1 &&
                   heard[static_cast<size_t>(match[q])].segment == heard[static_cast<size_t>(match[p])].segment) {
                q++;
            }
            if (q - p >= min_run) {
                for (size_t r = p; r < q; r++) {
                    plan.anchor[a_index[r]] = true;
                }
            }
        }
        p = q;
    }

    // A lone match (not part of an anchored run) can take a recognised word of the wrong place: the same key
    // heard a few words early ("the" of "forty hives on the hill" matched to a misheard "the" before them)
    // leaves the words between with no room and turns their speech into a hole. Such a match is undone when
    // the run beyond it holds more recognised words than written ones (speech the match may belong to), or the
    // time from its start to the next match holds all those words (it was heard early), and the run it closes
    // and that run, taken as one, have room for their words.
    const double recording_end =
        segments.empty() ? 0.0 : static_cast<double>(segments.back().end) / static_cast<double>(rate);
    // Whether the time between the matches around the unmatched words [first, end) holds half their rough length,
    // the words [skip_first, skip_end) left out.
    const auto room_for = [&](size_t first, size_t end, size_t skip_first, size_t skip_end) {
        double need = 0;
        for (size_t k = first; k < end; k++) {
            need += words[k].key.empty() || (k >= skip_first && k < skip_end) ? 0.0 : spoken_seconds(words[k].key);
        }
        int32_t j0 = -1;
        for (size_t k = first; k-- > 0;) {
            if (plan.heard[k] >= 0) {
                j0 = plan.heard[k];
                break;
            }
        }
        const double from =
            j0 >= 0 ? heard[static_cast<size_t>(j0)].start + spoken_seconds(heard[static_cast<size_t>(j0)].key) : 0.0;
        const double to = end < n ? heard[static_cast<size_t>(plan.heard[end])].start : recording_end;
        return to - from >= 0.5 * need;
    };
    const auto has_room = [&](size_t first, size_t end) { // the unmatched words [first, end) between matches
        // The recogniser often runs a short word into its neighbours ("and to work" heard as "and work"):
        // one such word is always given its try.
        if (end - first == 1 && words[first].key.size() <= max_swallowed_letters) {
            return true;
        }
        return room_for(first, end, end, end);
    };
    const auto next_matched = [&](size_t k) { // the first matched word at k or after; n when none
        while (k < n && plan.heard[k] < 0) {
            k++;
        }
        return k;
    };
    const auto after_matched_before = [&](size_t k) { // the word after the last matched one before k; 0 when none
        while (k-- > 0) {
            if (plan.heard[k] >= 0) {
                return k + 1;
            }
        }
        return size_t{ 0 };
    };
    const auto more_heard = [&](size_t first, size_t end) { // the unmatched words [first, end) between matches
        const size_t  before = after_matched_before(first);
        const int32_t j0     = before > 0 ? plan.heard[before - 1] : -1;
        const int32_t j1     = end < n ? plan.heard[end] : static_cast<int32_t>(heard.size());
        return j1 - j0 - 1 > static_cast<int32_t>(keyed_between(words, first, end));
    };
    for (bool changed = !heard.empty(); changed;) {
        changed = false;
        for (size_t i = 0; i < n;) {
            if (plan.heard[i] >= 0) {
                i++;
                continue;
            }
            const size_t  end    = next_matched(i);
            const size_t  before = i > 0 && after_matched_before(i) > 0 ? after_matched_before(i) - 1 : i; // i: none
            const int32_t j0     = before < i ? plan.heard[before] : -1;
            const int32_t j1     = end < n ? plan.heard[end] : static_cast<int32_t>(heard.size());
            // Fewer words heard between the matches than written ("running" heard as "summer" before an early
            // "I") leave the run no more room than none; as many heard are its own words, said quickly. The match
            // before it is only undone where nothing was heard between, as that speech may be a sentence of its own.
            const int32_t heard_between = j1 - j0 - 1;
            if (heard_between >= static_cast<int32_t>(keyed_between(words, i, end)) || has_room(i, end)) {
                i = end;
                continue;
            }
            if (end < n && !plan.anchor[end] &&
                (more_heard(end + 1, next_matched(end + 1)) ||
                 lone_match_stands_early(words, plan, heard, i, end, recording_end)) &&
                has_room(i, next_matched(end + 1))) {
                plan.heard[end] = -1;
                changed         = true;
            } else if (heard_between == 0 && before < i && !plan.anchor[before] &&
                       more_heard(after_matched_before(before), before) &&
                       has_room(after_matched_before(before), end)) {
                plan.heard[before] = -1;
                changed            = true;
            }
            i = end;
        }
    }

    // A lone match with speech the transcript lacks on both sides (recognised words beyond the written ones
    // between it and the matches around it) is a common word heard inside that speech ("work" of "to work out"
    // in a sentence the transcript leaves out): it would pull the written words around it into that speech. So is
    // the only match of its written sentence beside such speech when, without it, that speech lies between two
    // written sentences. And a lone match heard apart from the word written beside it in its sentence by speech
    // the transcript lacks is a common word of other speech: no unwritten speech lies between two such words.
    const auto written_between = [&](size_t first, size_t end) {
        return static_cast<int32_t>(keyed_between(words, first, end));
    };
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t i = 0; i < n; i++) {
            if (plan.heard[i] < 0 || plan.anchor[i]) {
                continue;
            }
            const size_t  before = after_matched_before(i);
            const size_t  after  = next_matched(i + 1);
            const int32_t j0     = before > 0 ? plan.heard[before - 1] : -1;
            const int32_t j1     = after < n ? plan.heard[after] : static_cast<int32_t>(heard.size());
            const auto    excess = static_cast<int32_t>(min_hole_words);
            if (before > 0 && after < n && plan.heard[i] - j0 - 1 - written_between(before, i) >= excess &&
                j1 - plan.heard[i] - 1 - written_between(i + 1, after) >= excess) {
                plan.heard[i] = -1;
                changed       = true;
            } else if (match_hides_sentence_gap(words, plan, heard, i)) {
                plan.heard[i] = -1;
                changed       = true;
            } else if (match_heard_apart_in_sentence(words, plan, i)) {
                plan.heard[i] = -1;
                changed       = true;
            }
        }
    }

    // A lone match that is the only one of its written sentence, with no recognised word between it and the
    // match on one side and no room there for the unmatched words between, can be a word of a never-said
    // sentence taken from speech said just after ("this" of an added sentence heard in the next turn): it
    // squeezes the said words before it into nothing. It is undone when the run it splits, less its sentence,
    // has room for its words, so that the sentence can be left out whole and the said words keep the time.
    const auto squeezed = [&](size_t first, size_t end) { // unmatched words [first, end) between matches
        const int32_t j0 = first > 0 ? plan.heard[first - 1] : -1;
        const int32_t j1 = end < n ? plan.heard[end] : static_cast<int32_t>(heard.size());
        return end > first && j1 - j0 - 1 == 0 && !has_room(first, end);
    };
    for (size_t i = 0; i < n; i++) {
        if (plan.heard[i] < 0 || plan.anchor[i]) {
            continue;
        }
        const auto [s0, s1] = sentence_around(words, i);
        const bool   alone  = only_match_of_sentence(words, plan, i);
        const size_t before = after_matched_before(i);
        const size_t after  = next_matched(i + 1);
        if (!alone || (!squeezed(before, i) && !squeezed(i + 1, after))) {
            continue;
        }
        const int32_t kept = plan.heard[i];
        plan.heard[i]      = -1;
        if (!room_for(before, after, s0, s1)) {
            plan.heard[i] = kept;
        }
    }

    // Each stretch of unmatched words between two matched ones (or the ends) is shared out over the segments
    // of the recognised words between them; with none, it stays with a matched neighbour.
    int32_t j0 = -1;
    size_t  i  = 0;
    while (i < n) {
        if (plan.heard[i] >= 0) {
            plan.segment[i] = heard[static_cast<size_t>(plan.heard[i])].segment;
            j0              = plan.heard[i];
            i++;
            continue;
        }
        size_t end = i;
        while (end < n && plan.heard[end] < 0) {
            end++;
        }
        const int32_t j1     = end < n ? plan.heard[end] : static_cast<int32_t>(heard.size());
        const size_t  gap    = end - i;
        const size_t  inside = static_cast<size_t>(j1 - j0 - 1);
        for (size_t k = 0; k < gap; k++) {
            if (inside > 0) {
                plan.segment[i + k] = heard[static_cast<size_t>(j0 + 1) + k * inside / gap].segment;
            } else if (j0 >= 0) {
                plan.segment[i + k] = heard[static_cast<size_t>(j0)].segment;
            } else if (j1 < static_cast<int32_t>(heard.size())) {
                plan.segment[i + k] = heard[static_cast<size_t>(j1)].segment;
            } else if (!segments.empty()) { // nothing heard at all: shared out by the segments' lengths
                const double  at     = static_cast<double>(k) / static_cast<double>(gap) * recording_end;
                const int32_t sample = to_sample(at, rate);
                size_t        s      = 0;
                while (s + 1 < segments.size() && segments[s].end <= sample) {
                    s++;
                }
                plan.segment[i + k] = s;
            }
        }
        // No recognised word between the neighbours: the recogniser may have missed the words, but only where
        // there is time for them between the two recognised starts, after the earlier word itself.
        if (inside == 0 && !heard.empty() && !has_room(i, end)) {
            for (size_t k = i; k < end; k++) {
                plan.unheard[k] = true;
            }
        }
        i = end;
    }
    leave_out_unsaid_sentences(words, heard, recording_end, plan);
    return plan;
}
