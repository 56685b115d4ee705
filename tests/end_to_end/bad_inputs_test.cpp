// The tool with the real engine on hostile input: broken and unusual WAV files, broken model folders,
// garbage turns and extra-words files and command lines from a buggy caller. Every run must end with
// exactly one JSON text on standard output and status 0 or 1; each case states which text.

#include "engine/kelvo_asr.h"
#include "formats/formats.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char ** environ;

namespace {

const std::string audio_error = "{\"error\":\"could not read the audio (it must be 16 kHz mono WAV)\"}\n";
const std::string loaded      = "progress 0.000 loading\nusing CPU\n";
const std::string no_words    = "{\"words\":[]}\n";
const std::string silent_err  = loaded + "progress 0.000 transcribing\nprogress 1.000 done\n";

// About 3 s of LibriVox speech, 16 kHz mono 16-bit: "he was not an ill disposed young man".
std::string clip_path() {
    return testdata_dir() + "/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
}

// A WAV file of `data`.
std::string wav_bytes(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, const std::string & data) {
    return wav_file_bytes(format, channels, rate, bits, data, static_cast<uint32_t>(data.size()));
}

// An AIFF file at 16 kHz, mono, 16-bit, holding the little-endian 16-bit samples of `data`.
std::string aiff_16k_mono(const std::string & data) {
    auto be = [](std::string & out, uint64_t value, int bytes) {
        for (int i = bytes - 1; i >= 0; i--) {
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
        }
    };
    std::string comm = "COMM";
    be(comm, 18, 4);
    be(comm, 1, 2);                                                      // channels
    be(comm, data.size() / 2, 4);                                        // frames
    be(comm, 16, 2);                                                     // bits
    comm += std::string("\x40\x0c\xfa\x00\x00\x00\x00\x00\x00\x00", 10); // 16000 as an 80-bit float
    std::string ssnd = "SSND";
    be(ssnd, 8 + data.size(), 4);
    be(ssnd, 0, 8); // offset and block size
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        ssnd.push_back(data[i + 1]);
        ssnd.push_back(data[i]);
    }
    std::string form = "FORM";
    be(form, 4 + comm.size() + ssnd.size(), 4);
    return form + "AIFF" + comm + ssnd;
}

// The clip's samples as the 16-bit values of its file.
const std::vector<int32_t> & clip_values() {
    static const std::vector<int32_t> values = [] {
        std::vector<float> samples;
        int32_t            rate = 0;
        kelvo_asr::load_audio_file(clip_path(), samples, rate);
        std::vector<int32_t> v;
        for (float s : samples) {
            v.push_back(static_cast<int32_t>(std::lrint(s * 32768.0f)));
        }
        return v;
    }();
    return values;
}

ProcessResult run_tool(const std::vector<std::string> &                         args,
                       const std::vector<std::pair<std::string, std::string>> & env = {}) {
    std::vector<std::string> argv = { asr_binary() };
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult r = run_process(argv, env);
    // Whatever the input: one JSON text, status 0 with a words document, 1 with an error object.
    EXPECT_TRUE(is_valid_json(r.out)) << r.out;
    EXPECT_TRUE((r.status == 0 && r.out.rfind("{\"words\":", 0) == 0) ||
                (r.status == 1 && r.out.rfind("{\"error\":", 0) == 0))
        << r.status << " " << r.out;
    return r;
}

ProcessResult run_on(const std::string & audio, const std::vector<std::string> & extra = {}) {
    std::vector<std::string> args = { "--asr", model_dir(), "--aligner", model_dir(), "--audio", audio };
    args.insert(args.end(), extra.begin(), extra.end());
    return run_tool(args);
}

// The clip as it stands: what every harmless variation of the inputs must reproduce byte for byte.
const ProcessResult & baseline() {
    static const ProcessResult r = run_on(clip_path());
    return r;
}

// The baseline document with every word labelled `who`.
std::string with_who(const std::string & doc, const std::string & who) {
    std::string out;
    for (size_t i = 0; i < doc.size(); i++) {
        if (doc[i] == '}' && i + 1 < doc.size() && (doc[i + 1] == ',' || doc[i + 1] == ']')) {
            out += ",\"who\":\"" + who + "\"";
        }
        out.push_back(doc[i]);
    }
    return out;
}

