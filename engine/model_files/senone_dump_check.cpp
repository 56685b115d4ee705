// Check of a mixture-weight dump (sendump). The library walks its header of length-prefixed strings into a
// 1000-byte buffer, then maps the weights and trusts the header's counts: a short file crashes the first
// decode, a count larger than the model's writes past the library's arrays.

#include "engine/model_files/model_files_check.h"

#include <cstdlib>
#include <cstring>

namespace kelvo_asr {

namespace {

constexpr int32_t longest_string = 999; // the library's string buffer holds 1000 bytes

uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

// The value of `name` ("cluster_count ") at the start of `text`, as atoi reads it.
bool header_value(std::string_view text, const char * name, int32_t & value) {
    const size_t n = std::strlen(name);
    if (text.compare(0, n, name) != 0) {
        return false;
    }
    value = std::atoi(std::string(text.substr(n)).c_str());
    return true;
}

} // namespace

std::string check_senone_dump(std::string_view bytes, const model_counts & counts, const gaussian_shape & shape,
                              senone_dump_layout & layout) {
    size_t at   = 0;
    bool   swap = false;
    auto   next = [&](int32_t & value) {
        if (bytes.size() - at < 4) {
            return false;
        }
        uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        at += 4;
        v = swap ? swap32(v) : v;
        std::memcpy(&value, &v, 4);
        return true;
    };
    // A string of `length` bytes; the title and the first header string must end in NUL, the others are
    // read up to their first NUL.
    auto string_at = [&](int32_t length, std::string_view & text, bool terminated) {
        if (length < 1 || length > longest_string || bytes.size() - at < static_cast<size_t>(length) ||
            (terminated && bytes[at + static_cast<size_t>(length) - 1] != '\0')) {
            return false;
        }
        text = bytes.substr(at, static_cast<size_t>(length));
        text = text.substr(0, text.find('\0'));
        at += static_cast<size_t>(length);
        return true;
    };

    int32_t length = 0;
    if (!next(length)) {
        return "it ends before its title";
    }
    if (length < 1 || length > longest_string) {
        swap   = true;
        length = static_cast<int32_t>(swap32(static_cast<uint32_t>(length)));
    }
    std::string_view text;
    if (!string_at(length, text, true)) {
        return "its title is damaged";
    }
    if (!next(length) || !string_at(length, text, true)) {
        return "its header is damaged";
    }
    int32_t n_feature = shape.n_feature;
    int32_t n_density = shape.n_density;
    int32_t n_sen     = counts.n_sen;
    int32_t n_cluster = 0;
    int32_t n_bits    = 8;
    for (;;) {
        if (!next(length)) {
            return "its header has no end";
        }
        if (length == 0) {
            break;
        }
        if (!string_at(length, text, false)) {
            return "its header is damaged";
        }
        header_value(text, "feature_count ", n_feature);
        header_value(text, "mixture_count ", n_density);
        header_value(text, "model_count ", n_sen);
        header_value(text, "cluster_count ", n_cluster);
        header_value(text, "cluster_bits ", n_bits);
    }
    int32_t rows    = n_density;
    int32_t columns = n_sen;
    if (n_cluster == 0 && (!next(rows) || !next(columns))) {
        return "it ends inside its header";
    }
    if (n_feature != shape.n_feature || n_density != shape.n_density || n_sen != counts.n_sen) {
        return "its counts do not match the model definition and the Gaussians";
    }
    if (rows != n_density || columns != n_sen) {
        return "its table size does not match its counts";
    }
    if (n_cluster != 0 && n_cluster != 15 && n_cluster != 16) {
        return "its cluster count is not 0, 15 or 16";
    }
    if (n_bits != 8 && n_bits != 4) {
        return "its weights are not 4 or 8 bits wide";
    }
    const uint64_t row_bytes  = n_bits == 4 ? (static_cast<uint64_t>(columns) + 1) / 2 : static_cast<uint64_t>(columns);
    const uint64_t data_bytes = (n_cluster == 15 ? 16 : static_cast<uint64_t>(n_cluster)) +
                                static_cast<uint64_t>(n_feature) * static_cast<uint64_t>(rows) * row_bytes;
    if (bytes.size() - at < data_bytes) {
        return "it is shorter than its header announces";
    }
    layout = { n_cluster, n_bits, columns, at };
    return {};
}

} // namespace kelvo_asr
