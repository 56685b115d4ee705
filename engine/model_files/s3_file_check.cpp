// Checks of the acoustic model files in the library's "s3" binary format: a text header ending in "endhdr",
// a byte-order mark, counts, the values they announce and, when the header says "chksum0", a checksum of
// counts and values. The library ends the process when the checksum or a count does not fit.

#include "engine/model_files/model_files_check.h"

#include <cstdint>
#include <cstring>

namespace kelvo_asr {

namespace {

constexpr size_t   longest_header      = size_t{ 64 } * 1024;
constexpr size_t   longest_header_line = 4000; // the library reads each header word into a 4096-byte buffer
constexpr int      most_header_values  = 32;
constexpr uint32_t byte_order_mark     = 0x11223344;

uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The first word of `line` from `from`, as sscanf("%s") finds it; empty when there is none.
std::string_view word_at(std::string_view line, size_t & from) {
    while (from < line.size() && is_space(line[from])) {
        from++;
    }
    const size_t start = from;
    while (from < line.size() && !is_space(line[from]) && line[from] != '\0') {
        from++;
    }
    return line.substr(start, from - start);
}

} // namespace

bool model_reader::int32(int32_t & value) {
    if (bytes.size() - at < 4) {
        return false;
    }
    uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    at += 4;
    if (swap) {
        v = swap32(v);
    }
    checksum = (checksum << 20 | checksum >> 12) + v;
    std::memcpy(&value, &v, 4);
    return true;
}

bool model_reader::skip_values(int64_t count) {
    if (count < 0 || static_cast<uint64_t>(count) > (bytes.size() - at) / 4) {
        return false;
    }
    for (int64_t i = 0; i < count; i++) {
        int32_t ignored = 0;
        int32(ignored);
    }
    return true;
}

std::string read_s3_header(model_reader & reader) {
    const std::string_view bytes = reader.bytes;
    size_t                 at    = 0;
    int                    n     = 0;
    for (bool first = true;; first = false) {
        const size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos || end > longest_header) {
            return first ? "it has no s3 header" : "its header has no end (endhdr)";
        }
        const std::string_view line = bytes.substr(at, end - at);
        at                          = end + 1;
        if (first) {
            if (line != "s3") {
                return "it has no s3 header";
            }
            continue;
        }
        if (line.size() > longest_header_line) {
            return "its header has a line too long";
        }
        size_t                 pos  = 0;
        const std::string_view name = word_at(line, pos);
        if (name.empty()) {
            return "its header has an empty line";
        }
        if (name == "endhdr") {
            break;
        }
        if (name[0] == '#') {
            continue;
        }
        if (word_at(line, pos).empty()) {
            return "its header names " + std::string(name) + " without a value";
        }
        if (++n > most_header_values) {
            return "its header has too many values";
        }
        if (name == "chksum0") {
            reader.has_checksum = true;
        }
    }
    if (bytes.size() - at < 4) {
        return "it ends after its header";
    }
    uint32_t mark = 0;
    std::memcpy(&mark, bytes.data() + at, 4);
    if (mark != byte_order_mark && swap32(mark) != byte_order_mark) {
        return "its byte-order mark is wrong";
    }
    reader.swap     = mark != byte_order_mark;
    reader.at       = at + 4;
    reader.checksum = 0;
    return {};
}

std::string check_s3_end(model_reader & reader, bool extra_data_allowed) {
    if (reader.has_checksum) {
        const uint32_t computed = reader.checksum;
        int32_t        stored   = 0;
        if (!reader.int32(stored)) {
            return "it ends before its checksum";
        }
        if (static_cast<uint32_t>(stored) != computed) {
            return "its checksum does not match its data";
        }
    }
    if (!extra_data_allowed && reader.at != reader.bytes.size()) {
        return "it holds more data than its header announces";
    }
    return {};
}

