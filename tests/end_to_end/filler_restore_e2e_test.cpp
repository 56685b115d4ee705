// Fillers heard by another source are put back into the recognised words and aligned where spoken.

#include "engine/kelvo_asr.h"
#include "formats/formats.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

size_t onset(const std::vector<float> & s) {
    for (size_t at = 0; at + 160 <= s.size(); at += 160) {
        double e = 0;
        for (size_t k = 0; k < 160; k++) {
            e += static_cast<double>(s[at + k]) * s[at + k];
        }
        if (std::sqrt(e / 160) > 0.01) {
            return at;
        }
    }
    return 0;
}

// Human speech from LibriVox with an "um" spoken by espeak-ng between clips. The extra words are those
// the recogniser heard without them, at their times, plus each "um" where it was spoken, as another
// transcription of the recording would give them. Each "um" must then be in the output near where it was
// said: heard by the recogniser, or restored in the gap it left.
TEST(RealEngine, SpokenFillersAreRestoredNearWhereTheyWereSaid) {
    const std::string              dir    = make_temp_dir();
    const std::vector<std::string> pieces = { "0880", "um", "0930", "0880", "um", "0880" };
    std::vector<float>             audio(8000, 0.0f);
    std::vector<double>            filler_times;
    for (const std::string & id : pieces) {
        std::vector<float> s;
        int32_t            rate = 0;
        if (id == "um") {
            // espeak-ng reads the letters "um" as an open "ah"; "uhm" gives the closed hesitation sound.
            ASSERT_TRUE(synthesize_speech("uhm", "en-us", 130, dir + "/um.wav"));
            ASSERT_TRUE(kelvo_asr::load_audio_file(dir + "/um.wav", s, rate));
            filler_times.push_back((audio.size() + onset(s)) / 16000.0);
        } else {
            ASSERT_TRUE(kelvo_asr::load_audio_file(
                testdata_dir() + "/librivox/sense_and_sensibility_01_austen_64kb-" + id + ".wav", s, rate));
        }
        audio.insert(audio.end(), s.begin(), s.end());
        audio.insert(audio.end(), 4800, 0.0f);
    }
    ASSERT_TRUE(write_wav_pcm16(dir + "/a.wav", audio, 16000));

    const std::vector<std::string> base  = { asr_binary(), "--asr",   model_dir(),   "--aligner",
                                             model_dir(),  "--audio", dir + "/a.wav", "--plain-words" };
    ProcessResult                  plain = run_process(base);
    ASSERT_EQ(plain.status, 0) << plain.out;
    auto before = document_words(plain.out);
    ASSERT_TRUE(before.has_value());
    // Another source hears each "um" where it starts, before any word the recogniser heard in its place.
    std::vector<std::pair<double, std::string>> timed;
    for (double t : filler_times) {
        timed.emplace_back(t - 0.05, "um");
    }
    for (const auto & w : *before) {
        timed.emplace_back(w.start, w.text);
    }
    std::stable_sort(timed.begin(), timed.end(), [](const auto & x, const auto & y) { return x.first < y.first; });
    std::ostringstream extra;
    extra.precision(3);
    for (const auto & [t, w] : timed) {
        extra << std::fixed << t << " " << w << "\n";
    }
    ASSERT_TRUE(write_file(dir + "/extra.txt", extra.str()));

    std::vector<std::string> with_extra = base;
    with_extra.push_back("--extra-words");
    with_extra.push_back(dir + "/extra.txt");
    ProcessResult restored = run_process(with_extra);
    ASSERT_EQ(restored.status, 0) << restored.out;
    auto after = document_words(restored.out);
    ASSERT_TRUE(after.has_value());

    // The recogniser hears the espeak-ng "uhm" as a short word at times, and the aligner then shares the
    // sound between the two, so a filler's start may lie up to the pause's length before the sound.
    const auto near_filler = [&](double t) {
        return std::any_of(filler_times.begin(), filler_times.end(), [&](double f) { return std::abs(t - f) < 0.8; });
    };
    std::vector<DocumentWord> kept;
    for (const auto & w : *after) {
        if (w.added) {
            EXPECT_EQ(w.text, "um");
            EXPECT_TRUE(near_filler(w.start)) << w.start << "\n" << restored.out;
        } else {
            kept.push_back(w);
        }
    }
    for (double f : filler_times) {
        EXPECT_TRUE(std::any_of(after->begin(), after->end(),
                                [&](const DocumentWord & w) { return w.text == "um" && std::abs(w.start - f) < 0.8; }))
            << f << "\n"
            << restored.out;
    }
    // The recognised words are the same words, still near where they were without the fillers.
    ASSERT_EQ(kept.size(), before->size()) << plain.out << "\n" << restored.out;
    for (size_t k = 0; k < kept.size(); k++) {
        EXPECT_EQ(kept[k].text, (*before)[k].text);
        EXPECT_NEAR(kept[k].start, (*before)[k].start, 0.15) << kept[k].text;
    }
}

} // namespace
