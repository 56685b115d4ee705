#include "engine/kelvo_asr.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// A WAV file with the given format tag (1 PCM, 3 float, 0xFFFE extensible), sample width and raw data.
// `claimed_data` overrides the data chunk's size field when non-zero.
std::string make_wav(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const std::string & data,
                     uint32_t claimed_data = 0) {
    std::string extension;
    if (tag == 0xFFFE) {
        append_le(extension, 22, 2);
        append_le(extension, bits, 2);
        append_le(extension, channels == 1 ? 0x4 : 0x3, 4);
        // KSDATAFORMAT_SUBTYPE_PCM
        const unsigned char guid[16] = { 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 };
        extension.append(reinterpret_cast<const char *>(guid), 16);
    }
    const uint32_t claimed = claimed_data != 0 ? claimed_data : static_cast<uint32_t>(data.size());
    return wav_file_bytes(tag, channels, rate, bits, data, claimed, extension);
}

std::string pcm_bytes(const std::vector<double> & values, int bits) {
    std::string out;
    for (double v : values) {
        if (bits == 8) {
            append_le(out, static_cast<uint64_t>(std::lround(v * 127.0) + 128), 1);
        } else {
            int64_t scaled = std::llround(v * static_cast<double>((int64_t{ 1 } << (bits - 1)) - 1));
            append_le(out, static_cast<uint64_t>(scaled), bits / 8);
        }
    }
    return out;
}

std::string double_bytes(const std::vector<double> & values) {
    std::string out;
    for (double v : values) {
        uint64_t u = 0;
        std::memcpy(&u, &v, 8);
        append_le(out, u, 8);
    }
    return out;
}

struct wav_case {
    const char *       name;
    std::string        bytes;
    int32_t            rate;
    std::vector<float> expected;
    float              tolerance;
};

TEST(LoadAudioFile, ReadsEverySampleFormatAsMono) {
    const std::vector<double> v = { 0.5, -0.25, 0.0, 0.75 };
    const std::vector<float>  vf(v.begin(), v.end());
    std::vector<wav_case>     cases = {
            { "pcm8", make_wav(1, 1, 16000, 8, pcm_bytes(v, 8)), 16000, vf, 0.01f },
            { "pcm16", make_wav(1, 1, 16000, 16, pcm_bytes(v, 16)), 16000, vf, 1e-4f },
            { "pcm24", make_wav(1, 1, 16000, 24, pcm_bytes(v, 24)), 16000, vf, 1e-5f },
            { "pcm32", make_wav(1, 1, 16000, 32, pcm_bytes(v, 32)), 16000, vf, 1e-5f },
            { "double", make_wav(3, 1, 16000, 64, double_bytes(v)), 16000, vf, 1e-6f },
            { "extensible pcm16", make_wav(0xFFFE, 1, 16000, 16, pcm_bytes(v, 16)), 16000, vf, 1e-4f },
            { "stereo averaged",
              make_wav(1, 2, 16000, 16, pcm_bytes({ 0.5, 0.25, -0.5, 0.5, 1.0, -1.0 }, 16)),
              16000,
              { 0.375f, 0.0f, 0.0f },
              1e-4f },
            { "other rate kept", make_wav(1, 1, 44100, 16, pcm_bytes(v, 16)), 44100, vf, 1e-4f },
            { "8-bit data chunk claims over 2^31 frames", make_wav(1, 1, 16000, 8, pcm_bytes(v, 8), 0xFFFFFFF0u), 16000, vf,
              0.01f },
            { "data chunk claims more than it holds", make_wav(1, 1, 16000, 16, pcm_bytes(v, 16), 0x7FFFFFF0u), 16000, vf,
              1e-4f },
    };
    std::string dir = make_temp_dir();
    for (const wav_case & c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir + "/in.wav";
        ASSERT_TRUE(write_file(path, c.bytes));
        std::vector<float> samples;
        int32_t            rate = 0;
        ASSERT_TRUE(kelvo_asr::load_audio_file(path, samples, rate));
        EXPECT_EQ(rate, c.rate);
        ASSERT_EQ(samples.size(), c.expected.size());
        for (size_t i = 0; i < samples.size(); i++) {
            EXPECT_NEAR(samples[i], c.expected[i], c.tolerance) << "sample " << i;
        }
    }
}

TEST(LoadAudioFile, FloatValuesAreClampedAndNanIsZero) {
    std::string dir  = make_temp_dir();
    std::string path = dir + "/f.wav";
    const float inf  = std::numeric_limits<float>::infinity();
    ASSERT_TRUE(write_wav_float(path, { 0.5f, std::nanf(""), inf, -inf, 3.0f, -2.0f }, 16000));
    std::vector<float> samples;
    int32_t            rate = 0;
    ASSERT_TRUE(kelvo_asr::load_audio_file(path, samples, rate));
    const std::vector<float> expected = { 0.5f, 0.0f, 1.0f, -1.0f, 1.0f, -1.0f };
    EXPECT_EQ(samples, expected);
}

TEST(LoadAudioFile, StereoFloatWithNanAveragesTheOtherChannel) {
    std::string dir  = make_temp_dir();
    std::string path = dir + "/s.wav";
    ASSERT_TRUE(write_wav_float(path, { std::nanf(""), 0.5f, 0.25f, 0.75f }, 16000, 2));
    std::vector<float> samples;
    int32_t            rate = 0;
    ASSERT_TRUE(kelvo_asr::load_audio_file(path, samples, rate));
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_FLOAT_EQ(samples[0], 0.25f);
    EXPECT_FLOAT_EQ(samples[1], 0.5f);
}

TEST(LoadAudioFile, RejectsWhatIsNotAWavFile) {
    std::string dir = make_temp_dir();
    std::string random;
    for (int i = 0; i < 4096; i++) {
        random.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    }
    const struct {
        const char * name;
        std::string  bytes;
        bool         create;
    } cases[] = {
        { "missing", "", false },
        { "empty", "", true },
        { "random bytes", random, true },
        { "truncated header", make_wav(1, 1, 16000, 16, "").substr(0, 20), true },
        { "text", "RIFF is not enough\n", true },
    };
    for (const auto & c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir + "/" + c.name;
        if (c.create) {
            ASSERT_TRUE(write_file(path, c.bytes));
        }
        std::vector<float> samples;
        int32_t            rate = 0;
        EXPECT_FALSE(kelvo_asr::load_audio_file(path, samples, rate));
    }
    std::vector<float> samples;
    int32_t            rate = 0;
    EXPECT_FALSE(kelvo_asr::load_audio_file(dir, samples, rate)) << "a directory";
}

TEST(LoadAudioFile, RejectsAnotherContainerLibsndfileReads) {
    // A Sun/NeXT .snd file of 16-bit PCM: readable audio, but not a WAV.
    std::string au = ".snd";
    for (uint32_t field : { 24u, 8u, 3u, 16000u, 1u }) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            au.push_back(static_cast<char>((field >> shift) & 0xFF));
        }
    }
    au += std::string(8, '\x10');
    std::string dir  = make_temp_dir();
    std::string path = dir + "/a.au";
    ASSERT_TRUE(write_file(path, au));
    std::vector<float> samples;
    int32_t            rate = 0;
    EXPECT_FALSE(kelvo_asr::load_audio_file(path, samples, rate));
}

} // namespace
