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
