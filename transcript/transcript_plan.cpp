#include "transcript/transcript.h"
#include "words/words.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Where a cut before a run goes: a little ahead of the recognised start, which can be late by a frame or two.
constexpr double cut_lead_seconds = 0.02;

// The fewest recognised words in a row, standing for no transcript word, that are kept out of the alignment.
constexpr size_t min_hole_words = 2;

// Stretches shorter than this are merged: a stretch needs room for the aligner to find its words.
constexpr double min_stretch_seconds = 0.3;

// A word of this many letters or fewer, alone between two matched words, is aligned even without room.
constexpr size_t max_swallowed_letters = 4;

// The fewest words with something to say in a sentence that can be left out whole as never said.
constexpr size_t min_sentence_words = 3;

// The share of their rough length that written words are taken to span among the recognised words.
constexpr double said_share = 0.5;

int32_t to_sample(double seconds, int32_t rate) {
    return static_cast<int32_t>(std::lround(seconds * static_cast<double>(rate)));
}

// The written words [first, end), unmatched between two matched ones, beside the recognised words [j_first,
// j_end) between those: when they open a sentence (the word before them closes one) and close none, the
// recognised words they are said over, taken from the end, as many as their time takes at the recogniser's
// pace (half the rough length); when they close one and open none, those from the start. Else an empty range.
std::pair<size_t, size_t> said_beside_hole(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                                           const std::vector<HeardWord> & heard, size_t first, size_t end,
                                           size_t j_first, size_t j_end) {
    if (first == 0 || end <= first || j_end <= j_first || j_end > heard.size()) {
        return { 0, 0 };
    }
    double need   = 0;
    bool   inside = false; // a sentence ends inside the run, before its last word
    for (size_t k = first; k < end; k++) {
        if (plan.unheard[k]) {
            return { 0, 0 };
        }
        need += words[k].key.empty() ? 0.0 : spoken_seconds(words[k].key);
        inside = inside || (k + 1 < end && turn_or_sentence_ends(words, k));
    }
    const bool opens  = turn_or_sentence_ends(words, first - 1);
    const bool closes = turn_or_sentence_ends(words, end - 1);
    if (inside || opens == closes) {
        return { 0, 0 };
    }
    const double span = said_share * need;
    if (opens) { // said at the end: the recognised words from the last one back that span holds
        const double until = j_end < heard.size() ? heard[j_end].start : heard[j_end - 1].start;
        size_t       k     = j_end;
        while (k > j_first && until - heard[k - 1].start < span) {
            k--;
        }
        return { k > j_first ? k - 1 : j_first, j_end };
    }
    size_t k = j_first + 1;
    while (k < j_end && heard[k].start - heard[j_first].start < span) {
        k++;
    }
    return { j_first, k };
}

} // namespace

