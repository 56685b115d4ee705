// Model folder discovery: which file of a folder is which part of the model, and whether the parts the
// decoder library reads first are sound.

#include "engine/model_files/model_folder.h"
#include "engine/model_files/model_files_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kelvo_asr {

namespace fs = std::filesystem;

namespace {

bool ends_with(const std::string & s, const std::string & tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Rank of a language model file name; lower is preferred, -1 means not a language model.
int language_model_rank(const std::string & name) {
    int rank = -1;
    if (ends_with(name, ".lm.bin")) {
        rank = 0;
    } else if (ends_with(name, ".lm")) {
        rank = 1;
    } else if (ends_with(name, ".DMP") || ends_with(name, ".dmp")) {
        rank = 2;
    }
    // A phone-loop model ("en-us-phone.lm.bin") recognises phones, not words.
    if (rank >= 0 && name.find("phone") != std::string::npos) {
        rank += 10;
    }
    return rank;
}

bool file_starts_with(const fs::path & path, const std::string & head) {
    FILE * f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    std::string got(head.size(), '\0');
    size_t      n = std::fread(got.data(), 1, got.size(), f);
    std::fclose(f);
    return n == head.size() && got == head;
}

// The decoder library ends the process on some malformed model files instead of failing, so the parts it
// reads are checked here: each must exist and carry its format's header, then be sound throughout.
bool acoustic_model_is_sound(const std::string & folder, std::string & error) {
    const fs::path dir(folder);
    if (!file_starts_with(dir / "mdef", "BMDF") && !file_starts_with(dir / "mdef", "0.3")) {
        error = "the acoustic model in " + folder + " has no readable model definition (mdef)";
        return false;
    }
    for (const char * part : { "means", "variances", "transition_matrices" }) {
        if (!file_starts_with(dir / part, "s3\n")) {
            error = "the acoustic model in " + folder + " has no readable " + part;
            return false;
        }
    }
    std::error_code ec;
    if (!fs::is_regular_file(dir / "sendump", ec) && !file_starts_with(dir / "mixture_weights", "s3\n")) {
        error = "the acoustic model in " + folder + " has no mixture weights (sendump or mixture_weights)";
        return false;
    }
    return check_acoustic_model_files(folder, error);
}

} // namespace

bool find_model_files(const std::string & folder, model_files & files, std::string & error) {
    files = model_files{};
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        error = "model folder not found: " + folder;
        return false;
    }
    if (fs::is_regular_file(fs::path(folder) / "mdef", ec)) {
        // The folder is itself an acoustic model.
        files.acoustic_model = folder;
        files.language_tag   = fs::path(folder).lexically_normal().filename().string();
    }
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    if (ec) {
        error = "cannot read the model folder " + folder;
        return false;
    }
    std::sort(entries.begin(), entries.end());
    int best_rank = 1000;
    for (const fs::path & p : entries) {
        std::string name = p.filename().string();
        if (fs::is_directory(p, ec)) {
            if (files.acoustic_model.empty() && fs::is_regular_file(p / "mdef", ec)) {
                files.acoustic_model = p.string();
                files.language_tag   = name;
            }
            continue;
        }
        if (!fs::is_regular_file(p, ec)) {
            continue;
        }
        int rank = language_model_rank(name);
        if (rank >= 0 && rank < best_rank) {
            best_rank            = rank;
            files.language_model = p.string();
        }
        if (files.dictionary.empty() && ends_with(name, ".dict")) {
            files.dictionary = p.string();
        }
    }
    return true;
}

bool check_model_files(const model_files & files, const std::string & folder, bool need_language_model,
                       std::string & error) {
    if (files.acoustic_model.empty()) {
        error = "no acoustic model (a folder holding mdef) in " + folder;
        return false;
    }
    if (need_language_model && files.language_model.empty()) {
        error = "no language model (*.lm.bin, *.lm or *.DMP) in " + folder;
        return false;
    }
    if (files.dictionary.empty()) {
        error = "no pronunciation dictionary (*.dict) in " + folder;
        return false;
    }
    return acoustic_model_is_sound(files.acoustic_model, error) &&
           (!need_language_model || check_language_model_file(files.language_model, error));
}

} // namespace kelvo_asr
