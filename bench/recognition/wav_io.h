// Reading and writing 16-bit mono PCM WAV files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Pcm16 {
    int                  rate = 0;
    std::vector<int16_t> samples;
};

// Reads a WAV file with the tool's reader (mono, samples as 16-bit values); false, with a message in error,
// when it cannot be read.
bool read_pcm16(const std::string & path, Pcm16 & out, std::string & error);

// Writes a canonical 44-byte-header WAV file; false if it cannot be written.
bool write_pcm16(const std::string & path, const Pcm16 & audio);
