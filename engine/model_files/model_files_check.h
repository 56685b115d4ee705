// The folder engine/model_files/: a model folder's parts, and every file the decoder library will read
// checked before it reads it.
//
// Checks of an acoustic model's files, made before the decoder library reads them. The library ends the
// process on several kinds of damage (a checksum mismatch, a short read, an assertion) and trusts the
// counts of others (a short or inconsistent model definition or mixture-weight dump crashes it), so each
// file it would read is walked here as its reader walks it. Private to the engine.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo_asr {

// What the model definition says that the other files must agree with.
struct model_counts {
    int32_t                  n_ciphone    = 0; // base phones
    int32_t                  n_sen        = 0; // senones (tied states)
    int32_t                  n_tmat       = 0; // transition matrices the phones use
    int32_t                  n_emit_state = 0; // emitting states per phone
    int32_t                  n_ci_sen     = 0; // senones of the base phones
    std::vector<std::string> phone_names;      // the base phones, in the file's (sorted) order
};

// The shape of a Gaussian parameter file (means or variances).
struct gaussian_shape {
    int32_t              n_codebook = 0;
    int32_t              n_feature  = 0;    // feature streams
    int32_t              n_density  = 0;    // Gaussians per codebook and stream
    int32_t              vector_sum = 0;    // sum of the streams' lengths
    std::vector<int32_t> stream_lengths;    // of each stream, in order
    size_t               values_at = 0;     // the byte where the values (32-bit floats) start
    bool                 swap      = false; // the values are in the other byte order
};

// Where a mixture-weight dump keeps its weights.
struct senone_dump_layout {
    int32_t n_cluster = 0; // 0: one byte per weight; 15 or 16: a cluster table first
    int32_t n_bits    = 8; // bits per weight
    int32_t columns   = 0; // weights per row (one row per stream and Gaussian, one column per senone)
    size_t  data_at   = 0; // the byte where the cluster table, or else the weights, start
};

// Each check takes a file's bytes and returns an empty text when the library can read them safely, else
// what is wrong with the file in a few lower-case words (e.g. "its checksum does not match its data").

// A binary model definition (mdef); fills `counts`. A text model definition is left to the library.
std::string check_model_definition(std::string_view bytes, model_counts & counts);

// Gaussian means or variances; fills `shape`.
std::string check_gaussians(std::string_view bytes, gaussian_shape & shape);

// Transition matrices: one per matrix id of `counts`, each of `counts.n_emit_state` states.
std::string check_transition_matrices(std::string_view bytes, const model_counts & counts);

// A mixture-weight dump (sendump) for the senones of `counts` and the codebooks of `shape`; fills `layout`.
std::string check_senone_dump(std::string_view bytes, const model_counts & counts, const gaussian_shape & shape,
                              senone_dump_layout & layout);

// Mixture weights as floats (mixture_weights) for the senones of `counts` and the codebooks of `shape`.
std::string check_mixture_weights(std::string_view bytes, const model_counts & counts, const gaussian_shape & shape);

// The feature streams that feature settings describe; empty when they do not say.
struct feature_streams {
    std::vector<int32_t> lengths;
};

// Feature settings (feat.params): options with values, a stream list the library can parse; fills `streams`.
std::string check_feature_settings(std::string_view bytes, feature_streams & streams);

// True when `bytes` start like a binary language model in the library's trie format.
bool is_trie_language_model(std::string_view bytes);

// A binary language model in the trie format (*.lm.bin): order, counts, the sizes they imply, word list.
std::string check_trie_language_model(std::string_view bytes);

// A cursor over a model file's bytes, for the checks above: 32-bit values in the file's byte order, with
// the library's running checksum of every value read.
struct model_reader {
    std::string_view bytes;
    size_t           at           = 0;
    bool             swap         = false; // the file was written on a machine of the other byte order
    bool             has_checksum = false; // an s3 header that says "chksum0"
    uint32_t         checksum     = 0;

    // Reads the next value; false, reading nothing, when fewer than 4 bytes are left.
    bool int32(int32_t & value);
    // Reads `count` values; false, reading nothing, when the file holds fewer.
    bool skip_values(int64_t count);
};

// Reads an s3 header ("s3", name-value lines, "endhdr", the byte-order mark); leaves `reader` on the first
// value. Returns what is wrong with it, empty when nothing.
std::string read_s3_header(model_reader & reader);

// Checks the checksum after the last value when the header announced one, and (unless allowed) that
// nothing follows. Returns what is wrong, empty when nothing.
std::string check_s3_end(model_reader & reader, bool extra_data_allowed);

// Checks the language model file at `path` when it is in the trie format (others are left to the library).
// Returns false with `error` naming the file and what is wrong with it.
bool check_language_model_file(const std::string & path, std::string & error);

// Checks every file the library reads from the acoustic model folder `folder`, in the library's order.
// Returns false with `error` naming the first damaged file (its path) and what is wrong with it.
bool check_acoustic_model_files(const std::string & folder, std::string & error);

} // namespace kelvo_asr