// Runs the tool with the stream `closed_fd` (1 or 2) going into a pipe that nobody reads, as a caller that
// stops listening would leave it, and the other stream into a pipe read to the end. SIGPIPE is reset to its
// default in the child, so the test does not depend on what the test runner does with it.
ProcessResult run_with_deaf_stream(const std::vector<std::string> & args, int closed_fd) {
    ProcessResult result{ "", "", -1 };
    int           deaf[2];
    int           heard[2];
    if (pipe(deaf) != 0 || pipe(heard) != 0) {
        return result;
    }
    close(deaf[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, deaf[1], closed_fd);
    posix_spawn_file_actions_adddup2(&actions, heard[1], closed_fd == 1 ? 2 : 1);
    posix_spawn_file_actions_addclose(&actions, heard[0]);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> argv = { asr_binary() };
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> argp;
    for (auto & a : argv) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);
    pid_t pid = 0;
    int   rc  = posix_spawn(&pid, argp[0], &actions, &attr, argp.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(deaf[1]);
    close(heard[1]);
    std::string & text = closed_fd == 1 ? result.err : result.out;
    char          buf[4096];
    for (ssize_t n; rc == 0 && (n = read(heard[0], buf, sizeof buf)) > 0;) {
        text.append(buf, static_cast<size_t>(n));
    }
    close(heard[0]);
    int status = 0;
    if (rc == 0 && waitpid(pid, &status, 0) == pid) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return result;
}

class BadInputs : public ::testing::Test {
  protected:
    std::string dir = make_temp_dir();

    std::string file(const std::string & name, const std::string & bytes) {
        std::string path = dir + "/" + name;
        EXPECT_TRUE(write_file(path, bytes));
        return path;
    }

    // For the cases compared with the clip's own document: the clip is read and gives one.
    void need_baseline() {
        ASSERT_EQ(clip_values().size(), 47840u);
        ASSERT_EQ(baseline().status, 0) << baseline().out;
        ASSERT_EQ(baseline().err,
                  loaded + "progress 0.000 transcribing\nprogress 0.600 aligning\nprogress 1.000 done\n");
        ASSERT_GE(document_words(baseline().out).value_or(std::vector<DocumentWord>{}).size(), 5u) << baseline().out;
    }
};

TEST_F(BadInputs, UnreadableOrWrongRateAudioGivesOnlyTheAudioError) {
    std::string tone;
    for (int i = 0; i < 4410; i++) {
        append_le(tone, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(i * 0.05))), 2);
    }
    std::string  random_bytes;
    std::mt19937 gen(11);
    for (int i = 0; i < 20000; i++) {
        random_bytes.push_back(static_cast<char>(gen() & 0xFF));
    }
    const std::string speech16 = wav_bytes(1, 1, 16000, 16, std::string(3200, '\0'));
    std::string       no_fmt   = "RIFF" + std::string("\x24\x00\x00\x00", 4) + "WAVEdata" + std::string(4, '\0');
    std::filesystem::create_directory(dir + "/folder.wav");

    const std::vector<std::pair<std::string, std::string>> cases = {
        { "44k.wav", wav_bytes(1, 1, 44100, 16, tone) },
        { "8k.wav", wav_bytes(1, 1, 8000, 16, tone) },
        { "header_only.wav", speech16.substr(0, 30) },
        { "random.wav", random_bytes },
        { "riff_random.wav", "RIFF\xff\xff\xff\xffWAVE" + random_bytes },
        { "no_fmt_chunk.wav", no_fmt },
        { "unknown_codec.wav", wav_bytes(0x7777, 1, 16000, 16, std::string(3200, '\x11')) },
        { "zero_channels.wav", wav_bytes(1, 0, 16000, 16, std::string(3200, '\x11')) },
        { "empty.wav", "" },
        { "tone.aiff", aiff_16k_mono(tone) }, // 16 kHz, but another container than WAV
    };
    std::vector<std::string> paths;
    for (const auto & [name, bytes] : cases) {
        paths.push_back(file(name, bytes));
    }
    paths.push_back(dir + "/folder.wav");
    paths.push_back(dir + "/missing.wav");
    paths.push_back(dir + "/" + std::string(300, 'n') + ".wav"); // a name longer than the system allows
    paths.push_back(dir + "/\x01\x7f\xff.wav");                  // control bytes and 0xFF, missing
    paths.push_back("/dev/zero");                                // a device that never reaches its end
    for (const std::string & path : paths) {
        ProcessResult r = run_on(path);
        EXPECT_EQ(r.out, audio_error) << path;
        EXPECT_EQ(r.err, "") << path;
        EXPECT_EQ(r.status, 1) << path;
    }
}

