// The acoustic model's Gaussians and the mixture weights of its context-independent states, read from
// the model folder's files, for scoring features outside the decoder. Private to the engine.

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvo_asr {

// Codebooks of Gaussians split into streams, and the context-independent phones whose states weight them.
struct gaussian_model {
    size_t                   n_codebooks = 0;
    size_t                   n_density   = 0;   // Gaussians per codebook and stream
    std::vector<size_t>      stream_len;        // values of each stream of a feature vector, in order
    std::vector<size_t>      stream_offset;     // first value of each stream in a feature vector
    size_t                   feature_len = 0;   // sum of stream_len
    std::vector<float>       means;             // [codebook][stream][density][value], streams packed
    std::vector<float>       variances;         // the same layout, floored as the decoder floors them
    std::vector<float>       inverse_variances; // 1 / variances
    std::vector<float>       log_norms;         // [codebook][stream][density]: log of each Gaussian's constant
    std::vector<std::string> phones;            // context-independent phone names; a phone's index is its number
    size_t                   states_per_phone = 0;
    std::vector<float>       log_weights;    // [phone * states_per_phone + state][stream][density], natural log
    std::vector<size_t>      phone_codebook; // the codebook each phone's states use
};

// The index of value 0 of (codebook, stream, density) in `means` and `variances`.
size_t gaussian_offset(const gaussian_model & model, size_t codebook, size_t stream, size_t density);

// Reads `mdef`, `means`, `variances` and `sendump` from the acoustic model `folder`, flooring variances at
// `variance_floor`. Returns false with `error` set when a file is missing, of another kind (a text model
// definition, uncompressed mixture weights) or inconsistent with the others.
bool read_gaussian_model(const std::string & folder, float variance_floor, gaussian_model & model, std::string & error);

} // namespace kelvo_asr
