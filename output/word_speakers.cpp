// Found voices on their way to the recogniser (per segment) and to the words (per word); the engine's rules
// match the voices to times.
#include "output/output.h"

#include <algorithm>
#include <cstdint>

std::vector<kelvo_asr::voice_stretch> voices_within(const std::vector<kelvo_asr::voice_stretch> & voices,
                                                    const Segment &                               segment) {
    return kelvo_asr::voices_within(voices, segment.start, segment.end);
}

void label_speakers(std::vector<TimedWord> & timed_words, const std::vector<kelvo_asr::voice_stretch> & voices,
                    int32_t rate) {
    if (voices.empty()) {
        return;
    }
    std::vector<int32_t> number;
    for (TimedWord & word : timed_words) {
        const int32_t voice = kelvo_asr::voice_at(voices, 0.5 * (word.start + word.end) * rate);
        const auto    at    = std::find(number.begin(), number.end(), voice);
        word.speaker        = static_cast<int32_t>(at - number.begin()) + 1;
        if (at == number.end()) {
            number.push_back(voice);
        }
    }
}
