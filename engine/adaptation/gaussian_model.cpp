// The Gaussians and the base phones' mixture weights, read through the model files' checks: the checks
// parse each format and say where its values lie, and only the values are read here.

#include "engine/adaptation/gaussian_model.h"

#include "engine/model_files/model_files_check.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

namespace kelvo_asr {

namespace {

// A whole file's bytes, read up to `limit`; false when it cannot be read or is larger.
bool read_bytes(const std::string & path, std::string & bytes, size_t limit = 256u << 20) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > limit) {
        return false;
    }
    in.seekg(0);
    bytes.resize(static_cast<size_t>(size));
    return static_cast<bool>(in.read(bytes.data(), size));
}

// The 32-bit value at `at` of a checked file, in the file's byte order.
uint32_t value_at(const std::string & bytes, size_t at, bool swap) {
    uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return swap ? __builtin_bswap32(v) : v;
}

// The means or variances at `path`, read through their check; empty with `problem` set when they cannot be.
bool read_parameter_file(const std::string & path, gaussian_shape & shape, std::vector<float> & values,
                         std::string & problem) {
    std::string bytes;
    if (!read_bytes(path, bytes)) {
        problem = "it cannot be read";
        return false;
    }
    problem = check_gaussians(bytes, shape);
    if (!problem.empty()) {
        return false;
    }
    values.resize(static_cast<size_t>(shape.n_codebook) * static_cast<size_t>(shape.n_density) *
                  static_cast<size_t>(shape.vector_sum));
    for (size_t i = 0; i < values.size(); i++) {
        const uint32_t u = value_at(bytes, shape.values_at + 4 * i, shape.swap);
        std::memcpy(&values[i], &u, 4);
    }
    return true;
}

// The compressed mixture weights of the first `n_keep` states: one byte per (stream, density, state), the
// weight's negative log in units of 1024 steps of a 1.0001 base.
bool read_sendump(const std::string & path, const model_counts & counts, const gaussian_shape & shape, size_t n_keep,
                  std::vector<float> & log_weights, std::string & problem) {
    std::string bytes;
    if (!read_bytes(path, bytes)) {
        problem = "it cannot be read";
        return false;
    }
    senone_dump_layout layout;
    problem = check_senone_dump(bytes, counts, shape, layout);
    if (!problem.empty()) {
        return false;
    }
    if (layout.n_cluster != 0 || layout.n_bits != 8) {
        problem = "its weights are clustered, which is not read here";
        return false;
    }
    const auto   n_streams = static_cast<size_t>(shape.n_feature);
    const auto   n_density = static_cast<size_t>(shape.n_density);
    const auto   cols      = static_cast<size_t>(layout.columns);
    const double unit      = 1024.0 * std::log(1.0001);
    log_weights.assign(n_keep * n_streams * n_density, 0.0f);
    for (size_t f = 0; f < n_streams; f++) {
        for (size_t d = 0; d < n_density; d++) {
            const auto * row =
                reinterpret_cast<const unsigned char *>(bytes.data() + layout.data_at + (f * n_density + d) * cols);
            for (size_t s = 0; s < n_keep; s++) {
                log_weights[(s * n_streams + f) * n_density + d] = static_cast<float>(-unit * row[s]);
            }
        }
    }
    return true;
}

} // namespace

size_t gaussian_offset(const gaussian_model & model, size_t codebook, size_t stream, size_t density) {
    return (codebook * model.n_density) * model.feature_len + model.stream_offset[stream] * model.n_density +
           density * model.stream_len[stream];
}

bool read_gaussian_model(const std::string & folder, float variance_floor, gaussian_model & model,
                         std::string & error) {
    model = {};
    std::string  problem;
    std::string  bytes;
    model_counts counts;
    if (!read_bytes(folder + "/mdef", bytes)) {
        problem = "it cannot be read";
    } else {
        problem = check_model_definition(bytes, counts);
    }
    // Every base phone's states come first among the senones, in order.
    if (problem.empty() && counts.n_ci_sen != counts.n_ciphone * counts.n_emit_state) {
        problem = "its base phones' senones are not one per state";
    }
    if (!problem.empty()) {
        error = "the binary model definition " + folder + "/mdef could not be read: " + problem;
        return false;
    }
    model.phones           = counts.phone_names;
    model.states_per_phone = static_cast<size_t>(counts.n_emit_state);
    gaussian_shape means;
    gaussian_shape variances;
    if (!read_parameter_file(folder + "/means", means, model.means, problem) ||
        !read_parameter_file(folder + "/variances", variances, model.variances, problem)) {
        error = "the Gaussians in " + folder + " could not be read: " + problem;
        return false;
    }
    if (variances.n_codebook != means.n_codebook || variances.n_density != means.n_density ||
        variances.stream_lengths != means.stream_lengths) {
        error = "the Gaussians in " + folder + " could not be read: the variances' dimensions differ from the means'";
        return false;
    }
    model.n_codebooks = static_cast<size_t>(means.n_codebook);
    model.n_density   = static_cast<size_t>(means.n_density);
    for (const int32_t l : means.stream_lengths) {
        model.stream_len.push_back(static_cast<size_t>(l));
    }
    const size_t n_phones = model.phones.size();
    // Phonetically tied (a codebook per phone) or semi-continuous (one for all).
    if (model.n_codebooks != n_phones && model.n_codebooks != 1) {
        error = "the codebooks in " + folder + " do not match its phones";
        return false;
    }
    for (size_t p = 0; p < n_phones; p++) {
        model.phone_codebook.push_back(model.n_codebooks == 1 ? 0 : p);
    }
    size_t offset = 0;
    for (const size_t l : model.stream_len) {
        model.stream_offset.push_back(offset);
        offset += l;
    }
    model.feature_len = offset;
    if (!read_sendump(folder + "/sendump", counts, means, n_phones * model.states_per_phone, model.log_weights,
                      problem)) {
        error = "the mixture weights " + folder + "/sendump could not be read: " + problem;
        return false;
    }
    model.inverse_variances.resize(model.variances.size());
    for (size_t i = 0; i < model.variances.size(); i++) {
        float & v = model.variances[i];
        if (!(v >= variance_floor)) {
            v = variance_floor;
        }
        model.inverse_variances[i] = 1.0f / v;
    }
    const size_t n_streams = model.stream_len.size();
    model.log_norms.assign(model.n_codebooks * n_streams * model.n_density, 0.0f);
    for (size_t cb = 0; cb < model.n_codebooks; cb++) {
        for (size_t f = 0; f < n_streams; f++) {
            for (size_t d = 0; d < model.n_density; d++) {
                const float * var = model.variances.data() + gaussian_offset(model, cb, f, d);
                double        sum = 0;
                for (size_t j = 0; j < model.stream_len[f]; j++) {
                    sum += std::log(2.0 * std::numbers::pi * var[j]);
                }
                model.log_norms[(cb * n_streams + f) * model.n_density + d] = static_cast<float>(-0.5 * sum);
            }
        }
    }
    return true;
}

} // namespace kelvo_asr
