#include "engine/kelvo_asr.h"
#include "engine/model_files/model_files_check.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// A copy of the model folder (links to its parts) without the parts named in `leave_out`.
std::string partial_model(const std::vector<std::string> & leave_out) {
    std::string dir = make_temp_dir();
    for (const auto & entry : fs::directory_iterator(model_dir())) {
        std::string name = entry.path().filename().string();
        bool        skip = false;
        for (const std::string & l : leave_out) {
            skip = skip || name == l;
        }
        if (!skip) {
            fs::create_symlink(entry.path(), fs::path(dir) / name);
        }
    }
    return dir;
}

TEST(LoadModel, FailuresNameWhatIsMissingAndWhere) {
    const struct {
        const char *             name;
        std::vector<std::string> leave_out;
        bool                     recogniser_ok;
        bool                     aligner_ok;
        const char *             text; // in the failure text of whichever load fails
    } cases[] = {
        { "no dictionary", { "cmudict-en-us.dict" }, false, false, "no pronunciation dictionary (*.dict) in " },
        { "no language model", { "en-us.lm.bin", "en-us-phone.lm.bin" }, false, true, "no language model" },
        { "no acoustic model", { "en-us" }, false, false, "no acoustic model" },
    };
    for (const auto & c : cases) {
        SCOPED_TRACE(c.name);
        std::string              dir = partial_model(c.leave_out);
        kelvo_asr::KelvoASR      asr;
        kelvo_asr::ForcedAligner aligner;
        EXPECT_EQ(asr.load_model(dir), c.recogniser_ok) << asr.last_error();
        EXPECT_EQ(aligner.load_model(dir), c.aligner_ok) << aligner.last_error();
        for (const std::string * e : { &asr.last_error(), &aligner.last_error() }) {
            if (!e->empty()) {
                EXPECT_NE(e->find(c.text), std::string::npos) << *e;
                EXPECT_NE(e->find(dir), std::string::npos) << *e;
            }
        }
    }
}

TEST(LoadModel, MissingFolderFails) {
    std::string              dir = make_temp_dir() + "/absent";
    kelvo_asr::KelvoASR      asr;
    kelvo_asr::ForcedAligner aligner;
    EXPECT_TRUE(asr.last_error().empty());
    EXPECT_FALSE(asr.load_model(dir));
    EXPECT_FALSE(aligner.load_model(dir));
    EXPECT_NE(asr.last_error().find(dir), std::string::npos);
    EXPECT_NE(aligner.last_error().find(dir), std::string::npos);
}

TEST(LoadModel, BrokenAcousticModelFailsWithoutCrashing) {
    std::string dir = make_temp_dir();
    fs::create_directory(dir + "/am");
    ASSERT_TRUE(write_file(dir + "/am/mdef", "not a model definition\n"));
    ASSERT_TRUE(write_file(dir + "/words.dict", "hello HH AH L OW\n"));
    fs::create_symlink(fs::path(model_dir()) / "en-us.lm.bin", fs::path(dir) / "en-us.lm.bin");
    kelvo_asr::KelvoASR      asr;
    kelvo_asr::ForcedAligner aligner;
    EXPECT_FALSE(asr.load_model(dir));
    EXPECT_FALSE(aligner.load_model(dir));
    EXPECT_NE(asr.last_error().find("mdef"), std::string::npos) << asr.last_error();
    EXPECT_NE(aligner.last_error().find(dir), std::string::npos) << aligner.last_error();
    // A failed load leaves no model: calls report failure instead of using a stale decoder.
    std::vector<float> one_second(16000, 0.1f);
    EXPECT_FALSE(asr.transcribe(one_second.data(), 16000, {}).success);
    EXPECT_FALSE(aligner.align(one_second.data(), 16000, "hello", "").success);
}

TEST(LoadModel, CallsWithoutAModelFail) {
    kelvo_asr::KelvoASR          asr;
    kelvo_asr::ForcedAligner     aligner;
    std::vector<float>           samples(16000, 0.0f);
    kelvo_asr::transcribe_result t = asr.transcribe(samples.data(), 16000, {});
    EXPECT_FALSE(t.success);
    EXPECT_FALSE(t.error.empty());
    kelvo_asr::alignment_result a = aligner.align(samples.data(), 16000, "hello", "");
    EXPECT_FALSE(a.success);
    EXPECT_FALSE(a.error.empty());
}

} // namespace

