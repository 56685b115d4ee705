// Check of a binary language model in the library's trie format (*.lm.bin). Its reader checks nothing: an
// order above its limit overflows an array, a damaged count makes it allocate gigabytes (and end the
// process when it cannot) or read past its buffers, a short file leaves the model half zeros, and a word
// list with fewer words than the unigram count makes it read past the list. It also trusts the offsets
// from each n-gram to its successors in the next order: each must lie within that order's array.

#include "engine/model_files/model_files_check.h"

#include <cstring>
#include <string>

namespace kelvo_asr {

namespace {

constexpr std::string_view trie_header   = "Trie Language Model";
constexpr int              highest_order = 5;
constexpr uint64_t         unigram_bytes = 12; // probability, back-off weight, next index
constexpr uint64_t         middle_bits   = 32; // quantised probability and back-off weight
constexpr uint64_t         longest_bits  = 16; // quantised probability

uint64_t required_bits(uint64_t max_value) {
    uint64_t bits = 0;
    while (max_value > 0) {
        bits++;
        max_value >>= 1;
    }
    return bits;
}

// Bytes of one packed n-gram array as the library sizes it (in 32-bit arithmetic, hence the limit).
bool array_bytes(uint64_t entries, uint64_t max_vocab, uint64_t other_bits, uint64_t & bytes) {
    bytes = ((1 + entries) * (required_bits(max_vocab) + other_bits) + 7) / 8 + 8;
    return (1 + entries) * (required_bits(max_vocab) + other_bits) + 7 <= 0xFFFFFFFFu;
}

// The `bits` wide value at `bit` of a packed array, read as the library reads it: 8 bytes from the byte
// holding the first bit (the array's 8 bytes of padding keep the read inside it).
uint64_t packed_value(std::string_view array, uint64_t bit, uint64_t bits) {
    uint64_t word = 0;
    std::memcpy(&word, array.data() + bit / 8, 8);
    return (word >> (bit % 8)) & ((uint64_t{ 1 } << bits) - 1);
}

// True when the offsets `next(0) ... next(n)` never decrease and none passes `limit`; the last goes to
// `end`: the entries of the next order before it are all that can be reached.
template <typename Next> bool offsets_in_range(uint64_t n, uint64_t limit, uint64_t & end, Next next) {
    uint64_t before = 0;
    for (uint64_t k = 0; k <= n; k++) {
        const uint64_t at = next(k);
        if (at < before || at > limit) {
            return false;
        }
        before = at;
    }
    end = before;
    return true;
}

} // namespace

bool is_trie_language_model(std::string_view bytes) {
    return bytes.substr(0, trie_header.size()) == trie_header;
}

std::string check_trie_language_model(std::string_view bytes) {
    if (!is_trie_language_model(bytes) || bytes.size() < trie_header.size() + 1) {
        return "it is too short for a binary language model";
    }
    size_t    at    = trie_header.size();
    const int order = static_cast<unsigned char>(bytes[at++]);
    if (order < 1 || order > highest_order) {
        return "its order is out of range";
    }
    uint32_t counts[highest_order] = {};
    if (bytes.size() - at < 4 * static_cast<size_t>(order)) {
        return "it ends inside its counts";
    }
    for (int i = 0; i < order; i++) {
        std::memcpy(&counts[i], bytes.data() + at, 4);
        at += 4;
    }
    if (counts[0] < 1 || counts[0] == 0xFFFFFFFFu) {
        return "its unigram count is out of range";
    }
    // The quantisation tables, the unigrams and the packed higher orders, in the reader's order.
    uint64_t need = 0;
    if (order > 1) {
        need += 4 + (static_cast<uint64_t>(order) - 2) * (uint64_t{ 2 } << 16) * 4 + (uint64_t{ 1 } << 16) * 4;
    }
    const uint64_t unigrams_at = at + need;
    need += (uint64_t{ counts[0] } + 1) * unigram_bytes;
    uint64_t middle_bytes[highest_order] = {}; // the packed array of each order below the highest
    if (order > 1) {
        uint64_t packed = 0;
        for (int i = 1; i < order - 1; i++) {
            if (!array_bytes(counts[i], counts[0], middle_bits + required_bits(counts[i + 1]), middle_bytes[i])) {
                return "its n-gram counts are out of range";
            }
            packed += middle_bytes[i];
        }
        uint64_t part = 0;
        if (!array_bytes(counts[order - 1], counts[0], longest_bits, part)) {
            return "its n-gram counts are out of range";
        }
        packed += part;
        if (packed > 0xFFFFFFFFu) {
            return "its n-gram counts are out of range";
        }
        need += packed;
    }
    if (bytes.size() - at < need + 4) {
        return "it is shorter than its counts announce";
    }
    // Each unigram's and each reachable middle n-gram's first successor; the entry after the last one
    // reached ends its successors (a model may hold fewer n-grams of an order than it counts).
    if (order > 1) {
        uint64_t   reached     = 0;
        const bool unigrams_ok = offsets_in_range(counts[0], counts[1], reached, [&](uint64_t k) {
            uint32_t next = 0;
            std::memcpy(&next, bytes.data() + unigrams_at + k * unigram_bytes + 8, 4);
            return uint64_t{ next };
        });
        if (!unigrams_ok) {
            return "its unigrams point outside its bigrams";
        }
        uint64_t array_at = unigrams_at + (uint64_t{ counts[0] } + 1) * unigram_bytes;
        for (int i = 1; i < order - 1; i++) {
            const std::string_view array      = bytes.substr(array_at, middle_bytes[i]);
            const uint64_t         word_bits  = required_bits(counts[0]);
            const uint64_t         next_bits  = required_bits(counts[i + 1]);
            const uint64_t         total_bits = word_bits + middle_bits + next_bits;
            const bool             ok         = offsets_in_range(reached, counts[i + 1], reached, [&](uint64_t k) {
                return packed_value(array, k * total_bits + word_bits + middle_bits, next_bits);
            });
            if (!ok) {
                return "its " + std::to_string(i + 1) + "-grams point outside its " + std::to_string(i + 2) + "-grams";
            }
            array_at += middle_bytes[i];
        }
    }
    at += need;
    int32_t word_bytes = 0;
    std::memcpy(&word_bytes, bytes.data() + at, 4);
    at += 4;
    if (word_bytes < 1 || static_cast<uint64_t>(word_bytes) > bytes.size() - at) {
        return "its word list is cut short";
    }
    const std::string_view words = bytes.substr(at, static_cast<size_t>(word_bytes));
    uint64_t               ends  = 0;
    for (char c : words) {
        ends += c == '\0' ? 1 : 0;
    }
    if (ends != counts[0] || words.back() != '\0') {
        return "its word list does not hold its unigram count of words";
    }
    return {};
}

} // namespace kelvo_asr
