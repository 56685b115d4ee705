// Filler restoration: line the extra words of a segment's time up against its recognised words and put
// back the hesitation words the recogniser dropped.

#include "words/words.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

std::vector<int32_t> match_sequences(const std::vector<std::string> & a, const std::vector<std::string> & b) {
    std::vector<int32_t> result(a.size(), -1);
    if (a.empty() || b.empty()) {
        return result;
    }

    // Compare small integers instead of strings: equal entries get the same id.
    std::unordered_map<std::string_view, int32_t> ids;
    std::vector<int32_t>                          b_ids(b.size());
    for (size_t j = 0; j < b.size(); j++) {
        b_ids[j] = ids.try_emplace(b[j], static_cast<int32_t>(ids.size())).first->second;
    }

    // An entry of a equal to no entry of b is never paired, and it leaves every length of the table as the
    // row below it has them, so the trace-back always steps over it without moving in b. Dropping such
    // rows first changes no result and bounds the table by the entries of a that b holds.
    std::vector<int32_t> a_ids;
    std::vector<size_t>  a_rows; // index in a of each kept row
    for (size_t i = 0; i < a.size(); i++) {
        auto it = ids.find(a[i]);
        if (it != ids.end()) {
            a_ids.push_back(it->second);
            a_rows.push_back(i);
        }
    }
    const size_t n = a_ids.size();
    const size_t m = b_ids.size();
    if (n == 0) {
        return result;
    }

    // Lengths in two rolling rows; per cell only the one decision the trace-back needs where the entries
    // differ: whether the length below (i+1, j) is smaller than the length to the right (i, j+1). Those
    // decisions are kept for one block of rows at a time: the first pass keeps the first block's and a copy
    // of the length row under every other block, and the trace-back recomputes each later block from its
    // copy when it gets there. Memory grows with sqrt(n) * m instead of n * m, at most twice the work.
    const size_t block  = std::min(n, std::max<size_t>(64, static_cast<size_t>(std::ceil(std::sqrt(32.0 * n)))));
    const size_t blocks = (n + block - 1) / block;
    std::vector<std::vector<int32_t>> under(blocks); // under[k]: the length row below block k's last row
    under[blocks - 1].assign(m + 1, 0);
    std::vector<int32_t>  below(m + 1, 0);
    std::vector<int32_t>  row(m + 1, 0);
    std::vector<uint64_t> step_in_b((block * m + 63) / 64, 0);
    // Fills rows [i0, i1) from `below` (the row under i1 - 1), keeping the decisions when `keep`.
    auto fill = [&](size_t i0, size_t i1, bool keep) {
        for (size_t i = i1; i-- > i0;) {
            row[m] = 0;
            for (size_t j = m; j-- > 0;) {
                if (a_ids[i] == b_ids[j]) {
                    row[j] = below[j + 1] + 1;
                } else if (below[j] < row[j + 1]) {
                    row[j] = row[j + 1];
                    if (keep) {
                        size_t bit = (i - i0) * m + j;
                        step_in_b[bit / 64] |= uint64_t(1) << (bit % 64);
                    }
                } else {
                    row[j] = below[j];
                }
            }
            below.swap(row);
        }
    };
    for (size_t k = blocks; k-- > 0;) {
        fill(k * block, std::min(n, (k + 1) * block), k == 0);
        if (k > 0) {
            under[k - 1] = below;
        }
    }

    size_t i = 0;
    size_t j = 0;
    for (size_t k = 0; k < blocks && j < m; k++) {
        const size_t i0 = k * block;
        const size_t i1 = std::min(n, i0 + block);
        if (k > 0) {
            std::fill(step_in_b.begin(), step_in_b.end(), 0);
            below = std::move(under[k]);
            fill(i0, i1, true);
        }
        while (i < i1 && j < m) {
            if (a_ids[i] == b_ids[j]) {
                result[a_rows[i]] = static_cast<int32_t>(j);
                i++;
                j++;
            } else {
                size_t bit = (i - i0) * m + j;
                if ((step_in_b[bit / 64] >> (bit % 64)) & 1) {
                    j++;
                } else {
                    i++; // ties give up the entry of a
                }
            }
        }
    }
    return result;
}

