// Tests of the sequence matcher and of filler restoration, each also against a plain implementation
// of the same rules (full length table, searches per filler, one insertion at a time).

#include "words/words.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using Strings = std::vector<std::string>;

constexpr int32_t rate = 16000;

// The matcher with its whole table of lengths in memory.
std::vector<int32_t> reference_match(const Strings & a, const Strings & b) {
    size_t                            n = a.size(), m = b.size();
    std::vector<std::vector<int32_t>> L(n + 1, std::vector<int32_t>(m + 1, 0));
    for (size_t i = n; i-- > 0;) {
        for (size_t j = m; j-- > 0;) {
            L[i][j] = a[i] == b[j] ? L[i + 1][j + 1] + 1 : std::max(L[i + 1][j], L[i][j + 1]);
        }
    }
    std::vector<int32_t> result(n, -1);
    size_t               i = 0, j = 0;
    while (i < n && j < m) {
        if (a[i] == b[j]) {
            result[i++] = int32_t(j++);
        } else if (L[i + 1][j] < L[i][j + 1]) {
            j++;
        } else {
            i++;
        }
    }
    return result;
}

// Filler restoration step by step: a linear search for each anchor, a scan for transcript fillers and
// one insertion at a time from the last entry to the first.
void reference_restore(SegmentWords & words, const std::vector<ExtraWord> & extra, const Segment & segment) {
    double              slack = segment.label != 0 ? 0.1 : 1.0;
    double              start = double(segment.start) / rate;
    double              upper = double(segment.end - segment.start) / rate + start + slack;
    double              end   = double(segment.end - segment.start) / rate + start;
    Strings             texts;
    std::vector<double> times;
    for (const ExtraWord & word : extra) {
        if (start - slack <= word.time && word.time < upper) {
            texts.push_back(word.text);
            times.push_back(word.time);
        }
    }
    Strings             a, b;
    std::vector<size_t> remembered;
    for (size_t k = 0; k < texts.size(); k++) {
        std::string key = to_lower(make_match_key(texts[k]));
        if (!key.empty() && !is_filler(key)) {
            a.push_back(key);
            remembered.push_back(k);
        }
    }
    for (const std::string & key : words.keys) {
        b.push_back(to_lower(key));
    }
    std::vector<int32_t> matches = reference_match(a, b);
    std::vector<int32_t> anchors(texts.size(), -2);
    for (size_t p = 0; p < a.size(); p++) {
        anchors[remembered[p]] = matches[p];
    }
    std::vector<std::pair<int32_t, std::string>> insertions;
    for (size_t k = 0; k < texts.size(); k++) {
        if (!is_filler(to_lower(make_match_key(texts[k])))) {
            continue;
        }
        int32_t e = -1, f = int32_t(b.size());
        for (size_t q = k; q-- > 0;) {
            if (anchors[q] >= 0) {
                e = anchors[q];
                break;
            }
        }
        for (size_t q = k + 1; q < texts.size(); q++) {
            if (anchors[q] >= 0) {
                f = anchors[q];
                break;
            }
        }
        bool filler_between = false;
        for (int32_t t = e + 1; t < f; t++) {
            filler_between = filler_between || is_filler(b[size_t(t)]);
        }
        // Unmatched extra words between the filler and its anchors; towards a side without one, those
        // said inside the segment's span.
        int32_t before = 0, after = 0;
        for (size_t q = k; q-- > 0 && anchors[q] < 0;) {
            before += anchors[q] == -1 && (e >= 0 || times[q] >= start);
        }
        for (size_t q = k + 1; q < texts.size() && anchors[q] < 0; q++) {
            after += anchors[q] == -1 && (f < int32_t(b.size()) || times[q] < end);
        }
        int32_t between = f - e - 1;
        bool    beside  = (times[k] < start && e < 0) || (times[k] >= end && f == int32_t(b.size()));
        if (!filler_between && f - e <= 2 && before + after <= between + 1 && !beside) {
            insertions.push_back({ between == 1 && before > after ? e + 1 : e, make_match_key(texts[k]) });
        }
    }
    for (size_t x = insertions.size(); x-- > 0;) {
        long at = long(insertions[x].first) + 1;
        words.display.insert(words.display.begin() + at, insertions[x].second);
        words.keys.insert(words.keys.begin() + at, insertions[x].second);
        words.added.insert(words.added.begin() + at, true);
    }
}

