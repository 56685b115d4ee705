// Lining a transcript up with the recognised words.

#include "tests/transcript/transcript_test_words.h"
#include "transcript/transcript.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

TEST(TranscriptPlan, MismatchesAreAnchoredAroundSharedOutAndLeftUnheardWithoutRoom) {
    // Segments of 4 s and 16 s. The transcript adds "zebra" where nobody paused, a sentence nobody said between
    // the segments, replaces "cat" by "dog", and leaves out the recognised "extra words".
    const std::vector<Segment> segments = { { 0, 64000, 0 }, { 64000, 320000, 0 } };
    std::vector<HeardWord>     heard;
    hear(heard, { "a", "b", "c", "d", "e", "f", "cat", "g", "h", "i" }, 1.0, 0);
    hear(heard, { "j", "k", "l", "extra", "words", "m", "n", "o" }, 4.3, 1);
    const auto           words = transcript({ "a",     "b",    "c",  "zebra", "d", "e", "f", "dog", "g", "h", "i",
                                              "never", "said", "at", "all",   "j", "k", "l", "m",   "n", "o" });
    const TranscriptPlan plan  = plan_transcript(words, heard, segments, 16000);

    const std::vector<size_t> segment = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1 };
    EXPECT_EQ(plan.segment, segment);
    const std::vector<bool> anchor = { 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1 };
    EXPECT_EQ(plan.anchor, anchor);
    // No room for "zebra" between "c" and "d", nor for the sentence between "i" and "j"; "dog" stands for "cat".
    const std::vector<bool> unheard = { 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0 };
    EXPECT_EQ(plan.unheard, unheard);
    EXPECT_EQ(plan.heard[7], -1);

    // Segment 1: a cut before "m" (a run of its own); the run j k l ends where "extra" starts.
    const std::vector<Stretch> stretches = plan_stretches(words, plan, heard, segments[1], 1, 16000);
    ASSERT_EQ(stretches.size(), 2u);
    EXPECT_EQ(stretches[0].from, 64000);
    EXPECT_NEAR(stretches[0].to, (5.2 - 0.02) * 16000, 1);
    EXPECT_EQ(stretches[0].first, 15u);
    EXPECT_EQ(stretches[0].last, 18u);
    EXPECT_NEAR(stretches[1].from, (5.8 - 0.02) * 16000, 1);
    EXPECT_EQ(stretches[1].to, 320000);
    EXPECT_EQ(stretches[1].first, 18u);
    EXPECT_EQ(stretches[1].last, 21u);

    // The same sentence said where the recogniser heard nothing, with the time it takes, is aligned.
    heard.erase(heard.begin() + 10, heard.end());
    hear(heard, { "j", "k", "l", "extra", "words", "m", "n", "o" }, 6.0, 1);
    EXPECT_FALSE(plan_transcript(words, heard, segments, 16000).unheard[12]);
}

