// Found voices on their way to the recogniser (per segment) and to the words (per word).
#include "output/output.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

std::vector<kelvo_asr::voice_stretch> voices_within(const std::vector<kelvo_asr::voice_stretch> & voices,
                                                    const Segment &                               segment) {
    std::vector<kelvo_asr::voice_stretch> within;
    for (const kelvo_asr::voice_stretch & v : voices) {
        const int32_t start = std::max(v.start, segment.start);
        const int32_t end   = std::min(v.end, segment.end);
        if (start < end) {
            within.push_back({ start - segment.start, end - segment.start, v.voice });
        }
    }
    if (within.empty() && !voices.empty()) {
        // A segment no stretch meets is the nearest voice's, so that it is not learned as a voice of its own.
        const auto apart = [&](const kelvo_asr::voice_stretch & v) {
            return std::max(v.start - segment.end, segment.start - v.end);
        };
        const auto nearest = std::min_element(voices.begin(), voices.end(),
                                              [&](const auto & a, const auto & b) { return apart(a) < apart(b); });
        within.push_back({ 0, segment.end - segment.start, nearest->voice });
    }
    return within;
}

void label_speakers(std::vector<TimedWord> & timed_words, const std::vector<kelvo_asr::voice_stretch> & voices,
                    int32_t rate) {
    if (voices.empty()) {
        return;
    }
    std::vector<int32_t> number;
    for (TimedWord & word : timed_words) {
        const double middle = 0.5 * (word.start + word.end) * rate;
        // The stretch holding the middle, else the nearest one; of two as near, the earlier.
        int32_t voice    = voices.front().voice;
        double  distance = INFINITY;
        for (const kelvo_asr::voice_stretch & v : voices) {
            const double apart = std::max({ 0.0, v.start - middle, middle - v.end });
            if (apart < distance) {
                distance = apart;
                voice    = v.voice;
            }
        }
        const auto at = std::find(number.begin(), number.end(), voice);
        word.speaker  = static_cast<int32_t>(at - number.begin()) + 1;
        if (at == number.end()) {
            number.push_back(voice);
        }
    }
}