// Extra words 0.1 s apart inside the unlabelled segment 10.0 to 12.0 s.
std::vector<ExtraWord> spaced(const Strings & texts) {
    std::vector<ExtraWord> extra;
    for (size_t i = 0; i < texts.size(); i++) {
        extra.push_back({ 10.0 + 0.1 * double(i), texts[i] });
    }
    return extra;
}

const Segment ten_to_twelve = { 160000, 192000, 0 };

TEST(MatchSequences, PairsALongestCommonSubsequenceGivingUpAOnTies) {
    struct Case {
        Strings              a;
        Strings              b;
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        { { "x", "y" }, { "y", "x" }, { -1, 0 } },
        { { "a", "b" }, { "b", "a" }, { -1, 0 } },
        { {}, { "a" }, {} },
        { { "a", "b" }, {}, { -1, -1 } },
        { { "a", "b", "c" }, { "a", "b", "c" }, { 0, 1, 2 } },
        { { "x", "x" }, { "z", "x" }, { -1, 1 } }, // an entry of b found nowhere in a still steers the ties
        { { "a", "q", "b" }, { "b", "a" }, { -1, -1, 0 } },
        { { "A", "ab", "a" }, { "a" }, { -1, -1, 0 } }, // byte equality: no case folding, no prefixes
        { { "so", "think" }, { "so", "well", "think" }, { 0, 2 } },
    };
    for (const Case & c : cases) {
        EXPECT_EQ(match_sequences(c.a, c.b), c.expected);
    }
}

TEST(MatchSequences, AgreesWithTheFullTableOnRandomLists) {
    std::mt19937  random(7);
    const Strings words = { "a", "b", "c", "d", "", "ab" };
    for (int round = 0; round < 20000; round++) {
        size_t  a_kinds = 1 + random() % words.size();
        size_t  b_kinds = 1 + random() % 3; // a often holds entries that b lacks
        Strings a(random() % 13), b(random() % 13);
        for (std::string & x : a) {
            x = words[random() % a_kinds];
        }
        for (std::string & x : b) {
            x = words[random() % b_kinds];
        }
        ASSERT_EQ(match_sequences(a, b), reference_match(a, b)) << "round " << round;
    }
}

TEST(MatchSequences, AgreesWithTheFullTableWhenRowsAreKeptInBlocks) {
    // Long lists are traced back block by block of rows: every block edge, the last short block and an early
    // end in b must give the pairs the whole table gives. Few kinds of entry make many ties.
    std::mt19937  random(11);
    const Strings words = { "a", "b", "c", "d", "e", "f", "g", "h" };
    for (int round = 0; round < 40; round++) {
        size_t  kinds = 2 + random() % (words.size() - 1);
        Strings a(100 + random() % 400), b(1 + random() % 300);
        for (std::string & x : a) {
            x = words[random() % kinds];
        }
        if (round % 2 == 0) { // b as a recognised copy of a: most entries kept, some changed, some dropped
            b.clear();
            for (const std::string & x : a) {
                if (random() % 8 != 0) {
                    b.push_back(random() % 6 == 0 ? words[random() % words.size()] : x);
                }
            }
        } else {
            for (std::string & x : b) {
                x = words[random() % kinds];
            }
        }
        ASSERT_EQ(match_sequences(a, b), reference_match(a, b)) << "round " << round;
    }
}