TEST(TranscriptPlan, ALoneMatchTakenTooEarlyIsUndoneAndALoneShortWordIsTried) {
    // "the" is heard once, just after "with", where the recogniser misheard the words before it: matched there,
    // it would leave "beekeeper who looks after" no room and their speech a hole.
    const std::vector<Segment> segments = { { 0, 160000, 0 } };
    std::vector<HeardWord>     heard;
    hear(heard, { "a", "b", "c", "with", "the", "key", "for", "staff", "hill", "behind", "e", "f", "g" }, 1.0, 0);
    const auto words = transcript(
        { "a", "b", "c", "with", "beekeeper", "who", "looks", "after", "the", "hill", "behind", "to", "e", "f", "g" });
    const TranscriptPlan plan = plan_transcript(words, heard, segments, 16000);
    EXPECT_EQ(plan.heard[8], -1);
    EXPECT_EQ(plan.heard[9], 8);
    // "to" between "behind" and "e", heard with no room between them, is still given its try.
    for (size_t i = 0; i < words.size(); i++) {
        EXPECT_FALSE(plan.unheard[i]) << i;
    }
    // With "the" anchored (heard where it belongs, in a run) the words before it have no room, as before.
    heard.clear();
    hear(heard, { "a", "b", "c", "with", "the", "hill", "behind", "e", "f", "g" }, 1.0, 0);
    const TranscriptPlan anchored = plan_transcript(words, heard, segments, 16000);
    EXPECT_EQ(anchored.heard[8], 4);
    EXPECT_TRUE(anchored.unheard[4] && anchored.unheard[7]);

    // "the" heard for the "it" of "from it in the big storm", the rest of it heard as one word: as many
    // recognised words as written ones beyond it, but the time from its start to "storm" holds all four words.
    const auto it_in = transcript({ "a", "b", "c", "from", "it", "in", "the", "big", "storm", "e", "f", "g" });
    heard.clear();
    hear(heard, { "a", "b", "c", "from", "the", "perfect", "storm", "e", "f", "g" }, 1.0, 0);
    const TranscriptPlan early = plan_transcript(it_in, heard, segments, 16000);
    EXPECT_EQ(early.heard[6], -1);
    EXPECT_FALSE(early.unheard[4] || early.unheard[5]);
    // With "storm" heard 0.2 s sooner the time after "the" no longer holds them: the match stands.
    heard[6].start -= 0.2;
    heard[3].start -= 0.2;
    EXPECT_EQ(plan_transcript(it_in, heard, segments, 16000).heard[6], 4);
    // Nothing heard between "the" and "storm": the speech after it is its own (the words before it may be
    // unsaid), and the match stands however long that speech.
    heard[3].start += 0.2;
    heard[6].start += 0.2;
    heard.erase(heard.begin() + 5);
    EXPECT_EQ(plan_transcript(it_in, heard, segments, 16000).heard[6], 4);
    // Nor when nothing is written or heard between "the" and a late "storm": no speech after it could be its own.
    const auto it_in_the = transcript({ "a", "b", "c", "from", "it", "in", "the", "storm", "so", "e", "f", "g" });
    heard[5].start += 1.0;
    EXPECT_EQ(plan_transcript(it_in_the, heard, segments, 16000).heard[6], 4);

    // One misheard word between "with" and the early "the" leaves the words before it no more room than none.
    heard.clear();
    hear(heard, { "a", "b", "c", "with", "summer", "the", "key", "for", "staff", "hill", "behind", "e", "f", "g" }, 1.0,
         0);
    const TranscriptPlan misheard = plan_transcript(words, heard, segments, 16000);
    EXPECT_EQ(misheard.heard[8], -1);
    EXPECT_FALSE(misheard.unheard[4] || misheard.unheard[7]);
}

TEST(TranscriptPlan, LoneMatchesInsideUnwrittenSpeechAreUndoneAndTheirRunKeptWithItsSentence) {
    // The recogniser heard a sentence the transcript lacks (h1 ... h10), with "work" and "the" in it; the written
    // "did the work the" opens the sentence said after it, at that speech's end.
    const std::vector<Segment> segments = { { 0, 160000, 0 } };
    std::vector<HeardWord>     heard;
    hear(heard,
         { "a", "b", "c", "of", "h1", "h2", "h3", "h4", "work", "h5", "h6", "the", "h7", "h8", "h9", "h10", "boats",
           "e", "f" },
         1.0, 0);
    std::vector<TranscriptWord> words =
        transcript({ "a", "b", "c", "of", "did", "the", "work", "the", "boats", "e", "f" });
    words[3].text                = "of?";
    const TranscriptPlan opening = plan_transcript(words, heard, segments, 16000);
    for (size_t i = 4; i < 8; i++) {
        EXPECT_EQ(opening.heard[i], -1) << i;
        EXPECT_FALSE(opening.unheard[i]) << i;
    }
    // Their half length (0.56 s) back from "boats" reaches "h9": the speech before it is a hole.
    std::vector<Stretch> stretches = plan_stretches(words, opening, heard, segments[0], 0, 16000);
    ASSERT_EQ(stretches.size(), 2u);
    EXPECT_NEAR(stretches[0].to, (2.2 - 0.02) * 16000, 1);
    EXPECT_EQ(stretches[0].last, 4u);
    EXPECT_NEAR(stretches[1].from, (5.2 - 0.02) * 16000, 1);
    EXPECT_EQ(stretches[1].first, 4u);

    // Closing the sentence of "of" instead, they are said at the speech's start: the hole runs from "h3".
    words[3].text                = "of";
    words[7].text                = "the?";
    const TranscriptPlan closing = plan_transcript(words, heard, segments, 16000);
    stretches                    = plan_stretches(words, closing, heard, segments[0], 0, 16000);
    ASSERT_EQ(stretches.size(), 2u);
    EXPECT_NEAR(stretches[0].to, (2.8 - 0.02) * 16000, 1);
    EXPECT_EQ(stretches[0].last, 8u);
    EXPECT_NEAR(stretches[1].from, (5.8 - 0.02) * 16000, 1);
    EXPECT_EQ(stretches[1].first, 8u);

    // Inside one sentence nothing tells which end they are said at: one stretch.
    words[7].text = "the";
    EXPECT_EQ(
        plan_stretches(words, plan_transcript(words, heard, segments, 16000), heard, segments[0], 0, 16000).size(), 1u);
}

