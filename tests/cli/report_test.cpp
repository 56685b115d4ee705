#include "cli/cli.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonEscape, MapsEveryByteClass) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        { "", "" },
        { "plain words", "plain words" },
        { "say \"hi\"", "say \\\"hi\\\"" },
        { "back\\slash", "back\\\\slash" },
        { "a\tb\nc\rd", "a\\tb\\nc\\rd" },
        { "\x01", "\\u0001" },
        { "\x1f", "\\u001f" },
        { "\x08\x0c", "\\u0008\\u000c" },
        { std::string("a\0b", 3), "a\\u0000b" },
        { "\xc3\xa9", "\xc3\xa9" },
        { "\xff", "\xff" },
        { "\x7f/", "\x7f/" },
    };
    for (const Case & c : cases) {
        EXPECT_EQ(json_escape(c.in), c.out) << "input of " << c.in.size() << " bytes";
    }
}

TEST(JsonEscape, NeverEmitsAControlByte) {
    std::string all;
    for (int b = 0; b < 256; b++) {
        all.push_back(static_cast<char>(b));
    }
    const std::string out = json_escape(all);
    for (char c : out) {
        EXPECT_GE(static_cast<unsigned char>(c), 0x20);
    }
    EXPECT_EQ(out.substr(0, 12), "\\u0000\\u0001");
}

TEST(ReportProgress, ClampsAndRoundsToThreeDecimals) {
    const std::string err = capture_fd(2, [] {
        report_progress(1.5, "done");
        report_progress(-0.25, "loading");
        report_progress(1.0 / 3.0, "transcribing");
        report_progress(2.0 / 3.0, "aligning");
    });
    EXPECT_EQ(err, "progress 1.000 done\nprogress 0.000 loading\nprogress 0.333 transcribing\n"
                   "progress 0.667 aligning\n");
}

TEST(ReportError, WritesOneObjectAndReturnsOne) {
    int               status = 0;
    const std::string out    = capture_fd(1, [&] { status = report_error("bad \"x\" \\ y"); });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "{\"error\":\"bad \\\"x\\\" \\\\ y\"}\n");
    EXPECT_EQ(capture_fd(1, [] { report_error(""); }), "{\"error\":\"\"}\n");
    EXPECT_EQ(capture_fd(1, [] { report_error(std::string("a\0b", 3)); }), "{\"error\":\"a\\u0000b\"}\n");
}

RunOptions scan(std::vector<const char *> args) {
    args.insert(args.begin(), "tavrik-asr");
    return scan_options(static_cast<int>(args.size()), args.data());
}

TEST(ScanOptions, TakesEveryOptionAndSkipsTheRest) {
    RunOptions o = scan({ "--asr", "m.bin", "--aligner", "a.bin", "--audio", "x.wav", "--threads", "2", "--language",
                          "de", "--extra-words", "e.txt", "--turns", "t.txt" });
    EXPECT_EQ(o.asr, "m.bin");
    EXPECT_EQ(o.aligner, "a.bin");
    EXPECT_EQ(o.audio, "x.wav");
    EXPECT_EQ(o.threads, 2);
    EXPECT_EQ(o.language, "de");
    EXPECT_EQ(o.extra_words, "e.txt");
    EXPECT_EQ(o.turns, "t.txt");

    o = scan({ "--verbose", "2", "--ASR", "m.bin", "--asr=z", "stray.wav", "--asr", "m" });
    EXPECT_EQ(o.asr, "m");
    EXPECT_EQ(o.threads, 4);
    EXPECT_TRUE(o.aligner.empty());
}

TEST(ScanOptions, ValuesAreTakenWhateverTheyLookLike) {
    // The last --asr has no value: it replaces m.bin with an empty one.
    EXPECT_EQ(scan({ "--asr", "m.bin", "--aligner", "a.bin", "--audio", "x.wav", "--asr" }).asr, "");
    // --aligner becomes the value of --asr; a.bin is then a stray word.
    RunOptions o = scan({ "--asr", "--aligner", "a.bin", "--audio", "x.wav" });
    EXPECT_EQ(o.asr, "--aligner");
    EXPECT_EQ(o.aligner, "");
    EXPECT_EQ(o.audio, "x.wav");
}

// Adaptation is on unless the value is exactly "off"; the last --adapt wins.
TEST(ScanOptions, AdaptIsOffOnlyForOff) {
    EXPECT_TRUE(scan({ "--asr", "m" }).adapt);
    EXPECT_FALSE(scan({ "--adapt", "off" }).adapt);
    EXPECT_TRUE(scan({ "--adapt", "off", "--adapt", "on" }).adapt);
    EXPECT_TRUE(scan({ "--adapt", "OFF" }).adapt);
    EXPECT_TRUE(scan({ "--adapt", "off", "--adapt" }).adapt); // no value: not "off"
}

// Speakers are labelled for "auto" or a count from 1 to 999; any other value leaves them off; the last wins.
TEST(ScanOptions, SpeakersTakeAutoOrACount) {
    EXPECT_FALSE(scan({ "--asr", "m" }).speakers);
    EXPECT_TRUE(scan({ "--speakers", "auto" }).speakers);
    EXPECT_EQ(scan({ "--speakers", "auto" }).n_speakers, 0);
    EXPECT_EQ(scan({ "--speakers", "3" }).n_speakers, 3);
    EXPECT_EQ(scan({ "--speakers", "999" }).n_speakers, 999);
    for (const char * off : { "0", "-2", "1000", "3x", "AUTO", "" }) {
        EXPECT_FALSE(scan({ "--speakers", off }).speakers) << off;
        EXPECT_EQ(scan({ "--speakers", off }).n_speakers, 0) << off;
    }
    EXPECT_FALSE(scan({ "--speakers", "2", "--speakers", "none" }).speakers);
    EXPECT_FALSE(scan({ "--speakers" }).speakers); // no value
}

TEST(ScanOptions, ThreadCountReadsLikeAtoiAndNeverDropsBelowOne) {
    struct Case {
        std::vector<const char *> args;
        int32_t                   threads;
    };
    const Case cases[] = {
        { {}, 4 },
        { { "--threads", "0" }, 1 },
        { { "--threads", "-5" }, 1 },
        { { "--threads", "abc" }, 1 },
        { { "--threads" }, 1 },
        { { "--threads", "8x" }, 8 },
        { { "--threads", " \t+12" }, 12 },
        { { "--threads", "- 3" }, 1 },
        { { "--threads", "99999999999999999999" }, INT32_MAX },
        { { "--threads", "2147483647" }, INT32_MAX },
        { { "--threads", "3", "--threads", "5" }, 5 },
    };
    for (const Case & c : cases) {
        EXPECT_EQ(scan(c.args).threads, c.threads) << (c.args.size() > 1 ? c.args[1] : "(none)");
    }
}

TEST(ScanOptions, DenoiseIsOnUnlessTheValueIsOff) {
    EXPECT_TRUE(scan({}).denoise);
    EXPECT_FALSE(scan({ "--denoise", "off" }).denoise);
    EXPECT_TRUE(scan({ "--denoise", "off", "--denoise", "on" }).denoise);
    EXPECT_TRUE(scan({ "--denoise", "OFF" }).denoise); // values are exact, as for every option
    EXPECT_TRUE(scan({ "--denoise" }).denoise);
}

} // namespace
