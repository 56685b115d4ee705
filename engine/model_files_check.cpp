// The acoustic model folder checked file by file before the decoder library reads it: each file is read
// whole (the largest is a few megabytes) and checked, and the counts of the model definition and the
// Gaussians are carried to the files that must agree with them.

#include "engine/model_files_check.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// The words of a feature settings file, as the library's option reader splits them.
std::vector<std::string> settings_words(std::string_view bytes) {
    std::vector<std::string> words;
    std::string              word;
    bool                     comment = false;
    for (char c : bytes) {
        if (comment) {
            comment = c != '\n';
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else if (c == '#' && word.empty()) {
            comment = true;
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

// True when `spec` is a list of streams ("0-12/13-25/26-38") as the library's parser accepts it; its
// streams' lengths go to `lengths`.
bool parse_stream_spec(const std::string & spec, std::vector<int32_t> & lengths) {
    lengths.clear();
    size_t at     = 0;
    auto   number = [&](int32_t & value) {
        const size_t start = at;
        while (at < spec.size() && spec[at] >= '0' && spec[at] <= '9' && at - start < 6) {
            at++;
        }
        if (at == start || (at < spec.size() && spec[at] >= '0' && spec[at] <= '9')) {
            return false;
        }
        value = 0;
        for (size_t k = start; k < at; k++) {
            value = value * 10 + (spec[k] - '0');
        }
        return true;
    };
    std::vector<int32_t> seen;
    for (;;) {
        int32_t length = 0;
        for (;;) {
            int32_t first = 0;
            if (!number(first)) {
                return false;
            }
            int32_t last = first;
            if (at < spec.size() && spec[at] == '-') {
                at++;
                if (!number(last)) {
                    return false;
                }
            }
            if (last < first) {
                return false;
            }
            for (int32_t d = first; d <= last; d++) {
                for (int32_t s : seen) {
                    if (s == d) {
                        return false;
                    }
                }
                seen.push_back(d);
            }
            length += last - first + 1;
            if (at == spec.size() || spec[at] == '/') {
                break;
            }
            if (spec[at] != ',') {
                return false;
            }
            at++;
        }
        lengths.push_back(length);
        if (at == spec.size()) {
            return true;
        }
        at++; // the '/'
    }
}

} // namespace

std::string check_feature_settings(std::string_view bytes, feature_streams & streams) {
    streams = {};
    // The library reads the words in pairs, option and value, and ends the process on a stream list, a
    // feature type, a normalisation or a gain control it cannot read.
    const std::vector<std::string> words        = settings_words(bytes);
    std::string                    feature_type = "1s_c_d_dd";
    int32_t                        cepstrum     = 13;
    bool                           have_spec    = false;
    for (size_t i = 0; i + 1 < words.size(); i += 2) {
        const std::string & name  = words[i];
        const std::string & value = words[i + 1];
        if (name == "-svspec") {
            if (!parse_stream_spec(value, streams.lengths)) {
                return "its stream list (-svspec) is malformed";
            }
            have_spec = true;
        } else if (name == "-feat") {
            feature_type = value;
        } else if (name == "-ceplen") {
            cepstrum = std::atoi(value.c_str());
        } else if (name == "-cmn" && value != "none" && value != "batch" && value != "live" && value != "current" &&
                   value != "prior") {
            return "its normalisation (-cmn) is unknown";
        } else if (name == "-agc" && value != "none" && value != "max" && value != "emax" && value != "noise") {
            return "its gain control (-agc) is unknown";
        }
    }
    // The feature types the library knows, by name or by the start of their name, and the length of their
    // one stream in cepstra (0: not one stream of cepstra).
    const struct {
        const char * name;
        bool         prefix;
        int32_t      cepstra;
    } known_types[] = {
        { "s2_4x", false, 0 },    { "s3_1x39", false, 0 },     { "1s_12c_12d_3p_12dd", false, 0 },
        { "1s_c_d_dd", true, 3 }, { "1s_c_d_ld_dd", true, 4 }, { "cep_dcep", true, 2 },
        { "1s_c_d", true, 2 },    { "cep", true, 1 },          { "1s_c", true, 1 },
        { "1s_3c", true, 7 },     { "1s_4c", true, 9 },
    };
    const auto * known = std::find_if(std::begin(known_types), std::end(known_types), [&](const auto & t) {
        return t.prefix ? feature_type.rfind(t.name, 0) == 0 : feature_type == t.name;
    });
    if (known == std::end(known_types)) {
        // A list of stream lengths ("12,24,3,12", perhaps with ":window"), else nothing the library reads.
        const bool list = !feature_type.empty() &&
                          feature_type.find_first_not_of("0123456789,:") == std::string::npos &&
                          feature_type[0] != ',' && feature_type[0] != ':';
        if (!list) {
            return "its feature type (-feat) is unknown";
        }
    } else if (!have_spec) {
        if (known->cepstra > 0 && cepstrum > 0 && cepstrum < 1000) {
            streams.lengths.push_back(known->cepstra * cepstrum);
        } else if (feature_type == "s2_4x") {
            streams.lengths = { 12, 24, 3, 12 };
        } else if (known->cepstra == 0) {
            streams.lengths = { 39 };
        }
    }
    return {};
}

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
        if (!text_definition && !(problem = check_senone_dump(bytes, counts, means)).empty()) {
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