TEST(TranscriptPlan, AWholeSentenceWithNoRoomIsLeftOutAndTheSaidWordsAroundItKept) {
    // "town need" is misheard as "q r"; the sentence after it was never said. The run of unmatched words between
    // "c" and "m" has no room for all of them, but has for all but that sentence.
    const std::vector<Segment> segments = { { 0, 160000, 0 } };
    std::vector<HeardWord>     heard;
    hear(heard, { "a", "b", "c", "q", "r", "m", "n", "o" }, 1.0, 0);
    heard[5].start                    = 2.8;
    std::vector<TranscriptWord> words = transcript(
        { "a", "b", "c", "town", "need", "nobody", "in", "this", "room", "ever", "said", "these", "m", "n", "o" });
    words[4].text             = "need.";
    words[11].text            = "these.";
    const TranscriptPlan plan = plan_transcript(words, heard, segments, 16000);
    for (size_t i = 0; i < words.size(); i++) {
        EXPECT_EQ(plan.unheard[i], i >= 5 && i <= 11) << i;
    }
    // With the time the sentence takes between "c" and "m", it is aligned.
    for (size_t j = 5; j < heard.size(); j++) {
        heard[j].start += 2.0;
    }
    const TranscriptPlan roomy = plan_transcript(words, heard, segments, 16000);
    EXPECT_EQ(std::count(roomy.unheard.begin(), roomy.unheard.end(), true), 0);
    // Where the aligner then misses words, the sentence (not a sentence cut by the run's edge) is tried without,
    // not the said words beside it, only where the run has no time for it at its rough length.
    EXPECT_EQ(longest_sentence_within(words, 3, 12), std::make_pair(size_t{ 5 }, size_t{ 12 }));
    EXPECT_EQ(longest_sentence_within(words, 6, 15), std::make_pair(size_t{ 12 }, size_t{ 15 }));
    EXPECT_EQ(longest_sentence_within(words, 6, 14).second, 0u);
    EXPECT_FALSE(fits_only_without(words, roomy, heard, 3, 12, 5, 12, 10.0));
    for (size_t j = 5; j < heard.size(); j++) {
        heard[j].start -= 1.0;
    }
    EXPECT_TRUE(fits_only_without(words, roomy, heard, 3, 12, 5, 12, 10.0));
    EXPECT_FALSE(fits_only_without(words, roomy, heard, 3, 12, 10, 12, 10.0));
}

TEST(TranscriptPlan, ANeverSaidSentencesOnlyMatchIsUndoneWhenItSqueezesTheSaidWordsBeforeIt) {
    // "this" of the never-said sentence is heard in the speech after "c" (where "you start keeping bees" were
    // said and misheard): matched there, the said words have no room and would be taken for unsaid.
    const std::vector<Segment> segments = { { 0, 160000, 0 } };
    std::vector<HeardWord>     heard;
    hear(heard, { "a", "b", "c", "this", "q", "r", "s", "m", "n", "o" }, 1.0, 0);
    std::vector<TranscriptWord> words = transcript({ "a", "b", "c", "you", "start", "keeping", "bees", "nobody", "in",
                                                     "this", "room", "ever", "said", "these", "m", "n", "o" });
    words[6].text                     = "bees?";
    words[13].text                    = "these.";
    const TranscriptPlan plan         = plan_transcript(words, heard, segments, 16000);
    EXPECT_EQ(plan.heard[9], -1);
    for (size_t i = 0; i < words.size(); i++) {
        EXPECT_EQ(plan.unheard[i], i >= 7 && i <= 13) << i;
    }
    // A second match in the sentence ("ever") tells it was said: both are kept.
    heard[5].key = "ever";
    EXPECT_EQ(plan_transcript(words, heard, segments, 16000).heard[9], 3);
}