TEST_F(BadInputs, OtherEncodingsOfTheSameSamplesGiveTheSameDocument) {
    ASSERT_NO_FATAL_FAILURE(need_baseline());
    std::string stereo;
    std::string pcm24;
    std::string float32;
    for (int32_t v : clip_values()) {
        append_le(stereo, static_cast<uint16_t>(v), 2);
        append_le(stereo, static_cast<uint16_t>(v), 2);
        append_le(pcm24, static_cast<uint32_t>(v * 256), 3);
        const float f    = static_cast<float>(v) / 32768.0f;
        uint32_t    bits = 0;
        std::memcpy(&bits, &f, 4);
        append_le(float32, bits, 4);
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        { "stereo_same.wav", wav_bytes(1, 2, 16000, 16, stereo) },
        { "pcm24.wav", wav_bytes(1, 1, 16000, 24, pcm24) },
        { "float32.wav", wav_bytes(3, 1, 16000, 32, float32) },
    };
    for (const auto & [name, bytes] : cases) {
        ProcessResult r = run_on(file(name, bytes));
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, baseline().out) << name;
        EXPECT_EQ(r.err, baseline().err) << name;
    }
}

TEST_F(BadInputs, DegenerateRecordingsGiveAValidDocument) {
    ASSERT_EQ(clip_values().size(), 47840u);
    const std::vector<int32_t> & values  = clip_values();
    const double                 seconds = static_cast<double>(values.size()) / 16000.0;

    // Stereo whose channels cancel: averaged, it is silence.
    std::string cancelling;
    for (int32_t v : values) {
        append_le(cancelling, static_cast<uint16_t>(v), 2);
        append_le(cancelling, static_cast<uint16_t>(v == -32768 ? 32767 : -v), 2);
    }
    ProcessResult r = run_on(file("cancelling.wav", wav_bytes(1, 2, 16000, 16, cancelling)));
    EXPECT_EQ(r.out, no_words);
    EXPECT_EQ(r.err, silent_err);
    EXPECT_EQ(r.status, 0);

    // No samples at all: one empty segment, no words.
    r = run_on(file("no_samples.wav", wav_bytes(1, 1, 16000, 16, "")));
    EXPECT_EQ(r.out, no_words);
    EXPECT_EQ(r.err, silent_err);
    EXPECT_EQ(r.status, 0);

    // A data chunk that claims 2 GiB and holds 1 s: the second that is there is transcribed.
    std::string one_second;
    for (size_t i = 0; i < 16000; i++) {
        append_le(one_second, static_cast<uint16_t>(values[i]), 2);
    }
    r = run_on(file("claims_2gib.wav", wav_file_bytes(1, 1, 16000, 16, one_second, 0x80000000u)));
    ASSERT_EQ(r.status, 0) << r.out;
    auto words = document_words(r.out);
    ASSERT_TRUE(words.has_value()) << r.out;
    EXPECT_FALSE(words->empty()) << r.out;
    for (const DocumentWord & w : *words) {
        EXPECT_LE(w.end, 1.0005) << r.out;
    }

    // 8-bit samples, and float samples with NaN and infinities mixed into the speech: words inside the
    // recording, with finite times.
    std::string pcm8;
    std::string specials;
    for (size_t i = 0; i < values.size(); i++) {
        pcm8.push_back(static_cast<char>((values[i] >> 8) + 128));
        float f = static_cast<float>(values[i]) / 32768.0f;
        if (i % 997 == 0) {
            f = std::numeric_limits<float>::quiet_NaN();
        } else if (i % 1999 == 5) {
            f = std::numeric_limits<float>::infinity();
        } else if (i % 2999 == 9) {
            f = -std::numeric_limits<float>::infinity();
        }
        uint32_t bits = 0;
        std::memcpy(&bits, &f, 4);
        append_le(specials, bits, 4);
    }
    for (const auto & [name, bytes] : std::vector<std::pair<std::string, std::string>>{
             { "pcm8.wav", wav_bytes(1, 1, 16000, 8, pcm8) },
             { "float_specials.wav", wav_bytes(3, 1, 16000, 32, specials) },
         }) {
        r = run_on(file(name, bytes));
        ASSERT_EQ(r.status, 0) << name << " " << r.out;
        words = document_words(r.out);
        ASSERT_TRUE(words.has_value()) << r.out;
        EXPECT_GE(words->size(), 3u) << name << " " << r.out;
        for (const DocumentWord & w : *words) {
            EXPECT_TRUE(std::isfinite(w.start) && std::isfinite(w.end)) << name;
            EXPECT_GE(w.start, 0.0) << name;
            EXPECT_LE(w.end, seconds + 0.0005) << name;
        }
    }
}

