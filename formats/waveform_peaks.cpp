#include "formats/formats.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

std::optional<PageAudio> waveform_peaks(const std::string & path, size_t count) {
    SF_INFO   info{};
    SNDFILE * file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return std::nullopt;
    }
    if (info.samplerate <= 0 || info.frames < 0 || info.channels <= 0) {
        sf_close(file);
        return std::nullopt;
    }
    PageAudio audio;
    audio.length          = static_cast<double>(info.frames) / static_cast<double>(info.samplerate);
    const auto   frames   = static_cast<uint64_t>(info.frames);
    const size_t channels = static_cast<size_t>(info.channels);
    audio.peaks.assign(static_cast<size_t>(std::min<uint64_t>(count, frames)), 0.0f);

    // Frame f falls in stretch f * peaks / frames, so the stretches differ by at most one frame in length.
    constexpr sf_count_t block = 4096;
    std::vector<float>   samples(static_cast<size_t>(block) * channels);
    uint64_t             done = 0;
    while (done < frames && !audio.peaks.empty()) {
        const sf_count_t got = sf_readf_float(file, samples.data(), block);
        if (got <= 0) {
            break;
        }
        for (size_t f = 0; f < static_cast<size_t>(got); f++) {
            float & peak = audio.peaks[static_cast<size_t>((done + f) * audio.peaks.size() / frames)];
            for (size_t c = 0; c < channels; c++) {
                peak = std::max(peak, std::min(1.0f, std::fabs(samples[f * channels + c])));
            }
        }
        done += static_cast<uint64_t>(got);
    }
    sf_close(file);
    return audio;
}
