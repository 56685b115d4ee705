// Damaged model folders: every file the engine reads, cut short or with one byte flipped at reproducible
// random offsets, passed both as --asr and as --aligner. A caller must always get one JSON text back: the
// words document with status 0 when the library accepted the file, an error object with status 1 otherwise.

#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

namespace fs = std::filesystem;

struct Damage {
    std::string file; // relative to the model folder
    std::string what; // for the failure message
    std::string bytes;
};

const char * const acoustic_files[] = { "mdef",    "means",       "variances", "transition_matrices",
                                        "sendump", "feat.params", "noisedict" };

// A small sound model folder: the acoustic model with a dictionary and a language model of the recording's
// words. It loads in a fraction of the full model's time, so a run's time goes to the damaged folder.
std::string small_model(const std::string & root) {
    const std::string dir = root + "/small";
    fs::create_directories(dir + "/en-us");
    for (const fs::directory_entry & e : fs::directory_iterator(model_dir() + "/en-us")) {
        fs::create_symlink(e.path(), dir + "/en-us/" + e.path().filename().string());
    }
    EXPECT_TRUE(write_file(dir + "/words.dict", "cat K AE T\nmat M AE T\non AA N\nsat S AE T\nthe DH AH\n"));
    EXPECT_TRUE(write_file(dir + "/words.lm", "\\data\\\nngram 1=7\n\n\\1-grams:\n-1 <s>\n-1 </s>\n-1 cat\n-1 mat\n"
                                              "-1 on\n-1 sat\n-1 the\n\n\\end\\\n"));
    return dir;
}

// A model folder in which `damage.file` holds `damage.bytes`: the small model's folder for a damaged
// acoustic model file, the full model's dictionary and language model for a damaged one of those.
std::string damaged_copy(const std::string & small, const std::string & root, int n, const Damage & damage) {
    const std::string copy = root + "/model" + std::to_string(n);
    fs::create_directories(copy + "/en-us");
    for (const fs::directory_entry & e : fs::directory_iterator(small + "/en-us")) {
        fs::copy_symlink(e.path(), copy + "/en-us/" + e.path().filename().string());
    }
    if (damage.file.rfind("en-us/", 0) == 0) {
        fs::remove(copy + "/" + damage.file);
        fs::create_symlink(small + "/words.dict", copy + "/words.dict");
        fs::create_symlink(small + "/words.lm", copy + "/words.lm");
    } else {
        // The full dictionary goes with the full language model: with a small one, loading takes seconds.
        for (const char * part : { "cmudict-en-us.dict", "en-us.lm.bin" }) {
            if (damage.file != part) {
                fs::create_symlink(model_dir() + "/" + part, copy + "/" + part);
            }
        }
    }
    EXPECT_TRUE(write_file(copy + "/" + damage.file, damage.bytes));
    return copy;
}

// Each file the engine reads, cut at a drawn offset and with a byte flipped in its header and in its body.
// Cutting a file to nothing is left to the tests of missing parts.
std::vector<Damage> damages(bool short_list) {
    std::vector<std::string> files;
    for (const char * f : acoustic_files) {
        files.push_back(std::string("en-us/") + f);
    }
    files.push_back("cmudict-en-us.dict");
    files.push_back("en-us.lm.bin");
    std::mt19937_64     draw(21);
    std::vector<Damage> out;
    for (const std::string & file : files) {
        const std::string bytes = read_file(model_dir() + "/" + file);
        EXPECT_GT(bytes.size(), 1u) << file;
        if (bytes.size() < 2) {
            continue;
        }
        const size_t cut    = 1 + draw() % (bytes.size() - 1);
        const size_t header = draw() % std::min<size_t>(bytes.size(), 256);
        const size_t body   = draw() % bytes.size();
        out.push_back({ file, "cut at " + std::to_string(cut), bytes.substr(0, cut) });
        for (size_t at : { header, body }) {
            std::string flipped = bytes;
            flipped[at]         = static_cast<char>(flipped[at] ^ 0xFF);
            out.push_back({ file, "byte " + std::to_string(at) + " flipped", flipped });
            if (short_list) {
                break;
            }
        }
    }
    return out;
}

TEST(DamagedModel, EveryRunEndsWithOneJsonTextAndStatusZeroOrOne) {
    const std::string dir = make_temp_dir();
    if (!have_command("espeak-ng") || !have_command("sox")) {
        GTEST_SKIP() << "espeak-ng and sox make the recording";
    }
    const std::string audio = dir + "/short.wav";
    ASSERT_TRUE(synthesize_speech("the cat sat on the mat", "en-us", 170, audio));
#if defined(__SANITIZE_ADDRESS__)
    const bool short_list = true; // each run is several times slower: one flip per file
#else
    const bool short_list = false;
#endif
    const std::string small = small_model(dir);
    int               n     = 0;
    for (const Damage & damage : damages(short_list)) {
        const std::string model = damaged_copy(small, dir, n++, damage);
        for (const bool as_aligner : { false, true }) {
            // The aligner reads no language model.
            if (as_aligner && damage.file == "en-us.lm.bin") {
                continue;
            }
            SCOPED_TRACE(damage.file + " " + damage.what + (as_aligner ? " as --aligner" : " as --asr"));
            const ProcessResult r = run_process({ asr_binary(), "--asr", as_aligner ? small : model, "--aligner",
                                                  as_aligner ? model : small, "--audio", audio });
            EXPECT_TRUE(is_valid_json(r.out)) << r.status << " " << r.out;
            const std::string prefix = as_aligner ? "{\"error\":\"could not load the aligner: "
                                                  : "{\"error\":\"could not load the speech model: ";
            if (r.status == 0) {
                EXPECT_EQ(r.out.rfind("{\"words\":", 0), 0u) << r.out;
            } else {
                EXPECT_EQ(r.status, 1) << r.out;
                EXPECT_TRUE(r.out.rfind(prefix, 0) == 0 || r.out.rfind("{\"error\":\"transcription failed: ", 0) == 0 ||
                            r.out.rfind("{\"error\":\"alignment failed: ", 0) == 0)
                    << r.out;
            }
            // A file found damaged is named.
            if (r.out.find(" is damaged: ") != std::string::npos) {
                EXPECT_NE(r.out.find(model + "/" + damage.file + " is damaged: "), std::string::npos) << r.out;
            }
        }
        fs::remove_all(model);
    }
}

// A damage no check foresees (a text model definition is left to the library, which ends the process on
// a header it cannot read) still ends the run with one error object, for either folder.
TEST(DamagedModel, AnExitInsideTheLibraryStillLeavesOneErrorObject) {
    const std::string dir   = make_temp_dir();
    const std::string small = small_model(dir);
    const std::string model = damaged_copy(small, dir, 0, { "en-us/mdef", "", "0.3\nnot a header\n" });
    const std::string audio = dir + "/silence.wav";
    ASSERT_TRUE(write_wav_pcm16(audio, std::vector<float>(8000, 0.0f), 16000));
    const std::string stopped = "the decoder library stopped the run while reading the model in " + model;
    for (const bool as_aligner : { false, true }) {
        const ProcessResult r = run_process({ asr_binary(), "--asr", as_aligner ? small : model, "--aligner",
                                              as_aligner ? model : small, "--audio", audio });
        EXPECT_EQ(r.out, std::string("{\"error\":\"could not load the ") +
                             (as_aligner ? "aligner: " : "speech model: ") + stopped +
                             " (are its files damaged?)\"}\n");
        EXPECT_EQ(r.status, 1);
    }
}

} // namespace