TEST_F(BadInputs, BrokenModelFoldersGiveTheLoadErrorNamingWhatIsMissing) {
    // A model folder without its dictionary: the acoustic and language models are there.
    const std::string no_dict = dir + "/no_dict";
    std::filesystem::create_directory(no_dict);
    std::filesystem::create_directory_symlink(model_dir() + "/en-us", no_dict + "/en-us");
    std::filesystem::create_symlink(model_dir() + "/en-us.lm.bin", no_dict + "/en-us.lm.bin");
    const std::string not_a_folder = file("model.bin", "not a model");

    struct Case {
        std::string asr;
        std::string aligner;
        std::string out;
    };
    const std::vector<Case> cases = {
        { no_dict, model_dir(),
          "{\"error\":\"could not load the speech model: no pronunciation dictionary (*.dict) in " + no_dict +
              "\"}\n" },
        { model_dir(), no_dict,
          "{\"error\":\"could not load the aligner: no pronunciation dictionary (*.dict) in " + no_dict + "\"}\n" },
        { not_a_folder, model_dir(),
          "{\"error\":\"could not load the speech model: model folder not found: " + not_a_folder + "\"}\n" },
        { dir + "/missing", model_dir(),
          "{\"error\":\"could not load the speech model: model folder not found: " + dir + "/missing\"}\n" },
    };
    for (const Case & c : cases) {
        ProcessResult r = run_tool({ "--asr", c.asr, "--aligner", c.aligner, "--audio", clip_path() });
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, loaded);
        EXPECT_EQ(r.status, 1);
    }
}

