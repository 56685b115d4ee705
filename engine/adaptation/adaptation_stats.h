// Statistics for adapting the Gaussians' means: the recognised words' frames aligned to the states of
// their phones, and each frame's Gaussian posteriors summed per Gaussian. No decoder types here.
// Private to the engine.

#pragma once

#include "engine/adaptation/gaussian_model.h"
#include "engine/adaptation/mllr_solve.h"

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// Occupancy and occupancy-weighted feature sums of every Gaussian.
struct gaussian_stats {
    std::vector<double> count;      // [codebook][stream][density]
    std::vector<double> sum;        // the layout of gaussian_model::means
    int64_t             frames = 0; // frames of the words aligned
};

// All-zero statistics for `model`.
gaussian_stats empty_gaussian_stats(const gaussian_model & model);

// Adds `more` to `into` (both for the same model); an `into` never filled takes `more` as it is.
void add_stats(gaussian_stats & into, const gaussian_stats & more);

// A recognised word: its phones (indices into gaussian_model::phones) and its frames first ... last.
struct word_span {
    std::vector<size_t> phones;
    int32_t             first = 0;
    int32_t             last  = 0;
};

// Aligns each word's frames to the states of its phones (each state at least one frame, in order) and
// adds every frame's Gaussian posteriors under its state to `stats`. `features` holds `n_frames` vectors
// of model.feature_len values. Words outside the frames or shorter than their states are skipped.
void accumulate_words(const gaussian_model & model, const float * features, int32_t n_frames,
                      const std::vector<word_span> & words, gaussian_stats & stats);

// A decoded piece as adaptation sees it: its feature vectors and its recognised words, kept so that its
// statistics can be gathered again under another transform.
struct piece_evidence {
    std::vector<float>     features; // n_frames vectors of gaussian_model::feature_len values
    int32_t                n_frames = 0;
    std::vector<word_span> words;
};

// The statistics of `pieces`, in order, with the posteriors taken under `scoring` (the model itself, or
// the model with a transform applied), the sums kept in the model's own layout.
gaussian_stats evidence_stats(const gaussian_model & scoring, const std::vector<piece_evidence> & pieces);

// The log-likelihood of the piece's words under `model`, each word along its best path through its
// phones' states (mixtures summed); `frames` grows by the frames scored. Words that cannot be aligned are
// left out, as accumulate_words leaves them.
double words_log_likelihood(const gaussian_model & model, const piece_evidence & piece, int64_t & frames);

// The per-stream statistics of the mean transform shared by every Gaussian.
std::vector<mllr_stream_stats> transform_stats(const gaussian_model & model, const gaussian_stats & stats);

// `model` with every mean moved by the stream's transform in `transforms`.
gaussian_model transformed_model(const gaussian_model & model, const std::vector<mllr_stream_transform> & transforms);

} // namespace kelvo_asr
