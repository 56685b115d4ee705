// Recordings and reference texts of the test data, shared by the engine tests.

#pragma once

#include "engine/kelvo_asr.h"
#include "test_support.h"

#include <string>
#include <vector>

struct reference_clip {
    std::string        id;
    std::string        text; // reference words, lower case, single spaces
    std::vector<float> samples;
};

// Reads the LibriVox clips of the test data with their reference transcriptions; empty when missing.
inline std::vector<reference_clip> load_reference_clips() {
    std::vector<reference_clip> clips;
    for (const ReferenceText & t : read_reference_texts()) {
        reference_clip c;
        c.id         = t.id;
        c.text       = t.text;
        int32_t rate = 0;
        if (kelvo_asr::load_audio_file(testdata_dir() + "/librivox/" + c.id + ".wav", c.samples, rate) &&
            rate == 16000) {
            clips.push_back(c);
        }
    }
    return clips;
}

inline std::vector<std::string> split_on_spaces(const std::string & text) {
    std::vector<std::string> out;
    std::string              cur;
    for (char ch : text + " ") {
        if (ch == ' ') {
            if (!cur.empty()) {
                out.push_back(cur);
            }
            cur.clear();
        } else {
            cur += ch;
        }
    }
    return out;
}
