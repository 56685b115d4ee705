// WAV reading through libsndfile: any sample format the library decodes, averaged to mono, clamped.

#include "engine/kelvo_asr.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>

namespace kelvo_asr {

namespace {

float clamp_sample(float v) {
    if (std::isnan(v)) {
        return 0.0f;
    }
    if (v > 1.0f) {
        return 1.0f;
    }
    if (v < -1.0f) {
        return -1.0f;
    }
    return v;
}

// Smallest size a sample of `format` can take in the file, in bytes.
double bytes_per_sample(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return 1.0;
    case SF_FORMAT_PCM_16:
        return 2.0;
    case SF_FORMAT_PCM_24:
        return 3.0;
    case SF_FORMAT_DOUBLE:
        return 8.0;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4.0;
    default:
        return 0.5; // compressed codecs (ADPCM, GSM)
    }
}

} // namespace

bool load_audio_file(const std::string & path, std::vector<float> & samples, int32_t & sample_rate) {
    // libsndfile opens a directory without complaint on some systems; only regular files are audio.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    SF_INFO   info{};
    SNDFILE * file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return false;
    }
    const int  major  = info.format & SF_FORMAT_TYPEMASK;
    const bool is_wav = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX;
    if (!is_wav || info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        return false;
    }
    // A recording too long for 32-bit sample positions is refused up front when the file is really that
    // big; a header that merely claims so is read, and the frames actually there are counted below.
    const double limit = static_cast<double>(std::numeric_limits<int32_t>::max());
    if (static_cast<double>(info.frames) > limit &&
        static_cast<double>(st.st_size) / (static_cast<double>(info.channels) * bytes_per_sample(info.format)) >
            limit) {
        sf_close(file);
        return false;
    }
    // PCM comes scaled to [-1, 1); float data comes through unchanged and is clamped below.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);

    const int          channels     = info.channels;
    const sf_count_t   block_frames = 16384;
    std::vector<float> block(static_cast<size_t>(block_frames) * static_cast<size_t>(channels));
    std::vector<float> out;
    const double       max_frames = static_cast<double>(std::numeric_limits<int32_t>::max());
    // The header's frame count is not trusted for allocation: a data chunk may claim far more than it holds.
    for (;;) {
        sf_count_t got = sf_readf_float(file, block.data(), block_frames);
        if (got <= 0) {
            break;
        }
        if (static_cast<double>(out.size()) + static_cast<double>(got) > max_frames) {
            sf_close(file);
            return false;
        }
        for (sf_count_t f = 0; f < got; f++) {
            double sum = 0.0;
            for (int c = 0; c < channels; c++) {
                float v = block[static_cast<size_t>(f) * static_cast<size_t>(channels) + static_cast<size_t>(c)];
                sum += clamp_sample(v);
            }
            out.push_back(clamp_sample(static_cast<float>(sum / channels)));
        }
    }
    sf_close(file);
    samples     = std::move(out);
    sample_rate = info.samplerate;
    return true;
}

} // namespace kelvo_asr
