#include "turn_level.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

double speech_rms_in_turns(const Pcm16 & audio, const std::string & turns) {
    std::ifstream turn_file(turns);
    double        sum = 0;
    size_t        n   = 0;
    for (std::string line; std::getline(turn_file, line);) {
        std::istringstream fields(line);
        double             start = 0, end = 0;
        if (!(fields >> start >> end)) {
            continue;
        }
        const auto from = static_cast<size_t>(std::max(0L, std::lround(start * audio.rate)));
        const auto to =
            std::min(audio.samples.size(), static_cast<size_t>(std::max(0L, std::lround(end * audio.rate))));
        for (size_t i = from; i < to; i++) {
            sum += static_cast<double>(audio.samples[i]) * audio.samples[i];
        }
        n += to > from ? to - from : 0;
    }
    return n == 0 ? -1.0 : std::sqrt(sum / static_cast<double>(n));
}