// Stream lists read as the library reads them; a range as wide as six digits allow is read at once (a
// duplicate check once made it quadratic).
TEST(ModelFileChecks, StreamListsAsTheLibraryReadsThem) {
    kelvo_asr::feature_streams streams;
    EXPECT_EQ(kelvo_asr::check_feature_settings("-svspec 0-12/13-25/26-38\n", streams), "");
    EXPECT_EQ(streams.lengths, (std::vector<int32_t>{ 13, 13, 13 }));
    EXPECT_EQ(kelvo_asr::check_feature_settings("-svspec 0-999999\n", streams), "");
    EXPECT_EQ(streams.lengths, (std::vector<int32_t>{ 1000000 }));
    for (const char * bad : { "-svspec 0-5/3-7\n", "-svspec 5-3\n", "-svspec 0-1000000\n", "-svspec 0-12/\n",
                              "-svspec 0-3,9-12/4-9\n", "-svspec 0-12\n-svspec 0-5/3-7\n" }) {
        EXPECT_EQ(kelvo_asr::check_feature_settings(bad, streams), "its stream list (-svspec) is malformed") << bad;
    }
    // A repeated option replaces the one before, as in the library: only the last list is read.
    EXPECT_EQ(kelvo_asr::check_feature_settings("-svspec 0-5/3-7\n-svspec 0-12/13-25/26-38\n", streams), "");
    EXPECT_EQ(streams.lengths, (std::vector<int32_t>{ 13, 13, 13 }));
    EXPECT_EQ(kelvo_asr::check_feature_settings("-svspec 0-3,9-12/4-8\n", streams), "");
    EXPECT_EQ(streams.lengths, (std::vector<int32_t>{ 8, 5 }));
}

// The binary language model's reader follows each n-gram's offset into the next order unchecked: an offset
// past that order's array, or one smaller than the one before, is refused; the Debian models pass.
TEST(ModelFileChecks, TrieOffsetsOutsideTheNextOrderAreRefused) {
    for (const std::string & path :
         { model_dir() + "/en-us.lm.bin", model_dir() + "/en-us-phone.lm.bin", testdata_dir() + "/turtle.lm.bin" }) {
        EXPECT_EQ(kelvo_asr::check_trie_language_model(read_file(path)), "") << path;
    }
    const std::string sound = read_file(model_dir() + "/en-us.lm.bin");
    ASSERT_GT(sound.size(), 100000u);
    // Counts after the header and order; then the quantisation tables; then 12-byte unigrams whose last
    // four bytes are the offset of their first bigram.
    const size_t counts_at   = std::string("Trie Language Model").size() + 1;
    const int    order       = static_cast<unsigned char>(sound[counts_at - 1]);
    const size_t unigrams_at = counts_at + 4 * order + 4 + (order - 2) * (2 << 16) * 4 + (1 << 16) * 4;
    auto         with_next   = [&](size_t unigram, uint32_t next) {
        std::string bytes = sound;
        std::memcpy(bytes.data() + unigrams_at + unigram * 12 + 8, &next, 4);
        return bytes;
    };
    uint32_t bigrams = 0;
    std::memcpy(&bigrams, sound.data() + counts_at + 4, 4);
    EXPECT_EQ(kelvo_asr::check_trie_language_model(with_next(1, bigrams + 1)),
              "its unigrams point outside its bigrams");
    EXPECT_EQ(kelvo_asr::check_trie_language_model(with_next(2, 0)), "its unigrams point outside its bigrams");
    // A bigram's offset into the trigrams: the first bigram's, past every trigram.
    std::string bytes = sound;
    uint32_t    words = 0;
    std::memcpy(&words, sound.data() + counts_at, 4);
    ASSERT_EQ(words, 72547u);
    const size_t bigrams_at = unigrams_at + (size_t{ words } + 1) * 12;
    const int    word_bits  = 17; // enough for the 72547 words of this model
    const int    next_at    = word_bits + 32;
    for (int b = 0; b < 21; b++) {
        const size_t bit = next_at + b;
        bytes[bigrams_at + bit / 8] |= static_cast<char>(1 << (bit % 8));
    }
    EXPECT_EQ(kelvo_asr::check_trie_language_model(bytes), "its 2-grams point outside its 3-grams");
}
