// Readers for the binary model definition's phone list, the Gaussian parameter files and the compressed
// mixture weights.

#include "engine/adaptation/gaussian_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>

namespace kelvo_asr {

namespace {

// A whole file's bytes, read up to `limit`; false when it cannot be read or is larger.
bool read_bytes(const std::string & path, std::vector<char> & bytes, size_t limit = 256u << 20) {
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

// Reads little- or big-endian 32-bit values from a byte buffer, failing softly at its end.
struct byte_reader {
    const std::vector<char> & bytes;
    size_t                    pos  = 0;
    bool                      swap = false;
    bool                      ok   = true;

    uint32_t u32() {
        if (pos + 4 > bytes.size()) {
            ok = false;
            return 0;
        }
        uint32_t v = 0;
        std::memcpy(&v, bytes.data() + pos, 4);
        pos += 4;
        return swap ? __builtin_bswap32(v) : v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    float   f32() {
          const uint32_t u = u32();
          float          f = 0;
          std::memcpy(&f, &u, 4);
          return f;
    }
};

// A Gaussian parameter file: text header up to "endhdr\n", a byte-order mark, the sizes, then the values.
bool read_parameter_file(const std::string & path, size_t & n_codebooks, size_t & n_density,
                         std::vector<size_t> & stream_len, std::vector<float> & values) {
    std::vector<char> bytes;
    if (!read_bytes(path, bytes)) {
        return false;
    }
    static const char end_mark[] = "endhdr\n";
    const auto        at         = std::search(bytes.begin(), bytes.end(), end_mark, end_mark + 7);
    if (bytes.size() < 3 || std::memcmp(bytes.data(), "s3\n", 3) != 0 || at == bytes.end()) {
        return false;
    }
    byte_reader    r{ bytes, static_cast<size_t>(at - bytes.begin()) + 7 };
    const uint32_t magic = r.u32();
    if (magic != 0x11223344u) {
        if (__builtin_bswap32(magic) != 0x11223344u) {
            return false;
        }
        r.swap = true;
    }
    const int32_t n_cb = r.i32();
    const int32_t n_st = r.i32();
    const int32_t n_d  = r.i32();
    if (!r.ok || n_cb < 1 || n_st < 1 || n_st > 8 || n_d < 1 || n_cb > 100000 || n_d > 100000) {
        return false;
    }
    stream_len.clear();
    size_t len = 0;
    for (int32_t s = 0; s < n_st; s++) {
        const int32_t l = r.i32();
        if (l < 1 || l > 1000) {
            return false;
        }
        stream_len.push_back(static_cast<size_t>(l));
        len += static_cast<size_t>(l);
    }
    const size_t total = static_cast<size_t>(n_cb) * static_cast<size_t>(n_d) * len;
    if (!r.ok || static_cast<size_t>(r.i32()) != total || r.pos + total * 4 > bytes.size()) {
        return false;
    }
    values.resize(total);
    for (float & v : values) {
        v = r.f32();
    }
    n_codebooks = static_cast<size_t>(n_cb);
    n_density   = static_cast<size_t>(n_d);
    return r.ok;
}

// The binary model definition's counts and context-independent phone names.
bool read_phone_names(const std::string & path, std::vector<std::string> & names, size_t & states_per_phone,
                      size_t & n_senones) {
    std::vector<char> bytes;
    if (!read_bytes(path, bytes) || bytes.size() < 12 || std::memcmp(bytes.data(), "BMDF", 4) != 0) {
        return false;
    }
    byte_reader r{ bytes, 4 };
    if (r.u32() != 1u) {
        r.pos  = 4;
        r.swap = true;
        if (r.u32() != 1u) {
            return false;
        }
    }
    const uint32_t header_len = r.u32();
    r.pos += header_len;
    const int32_t n_ci = r.i32();
    r.i32(); // all phones
    const int32_t n_emit   = r.i32();
    const int32_t n_ci_sen = r.i32();
    const int32_t n_sen    = r.i32();
    r.pos += 5 * 4; // matrices, sequences, context, tree size, silence
    if (!r.ok || n_ci < 1 || n_ci > 1000 || n_emit < 1 || n_emit > 10 || n_ci_sen != n_ci * n_emit ||
        n_sen < n_ci_sen) {
        return false;
    }
    names.clear();
    for (int32_t p = 0; p < n_ci; p++) {
        const auto end = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(r.pos), bytes.end(), '\0');
        if (end == bytes.end()) {
            return false;
        }
        names.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(r.pos), end);
        r.pos = static_cast<size_t>(end - bytes.begin()) + 1;
    }
    states_per_phone = static_cast<size_t>(n_emit);
    n_senones        = static_cast<size_t>(n_sen);
    return true;
}

// The compressed mixture weights of the first `n_keep` states: one byte per (stream, density, state), the
// weight's negative log in units of 1024 steps of a 1.0001 base.
bool read_sendump(const std::string & path, size_t n_streams, size_t n_density, size_t n_senones, size_t n_keep,
                  std::vector<float> & log_weights) {
    std::vector<char> bytes;
    if (!read_bytes(path, bytes)) {
        return false;
    }
    byte_reader r{ bytes, 0 };
    uint32_t    len = r.u32();
    if (len < 1 || len > 999) {
        r.pos  = 0;
        r.swap = true;
        len    = r.u32();
        if (len < 1 || len > 999) {
            return false;
        }
    }
    r.pos += len;
    int32_t clusters = 0;
    for (;;) {
        len = r.u32();
        if (!r.ok || len == 0) {
            break;
        }
        if (len > 999 || r.pos + len > bytes.size()) {
            return false;
        }
        const std::string line(bytes.data() + r.pos, len);
        if (line.rfind("cluster_count ", 0) == 0) {
            clusters = std::atoi(line.c_str() + 14);
        }
        r.pos += len;
    }
    if (clusters != 0) {
        return false; // four-bit clustered weights are not read here
    }
    const int32_t rows = r.i32();
    const int32_t cols = r.i32();
    if (!r.ok || static_cast<size_t>(rows) != n_density || cols < 0 || static_cast<size_t>(cols) < n_senones ||
        r.pos + n_streams * n_density * static_cast<size_t>(cols) > bytes.size()) {
        return false;
    }
    const double unit = 1024.0 * std::log(1.0001);
    log_weights.assign(n_keep * n_streams * n_density, 0.0f);
    for (size_t f = 0; f < n_streams; f++) {
        for (size_t d = 0; d < n_density; d++) {
            const auto * row = reinterpret_cast<const unsigned char *>(bytes.data() + r.pos +
                                                                       (f * n_density + d) * static_cast<size_t>(cols));
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
    model                         = {};
    size_t              n_senones = 0;
    size_t              var_cb    = 0;
    size_t              var_d     = 0;
    std::vector<size_t> var_len;
    if (!read_phone_names(folder + "/mdef", model.phones, model.states_per_phone, n_senones)) {
        error = "the binary model definition " + folder + "/mdef could not be read";
        return false;
    }
    if (!read_parameter_file(folder + "/means", model.n_codebooks, model.n_density, model.stream_len, model.means) ||
        !read_parameter_file(folder + "/variances", var_cb, var_d, var_len, model.variances) ||
        var_cb != model.n_codebooks || var_d != model.n_density || var_len != model.stream_len) {
        error = "the Gaussians in " + folder + " could not be read";
        return false;
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
    if (!read_sendump(folder + "/sendump", model.stream_len.size(), model.n_density, n_senones,
                      n_phones * model.states_per_phone, model.log_weights)) {
        error = "the mixture weights " + folder + "/sendump could not be read";
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
