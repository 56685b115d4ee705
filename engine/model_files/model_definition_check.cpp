// Check of a binary model definition (mdef). The library maps the file and trusts every count and index
// in it: a short file or an index out of range makes it read outside the file or its own arrays.

#include "engine/model_files/model_files_check.h"

#include <cstring>
#include <vector>

namespace kelvo_asr {

namespace {

constexpr uint32_t native_mark     = 0x46444D42; // "BMDF" read on this machine
constexpr uint32_t other_mark      = 0x424D4446; // "BMDF" written on a machine of the other byte order
constexpr int32_t  newest_version  = 1;
constexpr int32_t  word_positions  = 4;     // begin, end, single, internal: the first level of the phone tree
constexpr int32_t  most_states     = 5;     // the decoder's largest HMM
constexpr int32_t  most_senones    = 65534; // senone ids are 16 bits, 0xffff meaning none
constexpr int32_t  most_base_phone = 255;   // context phones are 8 bits

uint16_t swap16(uint16_t v) {
    return static_cast<uint16_t>((v >> 8) | (v << 8));
}

// Little helpers over the mapped layout, in the file's byte order.
struct layout {
    std::string_view bytes;
    bool             swap = false;

    uint32_t u32(size_t at) const {
        uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return swap ? (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24) : v;
    }

    int32_t i32(size_t at) const { return static_cast<int32_t>(u32(at)); }

    uint16_t u16(size_t at) const {
        uint16_t v = 0;
        std::memcpy(&v, bytes.data() + at, 2);
        return swap ? swap16(v) : v;
    }

    int16_t i16(size_t at) const { return static_cast<int16_t>(u16(at)); }
};

} // namespace

std::string check_model_definition(std::string_view bytes, model_counts & counts) {
    if (bytes.size() < 12) {
        return "it is too short for a model definition";
    }
    layout   file{ bytes };
    uint32_t mark = 0;
    std::memcpy(&mark, bytes.data(), 4);
    if (mark != native_mark && mark != other_mark) {
        return "it is not a binary model definition";
    }
    file.swap                  = mark == other_mark;
    const int32_t version      = file.i32(4);
    const int32_t header_bytes = file.i32(8);
    if (version < 0 || version > newest_version) {
        return "its format version is unknown";
    }
    if (header_bytes < 0 || static_cast<uint64_t>(header_bytes) + 12 + 40 > bytes.size()) {
        return "it ends inside its header";
    }
    size_t        at           = 12 + static_cast<size_t>(header_bytes);
    const int32_t n_ciphone    = file.i32(at);
    const int32_t n_phone      = file.i32(at + 4);
    const int32_t n_emit_state = file.i32(at + 8);
    const int32_t n_ci_sen     = file.i32(at + 12);
    const int32_t n_sen        = file.i32(at + 16);
    const int32_t n_tmat       = file.i32(at + 20);
    const int32_t n_sseq       = file.i32(at + 24);
    const int32_t n_ctx        = file.i32(at + 28);
    const int32_t n_cd_tree    = file.i32(at + 32);
    at += 40;
    if (n_ciphone < 1 || n_ciphone > most_base_phone || n_phone < n_ciphone || n_emit_state < 1 ||
        n_emit_state > most_states || n_sen < 1 || n_sen > most_senones || n_ci_sen < 1 || n_ci_sen > n_sen ||
        n_tmat < 1 || n_sseq < 1 || n_ctx != 3 || n_cd_tree < word_positions) {
        return "its counts are out of range";
    }

    // Base phone names, NUL-terminated, in the sorted order the library's binary search needs; silence
    // must be one of them.
    const size_t             names_start = at;
    bool                     has_silence = false;
    std::vector<std::string> names;
    for (int32_t i = 0; i < n_ciphone; i++) {
        const size_t end = bytes.find('\0', at);
        if (end == std::string_view::npos) {
            return "it ends inside its phone names";
        }
        std::string name(bytes.substr(at, end - at));
        if (name.empty() || (i > 0 && name <= names.back())) {
            return "its phone names are empty or out of order";
        }
        has_silence = has_silence || name == "SIL";
        names.push_back(std::move(name));
        at = end + 1;
    }
    if (!has_silence) {
        return "it has no silence phone (SIL)";
    }
    at = names_start + ((at - names_start + 3) & ~size_t{ 3 });

    const size_t  tree_start  = at;
    const size_t  phone_start = tree_start + 8 * static_cast<size_t>(n_cd_tree);
    const size_t  sseq_count  = phone_start + 12 * static_cast<size_t>(n_phone);
    const int64_t used_sseq   = int64_t{ n_sseq } * n_emit_state;
    if (sseq_count + 4 > bytes.size()) {
        return "it ends inside its phone table";
    }
    const int32_t sseq_size  = file.i32(sseq_count);
    const size_t  sseq_start = sseq_count + 4;
    if (sseq_size < used_sseq || sseq_start + 2 * static_cast<uint64_t>(sseq_size) > bytes.size()) {
        return "it ends inside its senone sequences";
    }

    // The phone tree: every branch inside the tree, every leaf a phone or -1 (no such triphone).
    for (int32_t i = 0; i < n_cd_tree; i++) {
        const size_t  node   = tree_start + 8 * static_cast<size_t>(i);
        const int32_t n_down = file.i16(node + 2);
        const int32_t target = file.i32(node + 4);
        const bool    inside = n_down == 0 ? target >= -1 && target < n_phone
                                           : n_down > 0 && target >= 0 && int64_t{ target } + n_down <= n_cd_tree;
        if (!inside) {
            return "its phone tree points outside itself";
        }
    }
    // Phones: senone sequence and transition matrix ids in range; context phones (of triphones) too.
    for (int32_t i = 0; i < n_phone; i++) {
        const size_t  entry = phone_start + 12 * static_cast<size_t>(i);
        const int32_t ssid  = file.i32(entry);
        const int32_t tmat  = file.i32(entry + 4);
        if (ssid < 0 || ssid >= n_sseq || tmat < 0 || tmat >= n_tmat) {
            return "a phone's senone sequence or transition matrix is out of range";
        }
        if (i >= n_ciphone) {
            const auto * info = reinterpret_cast<const unsigned char *>(bytes.data() + entry + 8);
            if (info[0] >= word_positions || info[1] >= n_ciphone || info[2] >= n_ciphone || info[3] >= n_ciphone) {
                return "a triphone's context is out of range";
            }
        }
    }
    for (int64_t i = 0; i < used_sseq; i++) {
        if (file.u16(sseq_start + 2 * static_cast<size_t>(i)) >= n_sen) {
            return "a senone sequence names a senone out of range";
        }
    }
    counts = { n_ciphone, n_sen, n_tmat, n_emit_state, n_ci_sen, std::move(names) };
    return {};
}

} // namespace kelvo_asr