TEST(MatchSequences, KeepsMemorySmallForManyEntriesOfA) {
    // 200,000 entries of a against 150 of b: a full table of lengths would take 120 MB.
    Strings b;
    for (int j = 0; j < 150; j++) {
        b.push_back("w" + std::to_string(j));
    }
    Strings a;
    for (int i = 0; i < 200000; i++) {
        a.push_back(i % 7 == 0 ? "absent" : b[size_t(149 - i % 150)]);
    }
    std::vector<int32_t> result = match_sequences(a, b);
    ASSERT_EQ(result.size(), a.size());
    int32_t last = -1, paired = 0;
    for (size_t i = 0; i < a.size(); i++) {
        if (result[i] >= 0) {
            ASSERT_GT(result[i], last);
            ASSERT_EQ(b[size_t(result[i])], a[i]);
            last = result[i];
            paired++;
        }
    }
    EXPECT_EQ(paired, 150);
}

TEST(RestoreFillers, InsertsFillersBetweenCloseAnchors) {
    struct Case {
        std::string       text;
        Strings           extra;
        Strings           display;
        std::vector<bool> added;
    };
    const Case cases[] = {
        { "So I think.", { "so", "um", "I", "think" }, { "So", "um", "I", "think." }, { 0, 1, 0, 0 } },
        { "so well think", { "so", "um", "think" }, { "so", "um", "well", "think" }, { 0, 1, 0, 0 } },
        { "so uh think", { "so", "um", "think" }, { "so", "uh", "think" }, { 0, 0, 0 } },
        { "so UH, think", { "so", "um", "think" }, { "so", "UH,", "think" }, { 0, 0, 0 } },
        { "so a b think", { "so", "um", "think" }, { "so", "a", "b", "think" }, { 0, 0, 0, 0 } },
        { "I think", { "I", "think", "um" }, { "I", "think", "um" }, { 0, 0, 1 } },
        { "so think", { "so", "um", "uh", "think" }, { "so", "um", "uh", "think" }, { 0, 1, 1, 0 } },
        { "so think", { "so", "hmm", "er", "think" }, { "so", "hmm", "er", "think" }, { 0, 1, 1, 0 } },
        // The first inserted filler does not count as a filler between the anchors for the second.
        { "so well think", { "so", "um", "uh", "think" }, { "so", "um", "uh", "well", "think" }, { 0, 1, 1, 0, 0 } },
        { "", { "um" }, { "um" }, { 1 } },
        { "", { "um", "uh" }, { "um", "uh" }, { 1, 1 } },
        { "yes", { "um" }, { "um", "yes" }, { 1, 0 } },
        { "uh", { "um" }, { "uh" }, { 0 } },
        { "oh yes", { "um" }, { "oh", "yes" }, { 0, 0 } },
        { "b a", { "a", "um", "b" }, { "um", "b", "a" }, { 1, 0, 0 } },
        { "so think", { "SO", "um", "think" }, { "so", "um", "think" }, { 0, 1, 0 } },
        { "so think", { "so", "Um,", "think" }, { "so", "Um", "think" }, { 0, 1, 0 } },
        { "so think", { "so", "UHM", "think" }, { "so", "UHM", "think" }, { 0, 1, 0 } },
        { "so think", { "so", "-", "think" }, { "so", "think" }, { 0, 0 } },
        { "", { "-", "..." }, {}, {} },
        { "so think", { "so", "-", "um", "think" }, { "so", "um", "think" }, { 0, 1, 0 } },
        { "so think", { "so", "um-hm", "think" }, { "so", "think" }, { 0, 0 } }, // key "umhm" is no filler
        { "so think", {}, { "so", "think" }, { 0, 0 } },
        // One misheard word between the anchors: the filler goes where the extra words put it.
        { "day I not", { "day", "I'm", "uh", "not" }, { "day", "I", "uh", "not" }, { 0, 0, 1, 0 } },
        { "day I not", { "day", "uh", "I'm", "not" }, { "day", "uh", "I", "not" }, { 0, 1, 0, 0 } },
        { "day I not", { "day", "uh", "not" }, { "day", "uh", "I", "not" }, { 0, 1, 0, 0 } },
        { "are they I", { "are", "there", "um", "I" }, { "are", "they", "um", "I" }, { 0, 0, 1, 0 } },
        // The filler no farther from its anchors in the extra words than the recognised words allow: a false
        // anchor ("it", said later), or an anchor on one side only and the filler beyond the segment's words.
        { "them the it",
          { "them", "fair", "enough", "can", "I", "uh", "pick", "it" },
          { "them", "the", "it" },
          { 0, 0, 0 } },
        { "so think", { "so", "a", "b", "um", "think" }, { "so", "think" }, { 0, 0 } },
        { "so well think", { "so", "a", "um", "b", "think" }, { "so", "um", "well", "think" }, { 0, 1, 0, 0 } },
        { "", { "so", "well", "um" }, {}, {} },
        { "them", { "them", "fair", "enough", "can", "uh" }, { "them" }, { 0 } },
        { "them", { "them", "okay", "uh" }, { "them", "uh" }, { 0, 1 } },
        { "them OK", { "them", "okay", "uh" }, { "them", "OK", "uh" }, { 0, 0, 1 } },
        { "now", { "uh", "so", "then", "now" }, { "now" }, { 0 } },
        { "now", { "uh", "so", "now" }, { "uh", "now" }, { 1, 0 } },
    };
    for (const Case & c : cases) {
        SegmentWords words = build_segment_words(c.text);
        restore_fillers(words, spaced(c.extra), ten_to_twelve, rate);
        EXPECT_EQ(words.display, c.display) << c.text;
        EXPECT_EQ(words.added, c.added) << c.text;
        for (size_t i = 0; i < words.keys.size() && i < c.display.size(); i++) {
            EXPECT_EQ(words.keys[i], make_match_key(c.display[i])) << c.text;
        }
    }
}

