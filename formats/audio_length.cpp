#include "formats/formats.h"

#include <sndfile.h>

std::optional<double> audio_length(const std::string & path) {
    SF_INFO   info{};
    SNDFILE * file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return std::nullopt;
    }
    sf_close(file);
    if (info.samplerate <= 0 || info.frames < 0) {
        return std::nullopt;
    }
    return static_cast<double>(info.frames) / static_cast<double>(info.samplerate);
}
