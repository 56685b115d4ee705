// Mixes a noise recording under a speech recording at a given signal-to-noise ratio:
//
//   noise_mix IN TURNS NOISE SNR_DB OFFSET_S OUT
//
// The speech level is the RMS of the samples inside TURNS' turns (`start end who` lines); NOISE, read from
// OFFSET_S seconds on and looped when shorter, is scaled to SNR_DB under it and added. Prints both levels.

#include "../recognition/turn_level.h"
#include "../recognition/wav_io.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char ** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: noise_mix IN TURNS NOISE SNR_DB OFFSET_S OUT\n");
        return 2;
    }
    Pcm16       speech, noise;
    std::string error;
    if (!read_pcm16(argv[1], speech, error) || !read_pcm16(argv[3], noise, error) || noise.samples.empty()) {
        std::fprintf(stderr, "%s\n", error.empty() ? "empty noise" : error.c_str());
        return 1;
    }
    const double speech_rms = speech_rms_in_turns(speech, argv[2]);
    double       noise_sum  = 0;
    for (const int16_t s : noise.samples) {
        noise_sum += static_cast<double>(s) * s;
    }
    if (speech_rms < 0 || noise_sum == 0) {
        std::fprintf(stderr, "no speech or silent noise\n");
        return 1;
    }
    const double noise_rms = std::sqrt(noise_sum / static_cast<double>(noise.samples.size()));
    const double gain      = speech_rms * std::pow(10.0, -std::atof(argv[4]) / 20) / noise_rms;
    size_t       at        = static_cast<size_t>(std::atof(argv[5]) * noise.rate) % noise.samples.size();
    for (auto & s : speech.samples) {
        const long v = std::lround(static_cast<double>(s) + gain * noise.samples[at]);
        s            = static_cast<int16_t>(std::clamp(v, -32768L, 32767L));
        at           = (at + 1) % noise.samples.size();
    }
    if (!write_pcm16(argv[6], speech)) {
        std::fprintf(stderr, "cannot write %s\n", argv[6]);
        return 1;
    }
    std::printf("speech_rms=%.1f noise_rms=%.1f\n", speech_rms, gain * noise_rms);
    return 0;
}
