// The folder engine/speakers/: who spoke when, found from the audio alone: cepstra of every frame, full
// covariance Gaussians of stretches of them, change points, clustering and a smoothed resegmentation.
//
// Cepstra for telling voices apart: c1..c19 of a mel filterbank, one vector per 10 ms frame, computed from
// the samples when a pass asks for them and kept only for a window of recent frames, so that memory does not
// grow with the recording; read back projected onto the directions that carry the voice rather than what is
// said. Private to the engine.

#pragma once

#include <complex>
#include <cstdint>
#include <limits>
#include <vector>

namespace kelvo_asr {

// The cepstra stored per frame (c1..c19; c0, the loudness, says little about the voice).
constexpr int32_t n_stored_cepstra = 19;

// The values read per frame: the stored cepstra on the first rows of voice_projection. The rows dropped are
// the directions along which one voice moves most with what it says, which split a voice by its sentences.
constexpr int32_t n_voice_cepstra = 11;

// Directions of the stored cepstra, the most voice-like first, learnt offline from many voices
// (bench/speakers/train_projection.sh generates voice_projection.cpp).
extern const float voice_projection[n_stored_cepstra][n_stored_cepstra];

// Steps of a cepstrum per unit: stored cepstra, and the projected values read back, are multiples of
// 1 / cepstrum_steps.
constexpr float cepstrum_steps = 512.0f;

// Samples per 10 ms frame.
constexpr int32_t voice_frame_samples = 160;

// Frames cached at once: blocks of consecutive frames, each held in the slot its number picks.
constexpr int32_t cepstra_block_frames = 256;
constexpr int32_t cepstra_cache_blocks = 1024;

// The filterbank, window, twiddles and DCT a cepstrum needs, made once per recording.
struct cepstrum_tables {
    std::vector<double>               window;       // Hamming, over the 25 ms window
    std::vector<std::complex<double>> twiddle;      // FFT twiddles
    std::vector<double>               filter;       // [filter][bin] weights over bins 0 .. fft_size / 2
    std::vector<int32_t>              filter_first; // each filter's first and last bins with a weight above 0
    std::vector<int32_t>              filter_last;
    std::vector<double>               dct;   // [cepstrum][filter]
    std::vector<double>               noise; // per filter, added to every frame's energy; empty: nothing
};

// The cepstra of a recording, computed on demand: `samples` must outlive it. The cache is mutable because
// computing a frame again gives the same values; only the cost changes.
struct voice_cepstra {
    const float *   samples   = nullptr;
    int32_t         n_samples = 0;
    int32_t         n_frames  = 0;
    cepstrum_tables tables;
    // Slot b % cepstra_cache_blocks holds block b; each slot's rows are allocated when first used.
    mutable std::vector<std::vector<int16_t>> rows;
    mutable std::vector<int32_t>              block_in_slot;
};

// The number of 10 ms frames of `n_samples` samples: a last partial frame counts (n_samples up to INT32_MAX).
int32_t voice_frame_count(int32_t n_samples);

// The cepstra of `n_samples` samples at 16 kHz (NaN and infinities read as 0), ready to be asked for: frame
// f is the 25 ms window starting at sample 160 f. Frames at or below `noise_db` (dB of full scale) are taken
// for steady noise: each filter's mean energy over them is added to every frame's, so that the noise's own
// flicker no longer moves the cepstra of the bands it drowns (none when no frame is that quiet).
voice_cepstra compute_voice_cepstra(const float * samples, int32_t n_samples,
                                    double noise_db = -std::numeric_limits<double>::infinity());

// The level of frame `f` of `samples` (its up to 160 samples, NaN and infinities read as 0) in dB of full
// scale.
float frame_level_db(const float * samples, int32_t n_samples, int32_t f);

// Frame `f` of `c` as stored (n_stored_cepstra values, before the projection) into `out`, computed with its
// block when not cached.
void frame_stored_cepstra(const voice_cepstra & c, int32_t f, float * out);

// Frame `f` of `c` projected onto the first n_voice_cepstra rows of voice_projection (rounded to the
// stored step) into `out`, computed with its block when not cached.
void frame_cepstra(const voice_cepstra & c, int32_t f, float * out);

} // namespace kelvo_asr
