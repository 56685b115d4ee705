// The acoustic model folder checked file by file before the decoder library reads it: each file is read
// whole (the largest is a few megabytes) and checked, and the counts of the model definition and the
// Gaussians are carried to the files that must agree with them.

#include "engine/model_files/model_files_check.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kelvo_asr {

namespace {

namespace fs = std::filesystem;

// Reads the file at `path` whole; false when it cannot be opened or read.
bool read_whole(const fs::path & path, std::string & bytes) {
    bytes.clear();
    FILE * f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    char   buffer[1 << 16];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) {
        bytes.append(buffer, n);
    }
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// A file mapped read-only for a check: the language model is tens of megabytes.
struct mapped_file {
    void * base = MAP_FAILED;
    size_t size = 0;

    explicit mapped_file(const std::string & path) {
        const int   fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            size = static_cast<size_t>(st.st_size);
            base = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    ~mapped_file() {
        if (base != MAP_FAILED) {
            munmap(base, size);
        }
    }
    mapped_file(const mapped_file &)             = delete;
    mapped_file & operator=(const mapped_file &) = delete;

    std::string_view bytes() const {
        return base == MAP_FAILED ? std::string_view() : std::string_view(static_cast<const char *>(base), size);
    }
};

} // namespace

bool check_language_model_file(const std::string & path, std::string & error) {
    const mapped_file file(path);
    if (!is_trie_language_model(file.bytes())) {
        return true;
    }
    const std::string problem = check_trie_language_model(file.bytes());
    if (!problem.empty()) {
        error = "the language model file " + path + " is damaged: " + problem;
        return false;
    }
    return true;
}

bool check_acoustic_model_files(const std::string & folder, std::string & error) {
    const fs::path dir(folder);
    std::string    bytes;
    std::string    problem;
    fs::path       file;
    auto           fail = [&](const fs::path & path, const std::string & what) {
        error = "the acoustic model file " + path.string() + " is damaged: " + what;
        return false;
    };
    std::error_code ec;

    feature_streams streams;
    file = dir / "feat.params";
    bytes.clear(); // without the file, the library's defaults: what an empty file gives
    if (fs::exists(file, ec) && !read_whole(file, bytes)) {
        return fail(file, "it cannot be read");
    }
    if (!(problem = check_feature_settings(bytes, streams)).empty()) {
        return fail(file, problem);
    }

    model_counts counts;
    file = dir / "mdef";
    if (!read_whole(file, bytes)) {
        return fail(file, "it cannot be read");
    }
    const bool text_definition = bytes.compare(0, 3, "0.3") == 0;
    if (!text_definition && !(problem = check_model_definition(bytes, counts)).empty()) {
        return fail(file, problem);
    }

    file = dir / "transition_matrices";
    if (!read_whole(file, bytes)) {
        return fail(file, "it cannot be read");
    }
    if (!text_definition && !(problem = check_transition_matrices(bytes, counts)).empty()) {
        return fail(file, problem);
    }

    gaussian_shape means;
    gaussian_shape variances;
    for (const char * name : { "means", "variances" }) {
        file = dir / name;
        if (!read_whole(file, bytes)) {
            return fail(file, "it cannot be read");
        }
        if (!(problem = check_gaussians(bytes, name[0] == 'm' ? means : variances)).empty()) {
            return fail(file, problem);
        }
    }
    if (means.n_codebook != variances.n_codebook || means.n_feature != variances.n_feature ||
        means.n_density != variances.n_density || means.vector_sum != variances.vector_sum) {
        return fail(dir / "variances", "its dimensions differ from the means'");
    }
    // The library needs the Gaussians' streams to be the features' (its fallback for a mismatch ends the
    // process when the model has no float weights).
    int32_t stream_sum = 0;
    for (int32_t length : streams.lengths) {
        stream_sum += length;
    }
    if (!streams.lengths.empty() &&
        (static_cast<int32_t>(streams.lengths.size()) != means.n_feature || stream_sum != means.vector_sum)) {
        return fail(dir / "feat.params", "its feature streams differ from the Gaussians' (means)");
    }

    const fs::path sendump = dir / "sendump";
    const fs::path mixw    = dir / "mixture_weights";
    if (fs::exists(sendump, ec)) {
        // Without float weights the library can only use the dump, for one codebook per base phone or one
        // for all; anything else makes it look for the float weights and end the process.
        if (!fs::exists(mixw, ec) && !text_definition && means.n_codebook != counts.n_ciphone &&
            means.n_codebook != 1) {
            return fail(dir / "means", "its codebook count matches neither the phones nor one");
        }
        if (!read_whole(sendump, bytes)) {
            return fail(sendump, "it cannot be read");
        }
        senone_dump_layout layout;
        if (!text_definition && !(problem = check_senone_dump(bytes, counts, means, layout)).empty()) {
            return fail(sendump, problem);
        }
    } else if (fs::exists(mixw, ec)) {
        if (!read_whole(mixw, bytes)) {
            return fail(mixw, "it cannot be read");
        }
        if (!text_definition && !(problem = check_mixture_weights(bytes, counts, means)).empty()) {
            return fail(mixw, problem);
        }
    } else {
        error = "the acoustic model in " + folder + " has no mixture weights (sendump or mixture_weights)";
        return false;
    }
    return true;
}

} // namespace kelvo_asr
