#include "engine/kelvo_asr.h"
#include "engine_test_clips.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

class Aligner : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        aligner = std::make_unique<kelvo_asr::ForcedAligner>();
        ASSERT_TRUE(aligner->load_model(model_dir())) << aligner->last_error();
        clips = load_reference_clips();
    }
    static void TearDownTestSuite() {
        aligner.reset();
        clips.clear();
    }
    static kelvo_asr::alignment_result align(const std::vector<float> & s, const std::string & text) {
        return aligner->align(s.data(), static_cast<int32_t>(s.size()), text, "en-us");
    }
    static std::unique_ptr<kelvo_asr::ForcedAligner> aligner;
    static std::vector<reference_clip>               clips;
};

std::unique_ptr<kelvo_asr::ForcedAligner> Aligner::aligner;
std::vector<reference_clip>               Aligner::clips;

// One word per input word, same texts, in order, times finite and inside the segment.
void expect_well_formed(const kelvo_asr::alignment_result & r, const std::string & text, double length) {
    ASSERT_TRUE(r.success) << r.error;
    std::vector<std::string> words = split_on_spaces(text);
    ASSERT_EQ(r.words.size(), words.size());
    double previous_end = 0.0;
    for (size_t i = 0; i < words.size(); i++) {
        SCOPED_TRACE(words[i]);
        EXPECT_EQ(r.words[i].text, words[i]);
        EXPECT_TRUE(std::isfinite(r.words[i].start) && std::isfinite(r.words[i].end));
        EXPECT_GE(r.words[i].start, 0.0f);
        EXPECT_LE(r.words[i].start, r.words[i].end);
        EXPECT_LE(r.words[i].end, length + 1e-4);
        EXPECT_GE(r.words[i].start + 1e-4, previous_end) << "words overlap or go back in time";
        previous_end = r.words[i].end;
    }
}

int count_untimed(const kelvo_asr::alignment_result & r) {
    int n = 0;
    for (const auto & w : r.words) {
        n += (w.end - w.start) < 0.001f ? 1 : 0;
    }
    return n;
}

TEST_F(Aligner, PlacesEveryReferenceWordOfEachRecording) {
    ASSERT_FALSE(clips.empty());
    for (const reference_clip & c : clips) {
        SCOPED_TRACE(c.id);
        kelvo_asr::alignment_result r = align(c.samples, c.text);
        expect_well_formed(r, c.text, c.samples.size() / 16000.0);
        EXPECT_EQ(count_untimed(r), 0);
        for (const auto & w : r.words) {
            EXPECT_LT(w.end - w.start, 1.5f) << w.text << " runs too long";
        }
    }
}

TEST_F(Aligner, CaseOfTheTextDoesNotMatter) {
    ASSERT_FALSE(clips.empty());
    const reference_clip & c     = clips[0];
    std::string            upper = c.text;
    for (char & ch : upper) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    kelvo_asr::alignment_result lower_r = align(c.samples, c.text);
    kelvo_asr::alignment_result upper_r = align(c.samples, upper);
    expect_well_formed(upper_r, upper, c.samples.size() / 16000.0);
    ASSERT_EQ(lower_r.words.size(), upper_r.words.size());
    for (size_t i = 0; i < lower_r.words.size(); i++) {
        EXPECT_FLOAT_EQ(lower_r.words[i].start, upper_r.words[i].start);
        EXPECT_FLOAT_EQ(lower_r.words[i].end, upper_r.words[i].end);
    }
}

TEST_F(Aligner, WordsOutsideTheDictionaryAreAligned) {
    ASSERT_FALSE(clips.empty());
    // "dashwood" is in the dictionary; these spellings are not, and still sound close to the audio.
    const reference_clip & c    = clips[0];
    std::string            text = c.text;
    size_t                 at   = text.find("dashwood");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 8, "Dashwoode");
    text += " Kelvorin";
    kelvo_asr::alignment_result r = align(c.samples, text);
    expect_well_formed(r, text, c.samples.size() / 16000.0);
    EXPECT_LE(count_untimed(r), 1);
}

TEST_F(Aligner, SilenceGivesEveryWordUntimed) {
    std::vector<float>          silence(16000 * 2, 0.0f);
    const std::string           text = "hello there general Kelvorin";
    kelvo_asr::alignment_result r    = align(silence, text);
    expect_well_formed(r, text, 2.0);
    EXPECT_EQ(count_untimed(r), 4);
}

TEST_F(Aligner, EmptyTextAndEmptyAudio) {
    std::vector<float>          none;
    kelvo_asr::alignment_result r = align(none, "hello world");
    expect_well_formed(r, "hello world", 0.0);
    kelvo_asr::alignment_result e = align(std::vector<float>(16000, 0.1f), "  ");
    EXPECT_TRUE(e.success);
    EXPECT_TRUE(e.words.empty());
}

} // namespace