void restore_fillers(SegmentWords & words, const std::vector<ExtraWord> & extra_words, const Segment & segment,
                     int32_t rate) {
    if (extra_words.empty() || rate <= 0) {
        return;
    }

    // The window: the segment's span widened by the slack; lower bound inclusive, upper bound exclusive.
    const double slack   = segment.label != 0 ? 0.1 : 1.0;
    const double start_s = double(segment.start) / double(rate);
    const double end_s   = (double(segment.end) - double(segment.start)) / double(rate) + start_s;
    const double lower   = start_s - slack;
    const double upper   = end_s + slack;

    // The selected words in file order, each a non-filler to match (list a), a filler to restore, or neither
    // (an empty key).
    // A linear pass per segment is cheap next to everything else a segment costs.
    enum class Kind : uint8_t { other, matched, filler };
    std::vector<size_t>      selected; // index into extra_words
    std::vector<Kind>        kinds;
    std::vector<std::string> a;
    std::vector<size_t>      a_selected; // index among the selected words of each entry of a
    for (size_t x = 0; x < extra_words.size(); x++) {
        double t = extra_words[x].time;
        if (!(lower <= t && t < upper)) { // NaN never passes
            continue;
        }
        std::string key  = to_lower(make_match_key(extra_words[x].text));
        Kind        kind = Kind::other;
        if (is_filler(key)) {
            kind = Kind::filler;
        } else if (!key.empty()) {
            kind = Kind::matched;
            a_selected.push_back(selected.size());
            a.push_back(std::move(key));
        }
        selected.push_back(x);
        kinds.push_back(kind);
    }
    if (selected.empty()) {
        return;
    }

    const size_t             count = words.keys.size();
    std::vector<std::string> b;
    std::vector<int32_t>     fillers_before(count + 1, 0); // transcript fillers among words 0 ... i-1
    for (size_t i = 0; i < count; i++) {
        b.push_back(to_lower(words.keys[i]));
        fillers_before[i + 1] = fillers_before[i] + (is_filler(b[i]) ? 1 : 0);
    }

    std::vector<int32_t> matches = match_sequences(a, b);
    std::vector<int32_t> anchors(selected.size(), -2);
    for (size_t p = 0; p < a.size(); p++) {
        anchors[a_selected[p]] = matches[p];
    }

    // The nearest anchor before each selected word (-1 when none) and after it (the transcript's word count
    // when none), and how many extra words that found no match lie between the word and each of them, found
    // in two passes rather than by a search per filler. Towards a side with no anchor only the words said
    // inside the segment's own span count: those in the window's slack belong to the segments beside it.
    const size_t         k_count = selected.size();
    std::vector<int32_t> earlier(k_count);
    std::vector<int32_t> later(k_count);
    std::vector<int32_t> unmatched_before(k_count);
    std::vector<int32_t> unmatched_after(k_count);
    int32_t              last_seen = -1;
    int32_t              unmatched = 0;
    for (size_t k = 0; k < k_count; k++) {
        earlier[k]          = last_seen;
        unmatched_before[k] = unmatched;
        const double t      = extra_words[selected[k]].time;
        if (anchors[k] >= 0) {
            last_seen = anchors[k];
            unmatched = 0;
        } else if (anchors[k] == -1 && (last_seen >= 0 || start_s <= t)) {
            unmatched++;
        }
    }
    last_seen = static_cast<int32_t>(count);
    unmatched = 0;
    for (size_t k = k_count; k-- > 0;) {
        later[k]           = last_seen;
        unmatched_after[k] = unmatched;
        const double t     = extra_words[selected[k]].time;
        if (anchors[k] >= 0) {
            last_seen = anchors[k];
            unmatched = 0;
        } else if (anchors[k] == -1 && (last_seen < static_cast<int32_t>(count) || t < end_s)) {
            unmatched++;
        }
    }

    // Fillers to insert, each after the transcript word `after` (before the first when -1). Anchors increase
    // along the selected words, and between two anchors the unmatched words before a filler only grow and
    // those after it only shrink, so `after` never decreases along this list.
    struct Insertion {
        int32_t after;
        size_t  extra;
    };
    std::vector<Insertion> insertions;
    for (size_t k = 0; k < k_count; k++) {
        if (kinds[k] != Kind::filler) {
            continue;
        }
        int32_t e = earlier[k];
        int32_t f = later[k];
        if (e + 1 < f && fillers_before[f] - fillers_before[e + 1] > 0) {
            continue; // the recogniser already heard a filler between the anchors
        }
        if (f - e > 2) {
            continue;
        }
        // A filler said in the window's slack, with none of this segment's words beyond it, is the segment
        // beside's to restore; restoring it in both puts one filler twice.
        const double t = extra_words[selected[k]].time;
        if ((t < start_s && e < 0) || (t >= end_s && f == static_cast<int32_t>(count))) {
            continue;
        }
        // The filler must lie as near its anchors in the extra words as the recognised words between them
        // allow, give or take one word; else an anchor is false (a word said elsewhere) or the filler was said
        // beyond what this segment heard, and restoring it puts a filler where none was said.
        const int32_t between = f - e - 1; // recognised words between the anchors: 0 or 1
        if (unmatched_before[k] + unmatched_after[k] > between + 1) {
            continue;
        }
        // One recognised word between the anchors: the filler goes on the side of it where the extra words
        // hold more unmatched words (a word misheard, "I'm uh" heard as "I"); before it on a tie.
        const bool after_it = between == 1 && unmatched_before[k] > unmatched_after[k];
        insertions.push_back({ after_it ? e + 1 : e, selected[k] });
    }
    if (insertions.empty()) {
        return;
    }

    // Inserting from the last entry to the first at e+1 leaves, before each transcript word, the fillers
    // recorded after the word before it, in file order; build that order in one pass.
    const bool   with_confidence = words.confidence.size() == count;
    SegmentWords merged;
    size_t       next = 0;
    for (int32_t i = -1; i < static_cast<int32_t>(count); i++) {
        if (i >= 0) {
            merged.display.push_back(std::move(words.display[size_t(i)]));
            merged.keys.push_back(std::move(words.keys[size_t(i)]));
            merged.added.push_back(words.added[size_t(i)]);
            if (with_confidence) {
                merged.confidence.push_back(words.confidence[size_t(i)]);
            }
        }
        while (next < insertions.size() && insertions[next].after == i) {
            std::string text = make_match_key(extra_words[insertions[next].extra].text); // its own case
            merged.display.push_back(text);
            merged.keys.push_back(std::move(text));
            merged.added.push_back(true);
            if (with_confidence) {
                merged.confidence.push_back(no_confidence); // heard by another transcription, not scored here
            }
            next++;
        }
    }
    words = std::move(merged);
}
