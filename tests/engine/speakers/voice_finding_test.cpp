// Speaker finding on synthesised speech: one voice saying the same lines over and over, each repeat the same
// frames, which the clustering splits by line into parts far apart from each other, is found as one voice,
// and no voice holds less speech than the minimum.

#include "engine/speakers/voice_finding.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

TEST(VoiceFinding, NoVoiceHoldsLessThanTheMinimumOfSpeech) {
    const std::string              dir   = make_temp_dir();
    const std::vector<std::string> lines = {
        "the morning train was late again so we waited on the cold platform",
        "she folded the map and pointed at the small harbour on the far side of the bay",
        "nobody remembered who had left the lights on in the old workshop",
        "if the weather holds we can paint the fence before the end of the week",
    };
    std::vector<float> audio(8000, 0.0f);
    for (int round = 0; round < 5; round++) {
        for (const std::string & line : lines) {
            std::vector<float> s;
            int32_t            rate = 0;
            ASSERT_TRUE(synthesize_speech(line, "en-us", 160, dir + "/line.wav"));
            ASSERT_TRUE(kelvo_asr::load_audio_file(dir + "/line.wav", s, rate));
            audio.insert(audio.end(), s.begin(), s.end());
            audio.insert(audio.end(), 8000 + 1600 * static_cast<size_t>(round), 0.0f);
        }
    }
    const kelvo_asr::voice_finding_settings settings;
    const auto                              stretches =
        kelvo_asr::find_voice_stretches(audio.data(), static_cast<int32_t>(audio.size()), 0, settings);
    ASSERT_FALSE(stretches.empty());
    std::map<int32_t, int32_t> speech;
    for (const auto & v : stretches) {
        speech[v.voice] += v.end - v.start;
    }
    for (const auto & [voice, samples] : speech) {
        EXPECT_GE(samples, settings.min_voice_frames * 160) << "voice " << voice;
    }
    EXPECT_EQ(speech.size(), 1u);
}

} // namespace
