// How a recording is adapted to, from the voices found in it.

#include "cli/cli.h"
#include "engine/kelvo_asr.h"

#include <algorithm>
#include <map>

namespace {

// Whether most changes of voice come without a pause between the two voices' stretches.
bool turns_without_pauses(const std::vector<kelvo_asr::voice_stretch> & voices) {
    size_t changes = 0;
    size_t quick   = 0;
    for (size_t k = 1; k < voices.size(); k++) {
        if (voices[k].voice != voices[k - 1].voice) {
            changes++;
            quick += voices[k].start - voices[k - 1].end < voice_plan_rule::min_turn_pause_samples ? 1 : 0;
        }
    }
    return 2 * quick > changes;
}

} // namespace

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
    // A voice with little speech is as likely a piece of another voice (one reader cut into many) or noise
    // taken for a voice as a voice of its own, and a lone voice's transform learned from as little lost to
    // not adapting at all.
    const bool doubtful = std::any_of(speech.begin(), speech.end(),
                                      [](const auto & v) { return v.second < voice_plan_rule::min_voice_samples; });
    if (speech.empty() || doubtful) {
        return VoicePlan::none;
    }
    if (speech.size() == 1) {
        return VoicePlan::as_one;
    }
    return VoicePlan::each_voice;
}

std::vector<int32_t> segment_cuts(const std::vector<kelvo_asr::voice_stretch> & voices) {
    // Where most turns follow each other without a pause, the found changes come a little early, inside the
    // last word of a turn: cut there, that word is lost on both sides, and the recogniser's pieces (each
    // decoded as the voice that speaks most of it) do better uncut.
    return kelvo_asr::voice_changes(voices, turns_without_pauses(voices) ? voice_plan_rule::min_turn_pause_samples : 0);
}
