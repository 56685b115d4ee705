// The matcher and filler restoration on small inputs, against a plain version of both that keeps the whole
// table and inserts one word at a time: the results must be the same, the lists stay parallel, no word is
// empty, every added word is a filler of the segment's window, and the recognised words keep their order.

#include "fuzz_support.h"
#include "words/words.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

// Words that make matches and fillers likely; arbitrary bytes are mixed in as well.
const char * const vocabulary[] = {
    "so", "I", "think", "um", "uh", "Um,", "SO", "well", "-", "a", "b", "don't", "hmm", "UH", "yes", "...", "mm",
};

std::string pick_word(FuzzedDataProvider & in) {
    const size_t count = sizeof vocabulary / sizeof vocabulary[0];
    const size_t index = in.ConsumeIntegralInRange<size_t>(0, count);
    if (index < count) {
        return vocabulary[index];
    }
    return in.ConsumeRandomLengthString(12);
}

// The longest common subsequence with the whole table kept, traced back with the entry of a given up on ties.
std::vector<int32_t> plain_match(const std::vector<std::string> & a, const std::vector<std::string> & b) {
    const size_t                      n = a.size();
    const size_t                      m = b.size();
    std::vector<std::vector<int32_t>> L(n + 1, std::vector<int32_t>(m + 1, 0));
    for (size_t i = n; i-- > 0;) {
        for (size_t j = m; j-- > 0;) {
            if (a[i] == b[j]) {
                L[i][j] = L[i + 1][j + 1] + 1;
            } else {
                L[i][j] = std::max(L[i + 1][j], L[i][j + 1]);
            }
        }
    }
    std::vector<int32_t> result(n, -1);
    size_t               i = 0;
    size_t               j = 0;
    while (i < n && j < m) {
        if (a[i] == b[j]) {
            result[i] = static_cast<int32_t>(j);
            i++;
            j++;
        } else if (L[i + 1][j] < L[i][j + 1]) {
            j++;
        } else {
            i++;
        }
    }
    return result;
}

size_t common_length(const std::vector<std::string> & a, const std::vector<std::string> & b) {
    std::vector<int32_t> r = plain_match(a, b);
    size_t               k = 0;
    for (int32_t v : r) {
        k += v >= 0 ? 1 : 0;
    }
    return k;
}

void plain_restore(SegmentWords & words, const std::vector<ExtraWord> & extra, const Segment & segment, int32_t rate) {
    if (extra.empty() || rate <= 0) {
        return;
    }
    const double slack   = segment.label != 0 ? 0.1 : 1.0;
    const double start_s = double(segment.start) / double(rate);
    const double lower   = start_s - slack;
    const double upper   = double(segment.end - segment.start) / double(rate) + start_s + slack;

    const double             end_s = double(segment.end - segment.start) / double(rate) + start_s;
    std::vector<std::string> selected;
    std::vector<double>      times;
    for (const ExtraWord & w : extra) {
        if (lower <= w.time && w.time < upper) {
            selected.push_back(w.text);
            times.push_back(w.time);
        }
    }
    std::vector<std::string> a;
    std::vector<size_t>      a_index;
    for (size_t k = 0; k < selected.size(); k++) {
        const std::string key = to_lower(make_match_key(selected[k]));
        if (!key.empty() && !is_filler(key)) {
            a.push_back(key);
            a_index.push_back(k);
        }
    }
    std::vector<std::string> b;
    for (const std::string & key : words.keys) {
        b.push_back(to_lower(key));
    }
    const std::vector<int32_t> matched = plain_match(a, b);
    std::vector<int32_t>       anchors(selected.size(), -2);
    for (size_t p = 0; p < a.size(); p++) {
        anchors[a_index[p]] = matched[p];
    }
    const int32_t                                count = static_cast<int32_t>(b.size());
    std::vector<std::pair<int32_t, std::string>> insertions;
    for (size_t k = 0; k < selected.size(); k++) {
        if (!is_filler(to_lower(make_match_key(selected[k])))) {
            continue;
        }
        int32_t e = -1;
        for (size_t q = k; q-- > 0;) {
            if (anchors[q] >= 0) {
                e = anchors[q];
                break;
            }
        }
        int32_t f = count;
        for (size_t q = k + 1; q < selected.size(); q++) {
            if (anchors[q] >= 0) {
                f = anchors[q];
                break;
            }
        }
        bool filler_between = false;
        for (int32_t x = e + 1; x < f; x++) {
            filler_between = filler_between || is_filler(b[size_t(x)]);
        }
        if (filler_between || f - e > 2) {
            continue;
        }
        // Said in the slack with none of the segment's words beyond it: the segment beside restores it.
        if ((times[k] < start_s && e < 0) || (times[k] >= end_s && f == count)) {
            continue;
        }
        // Unmatched extra words between the filler and its anchors; towards a side without one, only those
        // inside the segment's span.
        int32_t before = 0;
        for (size_t q = k; q-- > 0 && anchors[q] < 0;) {
            before += anchors[q] == -1 && (e >= 0 || times[q] >= start_s) ? 1 : 0;
        }
        int32_t after = 0;
        for (size_t q = k + 1; q < selected.size() && anchors[q] < 0; q++) {
            after += anchors[q] == -1 && (f < count || times[q] < end_s) ? 1 : 0;
        }
        const int32_t between = f - e - 1;
        if (before + after > between + 1) {
            continue;
        }
        insertions.push_back({ between == 1 && before > after ? e + 1 : e, make_match_key(selected[k]) });
    }
    for (size_t x = insertions.size(); x-- > 0;) {
        const size_t at = size_t(insertions[x].first + 1);
        words.display.insert(words.display.begin() + long(at), insertions[x].second);
        words.keys.insert(words.keys.begin() + long(at), insertions[x].second);
        words.added.insert(words.added.begin() + long(at), true);
    }
}