namespace {

// Speaks `text` into samples; false when the synthesiser or sox is missing.
bool speak(const std::string & text, std::vector<float> & samples) {
    if (!have_command("espeak-ng") || !have_command("sox")) {
        return false;
    }
    std::string path = make_temp_dir() + "/speech.wav";
    int32_t     rate = 0;
    return synthesize_speech(text, "en-us", 160, path) && kelvo_asr::load_audio_file(path, samples, rate) &&
           rate == 16000;
}

TEST_F(Aligner, EveryFormOfMatchKeyIsAlignedOneForOne) {
    std::vector<float> s;
    if (!speak("Well, I don't like rock and roll, but the café opened in 1995 on the 2nd of May. "
               "35 naive people came from Tokyo, and Dashwood said it's fine.",
               s)) {
        GTEST_SKIP() << "no speech synthesiser";
    }
    // The keys as the tool sends them: restored case, apostrophes, digits, UTF-8, a lone dash and a
    // curly apostrophe, a script the synthesiser only spells.
    const std::string text = "Well I don't like rock'n'roll but the café opened in 1995 on the 2nd of May \xE2\x80\x94 "
                             "35 naïve people came from 東京 and Dashwood said it\xE2\x80\x99s fine";
    kelvo_asr::alignment_result r = align(s, text);
    expect_well_formed(r, text, s.size() / 16000.0);
    ASSERT_EQ(r.words.size(), 28u);
    EXPECT_LE(count_untimed(r), 2); // the dash has no sound
    // The dash sits at the boundary after "May".
    EXPECT_FLOAT_EQ(r.words[16].start, r.words[16].end);
    EXPECT_FLOAT_EQ(r.words[16].start, r.words[15].end);
    for (size_t i : { 2u, 4u, 7u, 10u, 13u, 17u, 18u, 24u, 26u }) {
        EXPECT_GT(r.words[i].end - r.words[i].start, 0.05f) << r.words[i].text;
    }
    // The word in another script is speech of some kind: it gets time, however little.
    EXPECT_GT(r.words[22].end - r.words[22].start, 0.001f);
}

TEST_F(Aligner, TextWithAWordTooManyOrTooFew) {
    ASSERT_FALSE(clips.empty());
    const reference_clip &   c     = clips[0];
    std::vector<std::string> words = split_on_spaces(c.text);
    std::string              extra;
    std::string              fewer;
    for (size_t i = 0; i < words.size(); i++) {
        extra += (extra.empty() ? "" : " ") + words[i];
        if (i == words.size() / 2) {
            extra += " elephant";
        }
        if (i != 3) {
            fewer += (fewer.empty() ? "" : " ") + words[i];
        }
    }
    for (const std::string & text : { extra, fewer }) {
        SCOPED_TRACE(text);
        kelvo_asr::alignment_result r = align(c.samples, text);
        expect_well_formed(r, text, c.samples.size() / 16000.0);
        EXPECT_LE(count_untimed(r), 2);
    }
}

TEST_F(Aligner, SegmentTooShortForItsWordsIsLeftUntimed) {
    ASSERT_FALSE(clips.empty());
    std::vector<float>          short_piece(clips[0].samples.begin() + 16000, clips[0].samples.begin() + 16000 + 1600);
    const std::string           text = "much there might be prudently in his power to do for them";
    kelvo_asr::alignment_result r    = align(short_piece, text);
    expect_well_formed(r, text, 0.1);
    EXPECT_EQ(count_untimed(r), static_cast<int>(split_on_spaces(text).size()));
}

TEST_F(Aligner, ThirtyEightSecondSegment) {
    ASSERT_FALSE(clips.empty());
    std::vector<float> s;
    std::string        text;
    const size_t       pause = 16000 / 2;
    while (s.size() < 38 * 16000) {
        for (const reference_clip & c : clips) {
            s.insert(s.end(), c.samples.begin(), c.samples.end());
            s.insert(s.end(), pause, 0.0f);
            text += (text.empty() ? "" : " ") + c.text;
        }
    }
    s.resize(38 * 16000, 0.0f);
    // Only the words of clips that fit completely: cut the text at the last whole clip.
    std::string whole;
    size_t      at = 0;
    for (size_t k = 0; at < s.size(); k++) {
        const reference_clip & c = clips[k % clips.size()];
        at += c.samples.size() + pause;
        if (at - pause <= s.size()) {
            whole += (whole.empty() ? "" : " ") + c.text;
        }
    }
    kelvo_asr::alignment_result r = align(s, whole);
    expect_well_formed(r, whole, 38.0);
    EXPECT_LE(count_untimed(r), 1);
    for (const auto & w : r.words) {
        EXPECT_LT(w.end - w.start, 1.5f) << w.text << " at " << w.start;
    }
}

TEST_F(Aligner, SpokenFillerLeftOutOfTheTextDoesNotDragItsNeighbours) {
    std::vector<float> s;
    if (!speak("We went home. Um, then we, uh, slept until noon.", s)) {
        GTEST_SKIP() << "no speech synthesiser";
    }
    kelvo_asr::alignment_result full    = align(s, "We went home um then we uh slept until noon");
    kelvo_asr::alignment_result without = align(s, "We went home then we slept until noon");
    expect_well_formed(full, "We went home um then we uh slept until noon", s.size() / 16000.0);
    expect_well_formed(without, "We went home then we slept until noon", s.size() / 16000.0);
    // "then" and "slept" start where they start when the fillers are in the text.
    EXPECT_NEAR(without.words[3].start, full.words[4].start, 0.05);
    EXPECT_NEAR(without.words[5].start, full.words[7].start, 0.05);
    EXPECT_NEAR(without.words[4].end, full.words[5].end, 0.06);
}

TEST_F(Aligner, NoWordRunsIntoALongPause) {
    ASSERT_FALSE(clips.empty());
    const reference_clip & c = clips[1];
    // The clip, two seconds of silence, the clip again.
    std::vector<float> s = c.samples;
    s.insert(s.end(), 2 * 16000, 0.0f);
    s.insert(s.end(), c.samples.begin(), c.samples.end());
    const std::string           text = c.text + " " + c.text;
    kelvo_asr::alignment_result r    = align(s, text);
    expect_well_formed(r, text, s.size() / 16000.0);
    const size_t half = split_on_spaces(c.text).size();
    const float  clip = static_cast<float>(c.samples.size()) / 16000.0f;
    EXPECT_LE(r.words[half - 1].end, clip + 0.05f);
    EXPECT_GE(r.words[half].start, clip + 2.0f - 0.05f);
    // The same audio after the pause gives the same times, shifted.
    for (size_t i = 0; i < half; i++) {
        EXPECT_NEAR(r.words[half + i].start, r.words[i].start + clip + 2.0f, 0.03f) << r.words[i].text;
        EXPECT_NEAR(r.words[half + i].end, r.words[i].end + clip + 2.0f, 0.03f) << r.words[i].text;
    }
}

TEST_F(Aligner, WithoutEnergyEdgesTheTimesAreTheDecodersFrames) {
    ASSERT_FALSE(clips.empty());
    const reference_clip & c = clips[1];
    // Half a second of silence first, so that the first word's start is one the energy would move.
    std::vector<float> s(8000, 0.0f);
    s.insert(s.end(), c.samples.begin(), c.samples.end());
    const kelvo_asr::alignment_result moved = align(s, c.text);
    const kelvo_asr::alignment_result own =
        aligner->align(s.data(), static_cast<int32_t>(s.size()), c.text, "en-us", false, false);
    expect_well_formed(own, c.text, s.size() / 16000.0);
    ASSERT_EQ(own.words.size(), moved.words.size());
    EXPECT_NE(own.words[0].start, moved.words[0].start) << "the energy moves the first word's start";
    for (size_t i = 0; i < own.words.size(); i++) {
        SCOPED_TRACE(own.words[i].text);
        // The decoder's 10 ms frames, and no further than the energy moves an edge (0.1 s).
        EXPECT_NEAR(own.words[i].start * 100.0f, std::round(own.words[i].start * 100.0f), 1e-3f);
        EXPECT_NEAR(own.words[i].end * 100.0f, std::round(own.words[i].end * 100.0f), 1e-3f);
        EXPECT_NEAR(own.words[i].start, moved.words[i].start, 0.1f + 1e-3f);
        EXPECT_NEAR(own.words[i].end, moved.words[i].end, 0.1f + 1e-3f);
    }
}

} // namespace

namespace {

TEST_F(Aligner, KeysThatLostTheirEdgeApostrophesFindTheirDictionaryForms) {
    std::vector<float> s;
    if (!speak("I told 'em it was goin' well, and 'tis true.", s)) {
        GTEST_SKIP() << "no speech synthesiser";
    }
    // Match keys drop apostrophes at word edges: "'em" arrives as "em", "goin'" as "goin".
    const std::string           text = "I told em it was goin well and tis true";
    kelvo_asr::alignment_result r    = align(s, text);
    expect_well_formed(r, text, s.size() / 16000.0);
    EXPECT_EQ(count_untimed(r), 0);
}

} // namespace
