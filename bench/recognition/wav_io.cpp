// Reading and writing 16-bit mono PCM WAV files.
#include "wav_io.h"

#include "engine/kelvo_asr.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace {

void put32(std::string & out, uint32_t v) {
    for (int i = 0; i < 4; i++) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
}

void put16(std::string & out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

} // namespace

bool read_pcm16(const std::string & path, Pcm16 & out, std::string & error) {
    std::vector<float> samples;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(path, samples, rate)) {
        error = "cannot read " + path + " as a WAV file";
        return false;
    }
    out.rate = rate;
    out.samples.resize(samples.size());
    // The reader scales 16-bit samples by 1/32768, so this gives back the file's values exactly.
    for (size_t i = 0; i < samples.size(); i++) {
        out.samples[i] = static_cast<int16_t>(std::clamp(std::lrint(samples[i] * 32768.0f), -32768L, 32767L));
    }
    return true;
}

bool write_pcm16(const std::string & path, const Pcm16 & audio) {
    const auto  data_bytes = static_cast<uint32_t>(audio.samples.size() * 2);
    std::string out        = "RIFF";
    put32(out, 36 + data_bytes);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, static_cast<uint32_t>(audio.rate));
    put32(out, static_cast<uint32_t>(audio.rate) * 2);
    put16(out, 2);
    put16(out, 16);
    out += "data";
    put32(out, data_bytes);
    out.reserve(out.size() + data_bytes);
    for (const int16_t s : audio.samples) {
        put16(out, static_cast<uint16_t>(s));
    }
    std::ofstream file(path, std::ios::binary);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file);
}