std::string check_gaussians(std::string_view bytes, gaussian_shape & shape) {
    model_reader reader{ bytes };
    std::string  error = read_s3_header(reader);
    if (!error.empty()) {
        return error;
    }
    int32_t n_codebook = 0;
    int32_t n_feature  = 0;
    int32_t n_density  = 0;
    if (!reader.int32(n_codebook) || !reader.int32(n_feature) || !reader.int32(n_density)) {
        return "it ends inside its counts";
    }
    if (n_codebook < 1 || n_feature < 1 || n_feature > 64 || n_density < 1) {
        return "its counts are out of range";
    }
    int64_t              vector_sum = 0;
    std::vector<int32_t> lengths;
    for (int32_t f = 0; f < n_feature; f++) {
        int32_t length = 0;
        if (!reader.int32(length)) {
            return "it ends inside its counts";
        }
        if (length < 1 || length > 1000) {
            return "its stream lengths are out of range";
        }
        vector_sum += length;
        lengths.push_back(length);
    }
    int32_t n_values = 0;
    if (!reader.int32(n_values)) {
        return "it ends inside its counts";
    }
    // Multiplied step by step: the count read is below 2^31, and the counts of a damaged file can be so large
    // that their whole product would not fit in 64 bits.
    const int64_t per_value = int64_t{ n_codebook } * n_density;
    if (per_value > INT32_MAX || n_values != per_value * vector_sum) {
        return "its value count does not match its dimensions";
    }
    const size_t values_at = reader.at;
    if (!reader.skip_values(n_values)) {
        return "it is shorter than its header announces";
    }
    error = check_s3_end(reader, false);
    if (error.empty()) {
        shape = { n_codebook,         n_feature, n_density,  static_cast<int32_t>(vector_sum),
                  std::move(lengths), values_at, reader.swap };
    }
    return error;
}

std::string check_transition_matrices(std::string_view bytes, const model_counts & counts) {
    model_reader reader{ bytes };
    std::string  error = read_s3_header(reader);
    if (!error.empty()) {
        return error;
    }
    int32_t n_tmat = 0;
    int32_t n_from = 0;
    int32_t n_to   = 0;
    int32_t n      = 0;
    if (!reader.int32(n_tmat) || !reader.int32(n_from) || !reader.int32(n_to) || !reader.int32(n)) {
        return "it ends inside its counts";
    }
    if (n_tmat < 1 || n_tmat >= 32767 || n_from < 1 || n_from > 5 || n_to != n_from + 1) {
        return "its counts are out of range";
    }
    if (n != int64_t{ n_tmat } * n_from * n_to) {
        return "its value count does not match its dimensions";
    }
    if (n_tmat < counts.n_tmat || n_from != counts.n_emit_state) {
        return "it does not match the model definition's matrices";
    }
    if (static_cast<uint64_t>(n) > (bytes.size() - reader.at) / 4) {
        return "it is shorter than its header announces";
    }
    // Only arcs forward by at most two states may have a probability: the library ends the process on
    // others (after it has checked the checksum, which is checked first here too).
    bool stray_arc = false;
    for (int32_t t = 0; t < n_tmat; t++) {
        for (int32_t from = 0; from < n_from; from++) {
            for (int32_t to = 0; to < n_to; to++) {
                int32_t bits = 0;
                reader.int32(bits);
                float p = 0;
                std::memcpy(&p, &bits, 4);
                stray_arc = stray_arc || ((to < from || to > from + 2) && p != 0.0f);
            }
        }
    }
    error = check_s3_end(reader, true);
    if (error.empty() && stray_arc) {
        error = "it allows a transition the decoder cannot take";
    }
    return error;
}

std::string check_mixture_weights(std::string_view bytes, const model_counts & counts, const gaussian_shape & shape) {
    model_reader reader{ bytes };
    std::string  error = read_s3_header(reader);
    if (!error.empty()) {
        return error;
    }
    int32_t n_sen     = 0;
    int32_t n_feature = 0;
    int32_t n_density = 0;
    int32_t n         = 0;
    if (!reader.int32(n_sen) || !reader.int32(n_feature) || !reader.int32(n_density) || !reader.int32(n)) {
        return "it ends inside its counts";
    }
    if (n_sen != counts.n_sen || n_feature != shape.n_feature || n_density != shape.n_density) {
        return "its counts do not match the model definition and the Gaussians";
    }
    const int64_t per_density = int64_t{ n_sen } * n_feature; // step by step, as for the means
    if (per_density < 0 || per_density > INT32_MAX || n != per_density * n_density) {
        return "its value count does not match its dimensions";
    }
    if (!reader.skip_values(n)) {
        return "it is shorter than its header announces";
    }
    return check_s3_end(reader, false);
}

} // namespace kelvo_asr
