// Reading and writing 16-bit mono PCM WAV files.
#include "wav_io.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

uint32_t le32(const unsigned char * p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t le16(const unsigned char * p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a RIFF WAVE file";
        return false;
    }
    bool   have_format = false;
    size_t pos         = 12;
    while (pos + 8 <= bytes.size()) {
        const unsigned char * chunk = bytes.data() + pos;
        const size_t          size  = std::min<size_t>(le32(chunk + 4), bytes.size() - pos - 8);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            const uint16_t format = le16(chunk + 8), channels = le16(chunk + 10), bits = le16(chunk + 22);
            // 0xfffe (extensible) carries PCM in its sub-format; the bit depth and channel count decide.
            if ((format != 1 && format != 0xfffe) || channels != 1 || bits != 16) {
                error = path + " is not 16-bit mono PCM";
                return false;
            }
            out.rate    = static_cast<int>(le32(chunk + 12));
            have_format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_format) {
                error = path + " has data before its format";
                return false;
            }
            out.samples.resize(size / 2);
            for (size_t i = 0; i < out.samples.size(); i++) {
                out.samples[i] = static_cast<int16_t>(le16(chunk + 8 + 2 * i));
            }
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    error = path + " has no data chunk";
    return false;
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