// A copy of the model folder (links to its files) in which `part` of the acoustic model is cut to 3000 bytes.
std::string model_with_truncated(const std::string & root, const std::string & part) {
    namespace fs           = std::filesystem;
    const std::string copy = root + "/truncated_" + part;
    fs::create_directories(copy + "/en-us");
    for (const fs::directory_entry & e : fs::directory_iterator(model_dir())) {
        if (e.is_regular_file()) {
            fs::create_symlink(e.path(), copy + "/" + e.path().filename().string());
        }
    }
    for (const fs::directory_entry & e : fs::directory_iterator(model_dir() + "/en-us")) {
        const std::string name = e.path().filename().string();
        if (name != part) {
            fs::create_symlink(e.path(), copy + "/en-us/" + name);
        }
    }
    std::ifstream in(model_dir() + "/en-us/" + part, std::ios::binary);
    std::string   head(3000, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    EXPECT_TRUE(write_file(copy + "/en-us/" + part, head));
    return copy;
}

TEST_F(BadInputs, ModelFilesTheDecoderCrashesOnGiveAnErrorObject) {
    // The decoder library does not check the length of a binary model definition (it crashes while
    // loading) nor of the mixture-weight dump it maps (it crashes on the first audio): the engine checks
    // both before the library reads them and names the file.
    const std::string bad_mdef    = model_with_truncated(dir, "mdef");
    const std::string bad_sendump = model_with_truncated(dir, "sendump");
    const std::string mdef_text   = bad_mdef + "/en-us/mdef is damaged: it ends inside its phone table\"}\n";
    const std::string sendump_text =
        bad_sendump + "/en-us/sendump is damaged: it is shorter than its header announces\"}\n";
    const std::string speech  = "{\"error\":\"could not load the speech model: the acoustic model file ";
    const std::string aligner = "{\"error\":\"could not load the aligner: the acoustic model file ";
    struct Case {
        std::string asr;
        std::string aligner;
        std::string out;
    };
    const std::vector<Case> cases = {
        { bad_mdef, model_dir(), speech + mdef_text },
        { model_dir(), bad_mdef, aligner + mdef_text },
        { bad_sendump, model_dir(), speech + sendump_text },
        { model_dir(), bad_sendump, aligner + sendump_text },
    };
    for (const Case & c : cases) {
        ProcessResult r = run_tool({ "--asr", c.asr, "--aligner", c.aligner, "--audio", clip_path() });
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, loaded);
        EXPECT_EQ(r.status, 1);
    }
}

TEST_F(BadInputs, GarbageTurnsAndExtraWordsFilesGiveAValidDocument) {
    ASSERT_NO_FATAL_FAILURE(need_baseline());
    const std::string bom = "\xEF\xBB\xBF";
    // Extra words that would restore an "um" after "was", were they read past the point where the file breaks.
    const std::string late_um = " 0.30 um 0.56 not\n";
    struct Case {
        std::string name;
        std::string turns;
        std::string extra_words;
        std::string out; // the expected document
    };
    const std::vector<Case> cases = {
        { "byte order mark", bom + "0.0 1e308 P\n", bom + "0.23 he 0.35 was\n" + late_um, baseline().out },
        { "decimal comma", "0,0 1e308 P\n", "0,23 he 0,35 was" + late_um, baseline().out },
        { "nan, 1e400", "nan 1e308 P\n0.0 1e308 P\n", "0.23 he 0.35 was 1e400 um" + late_um, baseline().out },
        { "inf, nan", "0.0 inf P\n0.0 1e308 P\n", "0.23 he 0.35 was nan um" + late_um, baseline().out },
        { "1e308 and crlf", "-1e308\r\n1e308\r\nCarer\r\n", "1e308 um\r\n-1e308 uh\r\n",
          with_who(baseline().out, "C") },
        { "control bytes and 0xff in the label", "0.0 1e308 \xff\x01P\x7f\n", "", baseline().out },
        { "10 MB line", "0.0 1e308 P" + std::string(10u << 20, 'x') + "\n", "", with_who(baseline().out, "P") },
        { "100,000-byte label", "0.0 1e308 C" + std::string(100000, '\xff') + "\n", "", with_who(baseline().out, "C") },
    };
    for (const Case & c : cases) {
        std::vector<std::string> extra = { "--turns", file("turns.txt", c.turns) };
        if (!c.extra_words.empty()) {
            extra.insert(extra.end(), { "--extra-words", file("extra.txt", c.extra_words) });
        }
        ProcessResult r = run_on(clip_path(), extra);
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, baseline().err) << c.name;
        EXPECT_EQ(r.status, 0) << c.name;
    }

    // "um" lies between the anchors "he" and "not" with one recognised word between them, so it is put
    // back after "he" whatever odd words stand beside it in the file.
    const std::vector<std::pair<std::string, std::string>> restoring = {
        { "control bytes and crlf", "0.23 he\r\n0.30 \x01um\x02\r\n0.56 not\r\n" },
        { "a 10 MB word and a 100,000-byte word of 0xff", "0.23 he 0.30 um 0.40 " + std::string(10u << 20, 'z') +
                                                              "\n0.45 " + std::string(100000, '\xff') + " 0.56 not\n" },
    };
    const std::vector<DocumentWord> plain = *document_words(baseline().out);
    for (const auto & [name, bytes] : restoring) {
        ProcessResult r = run_on(clip_path(), { "--extra-words", file("extra.txt", bytes) });
        ASSERT_EQ(r.status, 0) << name << " " << r.out;
        auto words = document_words(r.out);
        ASSERT_TRUE(words.has_value()) << r.out;
        ASSERT_EQ(words->size(), plain.size() + 1) << name << " " << r.out;
        EXPECT_EQ((*words)[1].text, "um") << name;
        EXPECT_TRUE((*words)[1].added) << name;
        for (size_t i = 0; i < plain.size(); i++) {
            EXPECT_EQ((*words)[i < 1 ? i : i + 1].text, plain[i].text) << name;
        }
    }
}