TEST(TranscriptPlan, SpeechBetweenTwoWrittenSentencesIsAHoleAndTheLoneMatchInsideItIsUndone) {
    // The recogniser heard a sentence the transcript lacks (u1 ... u9) between "of?" and "did", and a "the" at its
    // end, the only match of "did the work?": kept, it would draw that sentence into the unwritten speech.
    const std::vector<Segment> segments = { { 0, 160000, 0 } };
    std::vector<HeardWord>     heard;
    hear(heard, { "a",  "b",  "c",  "n1", "n2", "n3",  "n4", "u1", "u2", "u3", "u4",
                  "u5", "u6", "u7", "u8", "u9", "the", "d1", "d2", "e",  "f",  "g" },
         1.0, 0);
    std::vector<TranscriptWord> words =
        transcript({ "a", "b", "c", "new", "wall", "made", "of", "did", "the", "work", "so", "it", "e", "f", "g" });
    words[6].text             = "of?";
    words[9].text             = "work?";
    const TranscriptPlan plan = plan_transcript(words, heard, segments, 16000);
    EXPECT_EQ(plan.heard[8], -1);
    // Each side keeps what 1.25 times its rough length spans: "new ... of?" up to "u2", "did ... it" from "u8".
    const std::vector<Stretch> stretches = plan_stretches(words, plan, heard, segments[0], 0, 16000);
    ASSERT_EQ(stretches.size(), 2u);
    EXPECT_NEAR(stretches[0].to, (3.4 - 0.02) * 16000, 1);
    EXPECT_EQ(stretches[0].last, 7u);
    EXPECT_NEAR(stretches[1].from, (5.2 - 0.02) * 16000, 1);
    EXPECT_EQ(stretches[1].first, 7u);
    EXPECT_TRUE(stretches[0].unwritten_after && stretches[1].unwritten_before);

    // A side of fewer than three words says too little of how long its speech lasts: no hole, and the match stays.
    words[4].text                   = "wall.";
    const TranscriptPlan short_head = plan_transcript(words, heard, segments, 16000);
    EXPECT_EQ(short_head.heard[8], 16);
    EXPECT_EQ(plan_stretches(words, short_head, heard, segments[0], 0, 16000).size(), 1u);
}

TEST(TranscriptPlan, ALoneMatchHeardApartFromItsWrittenNeighbourInsideASentenceIsUndone) {
    // "for the" are written side by side in one sentence, but "the" is heard only after a turn the transcript
    // lacks (u1 ... u7), in the next sentence's misheard speech: kept, it would draw "the basket" there.
    const std::vector<Segment> segments = { { 0, 160000, 0 } };
    std::vector<HeardWord>     heard;
    hear(heard,
         { "a", "b", "c", "sweet", "for", "this", "u1", "u2", "u3", "u4", "u5", "u6", "u7", "the", "film", "where", "x",
           "y" },
         1.0, 0);
    std::vector<TranscriptWord> words =
        transcript({ "a", "b", "c", "sweet", "for", "the", "basket", "people", "buy", "less", "where", "x", "y" });
    EXPECT_EQ(plan_transcript(words, heard, segments, 16000).heard[5], -1);
    // With the sentence ending at "for" the speech between may be a sentence of its own: the match stands.
    words[4].text = "for.";
    EXPECT_EQ(plan_transcript(words, heard, segments, 16000).heard[5], 13);
    // So it does with a word written between them, which the recognised words may stand for.
    words[4].text = "for";
    words.insert(words.begin() + 5, TranscriptWord{ "all", "all", 0, "", false });
    EXPECT_EQ(plan_transcript(words, heard, segments, 16000).heard[6], 13);
    // Beside an anchored run it is the lone match before the speech that is undone.
    heard.clear();
    hear(heard, { "a", "b", "c", "sweet", "q", "for", "u1", "u2", "u3", "the", "x", "y" }, 1.0, 0);
    const TranscriptPlan earlier =
        plan_transcript(transcript({ "a", "b", "c", "sweet", "for", "the", "x", "y" }), heard, segments, 16000);
    EXPECT_EQ(earlier.heard[4], -1);
    EXPECT_EQ(earlier.heard[5], 9);
}

TEST(TranscriptPlan, NothingHeardSharesTheWordsOutByLength) {
    const std::vector<Segment> segments = { { 0, 16000, 0 }, { 16000, 64000, 0 } };
    const TranscriptPlan       plan     = plan_transcript(transcript({ "a", "b", "c", "d" }), {}, segments, 16000);
    EXPECT_EQ(plan.segment, (std::vector<size_t>{ 0, 1, 1, 1 }));
    EXPECT_EQ(plan.unheard, (std::vector<bool>{ 0, 0, 0, 0 }));
}

} // namespace
