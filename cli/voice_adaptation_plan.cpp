// How a recording is adapted to, from the voices found in it.

#include "cli/cli.h"
#include "engine/kelvo_asr.h"

#include <algorithm>
#include <map>

VoicePlan plan_voice_adaptation(const std::vector<kelvo_asr::voice_stretch> & voices,
                                const kelvo_asr::noise_levels &               background) {
    // Over other voices the words a transform is learned from are too often wrong, and it moves the means
    // away from the voice, however many voices are found. Steady noise of the same level does not vary in
    // its quiet frames, and adapting gains there.
    if (background.floor_spread_db >= voice_plan_rule::babble_floor_spread &&
        background.speech_over_floor_db < voice_plan_rule::babble_speech_over_floor) {
        return VoicePlan::none;
    }
    std::map<int32_t, int64_t> speech; // samples per voice
    for (const kelvo_asr::voice_stretch & v : voices) {
        speech[v.voice] += v.end - v.start;
    }
    if (speech.size() < 2) {
        return VoicePlan::as_one;
    }
    // A found voice with little speech is as likely a piece of another voice (one reader cut into many) or
    // noise taken for a voice as a voice of its own; adapting on such voices lost to not adapting at all.
    const bool doubtful = std::any_of(speech.begin(), speech.end(),
                                      [](const auto & v) { return v.second < voice_plan_rule::min_voice_samples; });
    return doubtful ? VoicePlan::none : VoicePlan::each_voice;
}
