// Words as people write them: sentences, questions, names, and the pitch rise that marks a question.

#include "engine/kelvo_asr.h"
#include "written/written.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

// Words of `text`, 0.3 s each with `gap` seconds between them, all spoken by `who`.
std::vector<TimedWord> spoken(const std::vector<std::string> & texts, double from = 0, char who = 0,
                              double gap = 0.05) {
    std::vector<TimedWord> words;
    for (const std::string & text : texts) {
        words.push_back(
            TimedWord{ .text = text, .start = from, .end = from + 0.3, .added = false, .who = who, .untimed = false });
        from += 0.3 + gap;
    }
    return words;
}

std::vector<std::string> texts_of(const std::vector<TimedWord> & words) {
    std::vector<std::string> texts;
    for (const TimedWord & word : words) {
        texts.push_back(word.text);
    }
    return texts;
}

// A tone whose pitch glides from `from_hz` to `to_hz` over the last `glide` seconds of `seconds`.
std::vector<float> tone(double seconds, double from_hz, double to_hz, double glide) {
    std::vector<float> samples(static_cast<size_t>(seconds * 16000));
    double             phase = 0;
    for (size_t i = 0; i < samples.size(); i++) {
        const double t  = static_cast<double>(i) / 16000;
        const double at = std::clamp((t - (seconds - glide)) / glide, 0.0, 1.0);
        phase += 2 * std::numbers::pi * (from_hz + (to_hz - from_hz) * at) / 16000;
        // A few harmonics, as a voice has, so that the period and not a harmonic is found.
        samples[i] = static_cast<float>(0.3 * std::sin(phase) + 0.2 * std::sin(2 * phase) + 0.1 * std::sin(3 * phase));
    }
    return samples;
}

TEST(Written, TurnsAndPausesEndSentencesWithACapitalAndAFullStop) {
    std::vector<TimedWord> words = spoken({ "i", "think", "so" }, 0, 'A');
    std::vector<TimedWord> next  = spoken({ "fine", "we'll", "go" }, 1.05, 'B');
    std::vector<TimedWord> later = spoken({ "on", "sunday", "with", "mrs", "walker" }, 3.0, 'B'); // after a pause
    words.insert(words.end(), next.begin(), next.end());
    words.insert(words.end(), later.begin(), later.end());
    const std::vector<float> silence(16000 * 5);

    write_as_people_do(words, { Segment{ 0, 16000 * 5, 'A' } }, silence, 16000, { { "sunday", "Sunday" } });
    EXPECT_EQ(texts_of(words), (std::vector<std::string>{ "I", "think", "so.", "Fine", "we'll", "go.", "On", "Sunday",
                                                          "with", "Mrs", "Walker." }));
    for (const TimedWord & word : words) {
        EXPECT_GE(word.end, word.start) << "times are not touched";
    }
    EXPECT_TRUE(find_sentences({}, {}, 16000).empty());
}

TEST(Written, QuestionsByTheirWordsAndNotByAClause) {
    const auto asks = [](const std::vector<std::string> & texts) {
        const std::vector<TimedWord> words = spoken(texts);
        return reads_as_question(words, 0, words.size() - 1);
    };
    EXPECT_TRUE(asks({ "so", "um", "do", "you", "like", "it" }));
    EXPECT_TRUE(asks({ "where", "are", "they" }));
    EXPECT_TRUE(asks({ "what", "time", "is", "it" }));
    EXPECT_TRUE(asks({ "you", "saw", "it", "right" }));
    EXPECT_TRUE(asks({ "it", "was", "late", "wasn't", "it" }));
    EXPECT_FALSE(asks({ "what", "we", "did", "was", "fine" }));
    EXPECT_FALSE(asks({ "when", "i", "got", "home" }));
    EXPECT_FALSE(asks({ "do" }));
    EXPECT_FALSE(asks({ "it", "is", "fine" }));

    // A question that follows a statement without a pause is a sentence of its own; a clause is not.
    std::vector<TimedWord>   words = spoken({ "good", "morning", "did", "you", "see", "what", "we", "did", "funded",
                                              "where", "is", "the", "car", "i", "asked", "if", "you", "were", "in" });
    const std::vector<float> silence(16000 * 9);
    write_as_people_do(words, { Segment{ 0, 16000 * 9, 0 } }, silence, 16000, {});
    EXPECT_EQ(texts_of(words),
              (std::vector<std::string>{ "Good", "morning.", "Did", "you", "see", "what", "we", "did", "funded?",
                                         "Where", "is", "the", "car", "I", "asked", "if", "you", "were", "in?" }));
    words = spoken({ "how", "much", "did", "you", "pay" });
    write_as_people_do(words, { Segment{ 0, 16000 * 9, 0 } }, silence, 16000, {});
    EXPECT_EQ(texts_of(words), (std::vector<std::string>{ "How", "much", "did", "you", "pay?" }));
}

TEST(Written, APitchRiseAtTheEndAsksAndATooLargeOneDoesNot) {
    const std::vector<float> flat   = tone(1.2, 120, 120, 0.3);
    const std::vector<float> rising = tone(1.2, 120, 150, 0.3); // 3.9 semitones
    const std::vector<float> jump   = tone(1.2, 120, 240, 0.3); // an octave: a pitch error
    kelvo_asr::pitch_result  p      = kelvo_asr::measure_pitch(flat.data(), static_cast<int32_t>(flat.size()));
    ASSERT_TRUE(p.voiced);
    EXPECT_NEAR(p.rise, 0.0, 0.3);
    EXPECT_NEAR(p.hz[50], 120.0, 2.0);
    p = kelvo_asr::measure_pitch(rising.data(), static_cast<int32_t>(rising.size()));
    EXPECT_GT(p.rise, 2.5);
    const std::vector<float> silence(16000);
    EXPECT_FALSE(kelvo_asr::measure_pitch(silence.data(), 16000).voiced);
    EXPECT_FALSE(kelvo_asr::measure_pitch(nullptr, 0).voiced);

    for (const auto * samples : { &flat, &rising, &jump }) {
        std::vector<TimedWord> words = spoken({ "it", "rained" }, 0.5, 0, 0.1);
        write_as_people_do(words, { Segment{ 0, 19200, 0 } }, *samples, 16000, {});
        EXPECT_EQ(words[1].text, samples == &rising ? "rained?" : "rained.");
    }
}

TEST(Written, NamesFromTheWordListAndTheVocabularyChangeOnlyCase) {
    NameList names = names_from_word_list("May\nmay\nSunday\nSunday's\nNASA\r\nsunny\n");
    EXPECT_EQ(names, (NameList{ { "sunday", "Sunday" }, { "sunday's", "Sunday's" }, { "nasa", "NASA" } }));
    add_vocabulary_names(names, "Tavrik\tT AE V R IH K\nnew York City\nkelvo\nNASA's\n");
    EXPECT_EQ(names.at("tavrik"), "Tavrik");
    EXPECT_EQ(names.at("york"), "York");
    EXPECT_FALSE(names.contains("kelvo"));
    EXPECT_FALSE(names.contains("t"));

    EXPECT_EQ(written_word("i'm", names, false), "I'm");
    EXPECT_EQ(written_word("mrs", names, false), "Mrs");
    EXPECT_EQ(written_word("may", names, false), "may");
    EXPECT_EQ(written_word("may", names, true), "May");
    EXPECT_EQ(written_word("york's", names, false), "York's");
    EXPECT_EQ(written_word("nasa", names, true), "NASA");
    EXPECT_EQ(written_word("caf\xc3\xa9", names, true), "Caf\xc3\xa9");
}

} // namespace
