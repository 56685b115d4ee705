// Synthesised speech with known word times, for the benchmarks: the speech synthesiser speaks a
// passage, its word events give where each word starts, and the audio's energy gives where it ends.
//
// Truth: a word starts where the synthesiser's word event puts it. It ends where the next word starts
// (the end of the speech for the last word; unknown when the next word has no event of its own) less the
// silence before that point, found by energy in 5 ms
// frames below 1 % of the passage's loudest frame. Where the word event comes before the sound, the start
// moves on to the first frame above that level.

#pragma once

#include <string>
#include <vector>

constexpr int    speech_rate  = 16000;
constexpr double speech_pad_s = 0.3;  // silence before and after each passage, as in a real segment
constexpr double pause_gap_s  = 0.15; // a word more than this after the previous word's end follows a pause

struct voice_setting {
    const char * name;
    int          words_per_minute;
};

struct true_word {
    std::string key; // the match key the aligner receives
    double      start       = -1.0;
    double      end         = -1.0;
    bool        end_known   = true; // false when the next word has no event of its own
    bool        after_pause = false;
};

struct passage_audio {
    std::vector<float>     samples;
    std::vector<true_word> words;
    std::string            text; // keys joined by spaces
    std::string            voice;
};

// Starts the speech synthesiser with its synchronous output. Returns its sample rate, or 0 on failure.
int speech_synthesiser_start();

// Speaks `passage` (ASCII, words separated by spaces) with voice `v`; fills `out` with 16 kHz samples
// padded by `speech_pad_s` of silence on both sides, and one true_word per token with a match key.
// Tokens without a word event keep start -1. Returns false when the synthesiser fails.
bool synthesize(const std::string & passage, const voice_setting & v, int espeak_rate, passage_audio & out);

// RMS of consecutive 5 ms frames of 16 kHz samples.
std::vector<double> frame_energy(const std::vector<float> & s);