double spoken_seconds(const std::string & key) {
    return 0.1 + 0.055 * static_cast<double>(key.size());
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
        const size_t  before  = after_matched_before(first);
        const int32_t j0      = before > 0 ? plan.heard[before - 1] : -1;
        const int32_t j1      = end < n ? plan.heard[end] : static_cast<int32_t>(heard.size());
        const auto    written = static_cast<int32_t>(std::count_if(
               words.begin() + static_cast<std::ptrdiff_t>(first), words.begin() + static_cast<std::ptrdiff_t>(end),
               [](const TranscriptWord & w) { return !w.key.empty(); }));
        return j1 - j0 - 1 > written;
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
            if (j1 - j0 - 1 > 0 || has_room(i, end)) {
                i = end;
                continue;
            }
            if (end < n && !plan.anchor[end] &&
                (more_heard(end + 1, next_matched(end + 1)) ||
                 lone_match_stands_early(words, plan, heard, i, end, recording_end)) &&
                has_room(i, next_matched(end + 1))) {
                plan.heard[end] = -1;
                changed         = true;
            } else if (before < i && !plan.anchor[before] && more_heard(after_matched_before(before), before) &&
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
    // written sentences.
    const auto written_between = [&](size_t first, size_t end) {
        return static_cast<int32_t>(std::count_if(words.begin() + static_cast<std::ptrdiff_t>(first),
                                                  words.begin() + static_cast<std::ptrdiff_t>(end),
                                                  [](const TranscriptWord & w) { return !w.key.empty(); }));
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
        size_t s0 = i;
        while (s0 > 0 && !turn_or_sentence_ends(words, s0 - 1)) {
            s0--;
        }
        size_t s1 = i;
        while (s1 < n && !turn_or_sentence_ends(words, s1)) {
            s1++;
        }
        s1               = std::min(s1 + 1, n);
        const auto keyed = std::count_if(words.begin() + static_cast<std::ptrdiff_t>(s0),
                                         words.begin() + static_cast<std::ptrdiff_t>(s1),
                                         [](const TranscriptWord & w) { return !w.key.empty(); });
        bool       alone = static_cast<size_t>(keyed) >= min_sentence_words;
        for (size_t k = s0; k < s1 && alone; k++) {
            alone = k == i || plan.heard[k] < 0;
        }
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

std::vector<Stretch> plan_stretches(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                                    const std::vector<HeardWord> & heard, const Segment & segment, size_t index,
                                    int32_t rate) {
    const size_t n     = plan.segment.size();
    size_t       first = 0;
    while (first < n && plan.segment[first] < index) {
        first++;
    }
    size_t last = first;
    while (last < n && plan.segment[last] == index) {
        last++;
    }
    std::vector<Stretch> stretches;
    if (first == last) {
        return stretches;
    }
    // The segment is aligned whole, but for holes: runs of recognised speech that no transcript word stands for,
    // between two matched words (or a matched word and the segment's edge) with nothing to align between them.
    // The aligner would draw the words around a hole over it, so the audio on either side is aligned apart.
    size_t heard_from = 0; // the segment's recognised words are [heard_from, heard_to)
    while (heard_from < heard.size() && heard[heard_from].segment < index) {
        heard_from++;
    }
    size_t heard_to = heard_from;
    while (heard_to < heard.size() && heard[heard_to].segment == index) {
        heard_to++;
    }
    const int32_t min_samples = to_sample(min_stretch_seconds, rate);
    auto          cut_before  = [&](size_t j) {
        return j < heard_to ? std::clamp(to_sample(heard[j].start - cut_lead_seconds, rate), segment.start, segment.end)
                                      : segment.end;
    };
    stretches.push_back({ segment.start, segment.end, first, last });
    size_t j_next = heard_from; // the first recognised word after the last matched one
    size_t i_next = first;      // the first transcript word after the last matched one
    for (size_t i = first; i <= last; i++) {
        if (i < last && plan.heard[i] < 0) {
            continue;
        }
        const size_t j                = i < last ? static_cast<size_t>(plan.heard[i]) : heard_to;
        bool         nothing_to_align = true;
        for (size_t k = i_next; k < i; k++) {
            nothing_to_align = nothing_to_align && plan.unheard[k];
        }
        if (nothing_to_align && j >= j_next + min_hole_words) {
            const int32_t from = cut_before(j_next);
            const int32_t to   = cut_before(j);
            Stretch &     open = stretches.back();
            if (from - open.from >= min_samples) {
                open.to   = from;
                open.last = i;
                stretches.push_back({ to, segment.end, i, last });
            } else { // too little before the hole to align: the stretch starts after it
                open.from = to;
            }
        } else if (!nothing_to_align && i < last) {
            // A few written words beside more recognised speech than they take, that open a sentence (or close
            // one): they are said at that speech's end (or start), and the rest is a hole.
            const auto [keep_from, keep_to] = said_beside_hole(words, plan, heard, i_next, i, j_next, j);
            const SentenceGap gap =
                i_next > first ? gap_between_sentences(words, plan, heard, i_next, i, j_next, j) : SentenceGap{};
            Stretch & open = stretches.back();
            if (gap.heard_to > gap.heard_from) { // speech the transcript lacks between two of its sentences
                const int32_t from = cut_before(gap.heard_from);
                const int32_t to   = cut_before(gap.heard_to);
                if (from - open.from >= min_samples && gap.word > open.first) {
                    open.to              = from;
                    open.last            = gap.word;
                    open.unwritten_after = true;
                    stretches.push_back({ to, segment.end, gap.word, last, true, false });
                }
            } else if (keep_to > keep_from && keep_to == j && keep_from >= j_next + min_hole_words) {
                const int32_t from = cut_before(j_next);
                const int32_t to   = cut_before(keep_from);
                if (from - open.from >= min_samples && i_next > open.first) {
                    open.to   = from;
                    open.last = i_next;
                    stretches.push_back({ to, segment.end, i_next, last });
                } else if (i_next == open.first) {
                    open.from = to;
                }
            } else if (keep_to > keep_from && keep_from == j_next && j >= keep_to + min_hole_words) {
                const int32_t from = cut_before(keep_to);
                const int32_t to   = cut_before(j);
                if (from - open.from >= min_samples) {
                    open.to   = from;
                    open.last = i;
                    stretches.push_back({ to, segment.end, i, last });
                }
            }
        }
        j_next = j + 1;
        i_next = i + 1;
    }
    // A stretch too short to hold its words is given back to the one before it, hole and all.
    std::vector<Stretch> kept;
    for (const Stretch & st : stretches) {
        if (!kept.empty() && st.first == st.last) {
            continue; // nothing left to align after a hole at the segment's end
        }
        if (!kept.empty() && st.to - st.from < min_samples) {
            kept.back().to              = st.to;
            kept.back().last            = st.last;
            kept.back().unwritten_after = st.unwritten_after;
            continue;
        }
        kept.push_back(st);
    }
    return kept;
}

std::vector<Stretch> split_at_anchors(const TranscriptPlan & plan, const std::vector<HeardWord> & heard,
                                      const Stretch & whole, int32_t rate) {
    const int32_t        min_samples = to_sample(min_stretch_seconds, rate);
    std::vector<Stretch> pieces      = { whole };
    int32_t              previous    = -1; // recognised index of the last anchored word
    for (size_t i = whole.first; i < whole.last; i++) {
        if (!plan.anchor[i]) {
            continue;
        }
        const int32_t h = plan.heard[i];
        if (previous < 0 || h != previous + 1) { // a run starts here
            const int32_t cut  = std::clamp(to_sample(heard[static_cast<size_t>(h)].start - cut_lead_seconds, rate),
                                            whole.from, whole.to);
            Stretch &     open = pieces.back();
            if (i > open.first && cut - open.from >= min_samples && whole.to - cut >= min_samples) {
                open.to   = cut;
                open.last = i;
                pieces.push_back({ cut, whole.to, i, whole.last });
            }
        }
        previous = h;
    }
    return pieces;
}