void check_match(const std::vector<std::string> & a, const std::vector<std::string> & b) {
    const std::vector<int32_t> got = match_sequences(a, b);
    FUZZ_CHECK(got.size() == a.size());
    int32_t last   = -1;
    size_t  paired = 0;
    for (size_t i = 0; i < got.size(); i++) {
        FUZZ_CHECK(got[i] >= -1 && got[i] < static_cast<int32_t>(b.size()));
        if (got[i] >= 0) {
            FUZZ_CHECK(got[i] > last);
            FUZZ_CHECK(a[i] == b[size_t(got[i])]);
            last = got[i];
            paired++;
        }
    }
    FUZZ_CHECK(paired == common_length(a, b));
    FUZZ_CHECK(got == plain_match(a, b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    FuzzedDataProvider in(data, size);

    // The recognised text, its words built as the driver builds them.
    std::string text;
    const int   transcript_words = in.ConsumeIntegralInRange<int>(0, 24);
    for (int i = 0; i < transcript_words; i++) {
        text += (i > 0 ? " " : "") + pick_word(in);
    }
    std::vector<ExtraWord> extra;
    const int              extra_count = in.ConsumeIntegralInRange<int>(0, 32);
    for (int i = 0; i < extra_count; i++) {
        const double time = fuzz_pick_time(in, -20, 60);
        extra.push_back(ExtraWord{ time, pick_word(in) });
    }
    Segment segment{};
    segment.start      = in.ConsumeIntegralInRange<int32_t>(0, 64000);
    segment.end        = segment.start + in.ConsumeIntegralInRange<int32_t>(0, 64000);
    segment.label      = in.ConsumeBool() ? 0 : static_cast<char>(in.ConsumeIntegral<uint8_t>());
    const int32_t rate = in.ConsumeBool() ? 16000 : in.ConsumeIntegral<int32_t>();

    const SegmentWords original = build_segment_words(text);
    SegmentWords       got      = original;
    restore_fillers(got, extra, segment, rate);
    SegmentWords want = original;
    plain_restore(want, extra, segment, rate);

    FUZZ_CHECK(got.display.size() == got.keys.size());
    FUZZ_CHECK(got.added.size() == got.keys.size());
    FUZZ_CHECK(got.display == want.display);
    FUZZ_CHECK(got.keys == want.keys);
    FUZZ_CHECK(got.added == want.added);

    // Every added word is the key of an extra filler, used at most once; the others are the recognised
    // words in their order.
    std::map<std::string, int> fillers_given;
    for (const ExtraWord & w : extra) {
        const std::string key = make_match_key(w.text);
        if (is_filler(to_lower(key))) {
            fillers_given[key]++;
        }
    }
    size_t kept = 0;
    for (size_t i = 0; i < got.keys.size(); i++) {
        FUZZ_CHECK(!got.display[i].empty() && !got.keys[i].empty());
        if (got.added[i]) {
            FUZZ_CHECK(got.display[i] == got.keys[i]);
            FUZZ_CHECK(is_filler(to_lower(got.keys[i])));
            FUZZ_CHECK(--fillers_given[got.keys[i]] >= 0);
        } else {
            FUZZ_CHECK(kept < original.keys.size());
            FUZZ_CHECK(got.display[i] == original.display[kept] && got.keys[i] == original.keys[kept]);
            kept++;
        }
    }
    FUZZ_CHECK(kept == original.keys.size());

    // The matcher on its own, on lists with many repeats.
    std::vector<std::string> a;
    std::vector<std::string> b;
    const int                a_count = in.ConsumeIntegralInRange<int>(0, 40);
    for (int i = 0; i < a_count; i++) {
        a.push_back(std::string(1, static_cast<char>('a' + in.ConsumeIntegralInRange<int>(0, 4))));
    }
    const int b_count = in.ConsumeIntegralInRange<int>(0, 40);
    for (int i = 0; i < b_count; i++) {
        b.push_back(std::string(1, static_cast<char>('a' + in.ConsumeIntegralInRange<int>(0, 4))));
    }
    check_match(a, b);
    check_match(original.keys, a);
    return 0;
}
