// The acoustic model file checks on arbitrary bytes: the first byte picks the kind of file (modulo 7), the rest is
// the file. The checks must never read outside the bytes (the sanitizers see to that), and what they
// accept must carry counts the decoder library can use.

#include "engine/model_files/model_files_check.h"
#include "fuzz_support.h"

#include <string_view>

namespace {

// The counts of the small model the corpus's files belong to.
const kelvo_asr::model_counts   corpus_counts{ 3, 6, 2, 3, 0, {} };
const kelvo_asr::gaussian_shape corpus_shape{ 3, 1, 2, 4, { 4 }, 0, false };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    switch (data[0] % 7) {
    case 0: {
        kelvo_asr::model_counts counts;
        if (kelvo_asr::check_model_definition(bytes, counts).empty()) {
            FUZZ_CHECK(counts.n_ciphone > 0 && counts.n_sen > 0 && counts.n_tmat > 0);
            FUZZ_CHECK(counts.n_emit_state > 0 && counts.n_emit_state <= 5);
        }
        break;
    }
    case 1: {
        kelvo_asr::gaussian_shape shape;
        if (kelvo_asr::check_gaussians(bytes, shape).empty()) {
            FUZZ_CHECK(shape.n_codebook > 0 && shape.n_feature > 0 && shape.n_density > 0);
            FUZZ_CHECK(int64_t{ shape.n_codebook } * shape.n_density * shape.vector_sum * 4 <=
                       static_cast<int64_t>(bytes.size()));
            FUZZ_CHECK(shape.values_at <= bytes.size() && shape.stream_lengths.size() == size_t(shape.n_feature));
        }
        break;
    }
    case 2:
        kelvo_asr::check_transition_matrices(bytes, corpus_counts);
        break;
    case 3: {
        kelvo_asr::senone_dump_layout layout;
        if (kelvo_asr::check_senone_dump(bytes, corpus_counts, corpus_shape, layout).empty()) {
            FUZZ_CHECK(layout.data_at <= bytes.size() && layout.columns > 0);
        }
        break;
    }
    case 4:
        kelvo_asr::check_mixture_weights(bytes, corpus_counts, corpus_shape);
        break;
    case 5:
        if (kelvo_asr::check_trie_language_model(bytes).empty()) {
            FUZZ_CHECK(kelvo_asr::is_trie_language_model(bytes));
        }
        break;
    default: {
        kelvo_asr::feature_streams streams;
        if (kelvo_asr::check_feature_settings(bytes, streams).empty()) {
            for (int32_t length : streams.lengths) {
                FUZZ_CHECK(length > 0);
            }
        }
        break;
    }
    }
    return 0;
}
