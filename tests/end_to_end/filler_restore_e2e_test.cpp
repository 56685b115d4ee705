// Fillers heard by another source are put back into the recognised words and aligned where spoken.

#include "test_support.h"

#include <gtest/gtest.h>

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

// Reads a LibriVox clip and its reference words.
bool librivox_piece(const std::string & id, const std::string & reference, std::vector<float> & samples,
                    std::vector<std::string> & words) {
    int32_t rate = 0;
    if (!read_wav_pcm16(testdata_dir() + "/librivox/sense_and_sensibility_01_austen_64kb-" + id + ".wav", samples,
                        rate)) {
        return false;
    }
    std::istringstream in(reference);
    words.clear();
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return true;
}

// Human speech from LibriVox with an "um" spoken by espeak-ng between clips; the extra words hold every
// spoken word with its time, as another transcription of the recording would.
TEST(RealEngine, SpokenFillersAreRestoredNearWhereTheyWereSaid) {
    const std::string dir = make_temp_dir();
    const std::string he_was = "he was not an ill disposed young man";
    const std::string he_might = "he might even have been made amiable himself";
    const std::vector<std::pair<std::string, std::string>> pieces = {
        { "0880", he_was }, { "um", "um" }, { "0930", he_might }, { "0880", he_was }, { "um", "um" }, { "0880", he_was },
    };
    std::vector<float>  audio(8000, 0.0f);
    std::string         extra;
    std::vector<double> filler_times;
    for (const auto & [id, text] : pieces) {
        std::vector<float>       s;
        std::vector<std::string> list;
        if (id == "um") {
            int32_t rate = 0;
            // espeak-ng reads the letters "um" as an open "ah"; "uhm" gives the closed hesitation sound.
            ASSERT_TRUE(synthesize_speech("uhm", "en-us", 130, dir + "/um.wav"));
            ASSERT_TRUE(read_wav_pcm16(dir + "/um.wav", s, rate));
            list = { "um" };
        } else {
            ASSERT_TRUE(librivox_piece(id, text, s, list));
        }
        const double start = (audio.size() + onset(s)) / 16000.0;
        const double span  = (audio.size() + s.size()) / 16000.0 - start;
        for (size_t k = 0; k < list.size(); k++) {
            std::ostringstream rec;
            rec.precision(3);
            rec << std::fixed << start + span * static_cast<double>(k) / static_cast<double>(list.size()) << " "
                << list[k] << "\n";
            extra += rec.str();
        }
        if (id == "um") {
            filler_times.push_back(start);
        }
        audio.insert(audio.end(), s.begin(), s.end());
        audio.insert(audio.end(), 4800, 0.0f);
    }
    ASSERT_TRUE(write_wav_pcm16(dir + "/a.wav", audio, 16000));
    ASSERT_TRUE(write_file(dir + "/extra.txt", extra));

    const std::vector<std::string> base = { asr_binary(), "--asr",   model_dir(), "--aligner",
                                            model_dir(),  "--audio", dir + "/a.wav" };
    ProcessResult plain = run_process(base);
    std::vector<std::string> with_extra = base;
    with_extra.push_back("--extra-words");
    with_extra.push_back(dir + "/extra.txt");
    ProcessResult restored = run_process(with_extra);
    ASSERT_EQ(plain.status, 0) << plain.out;
    ASSERT_EQ(restored.status, 0) << restored.out;
    auto before = parse_words_document(plain.out);
    auto after  = parse_words_document(restored.out);
    ASSERT_TRUE(before.has_value() && after.has_value());

    std::vector<DocWord> kept;
    std::vector<DocWord> added;
    for (const auto & w : *after) {
        (w.added ? added : kept).push_back(w);
    }
    ASSERT_EQ(added.size(), filler_times.size()) << restored.out << "\n" << extra;
    // Each restored filler stands in the pause where it was spoken: after the words before it and before
    // the words after it. The recogniser hears the espeak-ng "uhm" as a short word of its own, and the
    // aligner then shares the sound between the two, so the filler's start may lie up to the pause's
    // length before the sound.
    for (size_t k = 0; k < added.size(); k++) {
        EXPECT_EQ(added[k].text, "um");
        EXPECT_NEAR(added[k].start, filler_times[k], 0.8);
    }
    // The recognised words are the same words, still near where they were without the fillers.
    ASSERT_EQ(kept.size(), before->size()) << plain.out << "\n" << restored.out;
    for (size_t k = 0; k < kept.size(); k++) {
        EXPECT_EQ(kept[k].text, (*before)[k].text);
        EXPECT_NEAR(kept[k].start, (*before)[k].start, 0.15) << kept[k].text;
    }
}

} // namespace