TEST_F(BadInputs, CommandLinesFromABuggyCaller) {
    ASSERT_NO_FATAL_FAILURE(need_baseline());
    const std::string usage_error =
        "{\"error\":\"usage: tavrik-asr --asr <model> --aligner <model> --audio <16 kHz mono wav>\"}\n";
    const std::string                           m           = model_dir();
    const std::string                           a           = clip_path();
    const std::vector<std::vector<std::string>> usage_cases = {
        {},
        { "--asr", m, "--aligner", m, "--audio", a, "--asr" },
        { "--asr", "--aligner", m, "--audio", a },
        { "--asr=" + m, "--aligner", m, "--audio", a },
        { "--ASR", m, "--aligner", m, "--audio", a },
        { "--asr", m, "--aligner", m, "--audio", "" },
        { "--asr", m, "--aligner", m, "--audio\xff", a },
        { std::string(100000, '-'), "--asr", m, "--aligner", m },
    };
    for (const auto & args : usage_cases) {
        ProcessResult r = run_tool(args);
        EXPECT_EQ(r.out, usage_error) << args.size();
        EXPECT_EQ(r.err, "") << args.size();
        EXPECT_EQ(r.status, 1) << args.size();
    }

    // Unknown words, bad thread counts and odd values around complete options change nothing; an
    // unreadable turns file and a missing extra-words file are empty ones; KELVO_USE_VRAM may be anything.
    std::filesystem::create_directory(dir + "/turns_folder");
    // "--version" is an unknown word to the tool, skipped like the others.
    std::vector<std::string> args = { "--version", "--threads", "-5", "--verbose", "2", "--ASR", "m.bin", "stray.wav" };
    args.insert(args.end(), { "--turns", dir + "/turns_folder", "--extra-words", dir + "/missing.txt" });
    args.insert(args.end(), { "--threads", "abc", "--asr", m, "--aligner", m, "--audio", a });
    args.insert(args.end(), { "--threads", "99999999999", "--language", "\x01\xff\"", "--threads" });
    ProcessResult r = run_tool(args, { { "KELVO_USE_VRAM", "\xff" } });
    EXPECT_EQ(r.out, baseline().out);
    EXPECT_EQ(r.err, baseline().err);
    EXPECT_EQ(r.status, 0);
}

TEST_F(BadInputs, ACallerThatStopsReadingAStreamStillGetsTheExitStatus) {
    ASSERT_NO_FATAL_FAILURE(need_baseline());
    const std::vector<std::string> run = { "--asr", model_dir(), "--aligner", model_dir(), "--audio", clip_path() };

    // Nobody reads the progress lines: the document still comes, whole, with status 0.
    ProcessResult r = run_with_deaf_stream(run, 2);
    EXPECT_EQ(r.out, baseline().out);
    EXPECT_EQ(r.status, 0);

    // Nobody reads standard output: the status still tells success or failure.
    r = run_with_deaf_stream(run, 1);
    EXPECT_EQ(r.err, baseline().err);
    EXPECT_EQ(r.status, 0);
    r = run_with_deaf_stream({ "--asr", model_dir(), "--aligner", model_dir(), "--audio", dir + "/missing.wav" }, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
}

} // namespace
