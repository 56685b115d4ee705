// From the frames where the decoder placed each word of an alignment to times in seconds. Private to the
// engine (no decoder types here, so the tests can use it directly).

#pragma once

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// Where the decoder placed a word: frames `sf` to `ef`, both included.
struct placement {
    bool placed = false;
    int  sf     = 0;
    int  ef     = 0;
};

// Samples in one step of the energy track that word edges are adjusted on (5 ms).
constexpr int32_t energy_hop_samples = 80;

// Root mean square of each full 5 ms hop of the samples.
std::vector<double> hop_energies(const float * samples, int32_t n_samples);

// The same for 16-bit samples, scaled as `to_pcm16` scales them.
std::vector<double> hop_energies(const std::vector<int16_t> & pcm);

// Start and end of one word in seconds from the first sample.
struct word_times {
    float start = 0.0f;
    float end   = 0.0f;
};

// Times of every word from where the decoder placed it (`where`, one per word; silent words unplaced):
// frames to seconds at `frame_s`, in order and inside [0, `length_s`]; a word after a pause starts at its
// first sound and a word before one ends at its last, judged on `energy` (empty: no adjustment; starts on
// `onset_energy` where given, such as the cleaned signal's); a silent word sits at the boundary after the
// word before it (else before the word after it); runs of unplaced words get evenly spaced zero-length
// times between their placed neighbours.
std::vector<word_times> frames_to_times(const std::vector<placement> & where, const std::vector<bool> & silent,
                                        double frame_s, double length_s, const std::vector<double> & energy,
                                        const std::vector<double> & onset_energy = {});

} // namespace kelvo_asr