TEST(RestoreFillers, SelectsTheWindowWithItsSlack) {
    struct Case {
        double time;
        char   label;
        bool   selected;
    };
    const double nan     = std::numeric_limits<double>::quiet_NaN();
    const double inf     = std::numeric_limits<double>::infinity();
    const Case   cases[] = {
          { 9.0, 0, true },    { 8.999, 0, false },  { 12.999, 0, true },   { 13.0, 0, false },   { 9.5, 0, true },
          { 9.5, 'P', false }, { 9.9, 'P', true },   { 9.899, 'P', false }, { 12.09, 'P', true }, { 12.1, 'P', false },
          { nan, 0, false },   { -nan, 'P', false }, { inf, 0, false },     { -inf, 0, false },
    };
    for (const Case & c : cases) {
        SegmentWords words = build_segment_words("so think");
        restore_fillers(words, { { c.time, "so" }, { c.time, "um" }, { c.time, "think" } }, { 160000, 192000, c.label },
                        rate);
        EXPECT_EQ(words.display.size(), c.selected ? 3u : 2u) << c.time << " label " << int(c.label);
    }
}

TEST(RestoreFillers, LeavesAFillerSaidBesideTheSegmentToTheSegmentBeside) {
    // "um" lies in the first segment's slack with none of its words after it: only the second restores it.
    const std::vector<ExtraWord> extra = {
        { 10.6, "in" }, { 11.0, "August" }, { 12.5, "um" }, { 12.9, "I" }, { 13.1, "was" },
    };
    SegmentWords first  = build_segment_words("in August");
    SegmentWords second = build_segment_words("I was");
    restore_fillers(first, extra, ten_to_twelve, rate);
    restore_fillers(second, extra, { 192000, 224000, 0 }, rate);
    EXPECT_EQ(first.display, (Strings{ "in", "August" }));
    EXPECT_EQ(second.display, (Strings{ "um", "I", "was" }));
    // With a word of the segment beyond it, a filler in the slack is this segment's.
    SegmentWords late = build_segment_words("in August I");
    restore_fillers(late, extra, ten_to_twelve, rate);
    EXPECT_EQ(late.display, (Strings{ "in", "August", "um", "I" }));
}

TEST(RestoreFillers, CountsOnlyTheSpansOwnWordsTowardsASideWithoutAnAnchor) {
    // Unmatched words in the slack before the span belong to the segment before; inside it they count.
    SegmentWords slack = build_segment_words("yes");
    restore_fillers(slack, { { 9.2, "so" }, { 9.4, "well" }, { 10.05, "um" }, { 10.5, "yes" } }, ten_to_twelve, rate);
    EXPECT_EQ(slack.display, (Strings{ "um", "yes" }));
    SegmentWords inside = build_segment_words("yes");
    restore_fillers(inside, { { 10.1, "so" }, { 10.2, "well" }, { 10.3, "um" }, { 10.5, "yes" } }, ten_to_twelve, rate);
    EXPECT_EQ(inside.display, (Strings{ "yes" }));
    // The same after the last anchor, at the span's end.
    SegmentWords tail = build_segment_words("yes");
    restore_fillers(tail, { { 10.5, "yes" }, { 11.9, "um" }, { 12.2, "so" }, { 12.4, "well" } }, ten_to_twelve, rate);
    EXPECT_EQ(tail.display, (Strings{ "yes", "um" }));
}

TEST(RestoreFillers, KeepsFileOrderAndSearchesAfreshPerSegment) {
    // File order, not time order, decides the sequence that is matched.
    std::vector<ExtraWord> extra = { { 11.0, "think" }, { 10.5, "um" }, { 10.0, "so" } };
    SegmentWords           words = build_segment_words("think so");
    restore_fillers(words, extra, ten_to_twelve, rate);
    EXPECT_EQ(words.display, (Strings{ "think", "um", "so" }));

    // One extra word restored into two overlapping segments, from the same list.
    std::vector<ExtraWord> one    = { { 11.5, "uh" } };
    SegmentWords           first  = build_segment_words("");
    SegmentWords           second = build_segment_words("");
    restore_fillers(first, one, { 160000, 192000, 'P' }, rate);
    restore_fillers(second, one, { 176000, 208000, 'C' }, rate);
    EXPECT_EQ(first.display, Strings{ "uh" });
    EXPECT_EQ(second.display, Strings{ "uh" });
}

TEST(RestoreFillers, AgreesWithTheStepByStepRulesOnRandomInput) {
    std::mt19937  random(99);
    const Strings transcript_words = { "so", "I", "think", "uh", "Um,", "well", "yes", "-", "mhm" };
    const Strings extra_words      = { "so", "SO", "I", "think", "well", "yes", "um", "Uh,", "er", "hmm", "-", "mhm" };
    const Segment segments[]       = { ten_to_twelve, { 160000, 192000, 'P' } };
    for (int round = 0; round < 5000; round++) {
        std::string text;
        for (size_t i = random() % 8; i > 0; i--) {
            text += transcript_words[random() % transcript_words.size()] + " ";
        }
        std::vector<ExtraWord> extra(random() % 12);
        for (ExtraWord & word : extra) {
            word.time = 8.5 + 0.25 * double(random() % 20); // 8.5 to 13.25 s, some outside the window
            word.text = extra_words[random() % extra_words.size()];
        }
        const Segment & segment  = segments[random() % 2];
        SegmentWords    words    = build_segment_words(text);
        SegmentWords    expected = words;
        restore_fillers(words, extra, segment, rate);
        reference_restore(expected, extra, segment);
        ASSERT_EQ(words.display, expected.display) << "round " << round << ": " << text;
        ASSERT_EQ(words.keys, expected.keys) << "round " << round;
        ASSERT_EQ(words.added, expected.added) << "round " << round;
    }
}

} // namespace
