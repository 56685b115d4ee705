// tavrik-words as a user runs it: the exit status, standard output and standard error for a document, an
// error object, standard input and a wrong command line.

#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const std::string words_binary = TAVRIK_WORDS_BINARY;

ProcessResult run_words(const std::vector<std::string> & args) {
    std::vector<std::string> argv = { words_binary };
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
}

TEST(TavrikWords, RefusesErrorObjectsBadDocumentsAndBadCommandLinesWithStatusOne) {
    const std::string dir = make_temp_dir();
    ASSERT_TRUE(write_file(dir + "/error.json", "{\"error\":\"alignment failed: no words\"}\n"));
    ASSERT_TRUE(write_file(dir + "/cut.json", "{\"words\":[{\"text\":\"a\""));
    ASSERT_TRUE(write_file(dir + "/ok.json", "{\"words\":[]}\n"));
    // A recording too large to embed is refused by its size alone, before a byte of it is read.
    ASSERT_TRUE(write_file(dir + "/long.wav", ""));
    std::filesystem::resize_file(dir + "/long.wav", 49u << 20);

    const std::pair<std::vector<std::string>, std::string> cases[] = {
        { { "--format", "srt", dir + "/error.json" },
          "tavrik-words: the document is an error object: alignment failed: no words\n" },
        { { "--format", "vtt", dir + "/cut.json" }, "tavrik-words: not valid JSON: " },
        { { "--format", "tsv", dir + "/missing.json" }, "tavrik-words: cannot read " + dir + "/missing.json\n" },
        { { dir + "/ok.json" }, "tavrik-words: --format is required\nusage: tavrik-words --format" },
        { { "--format", "ass", dir + "/ok.json" }, "tavrik-words: unknown format \"ass\"" },
        { { "--format", "srt", "--lang", "en", dir + "/ok.json" }, "tavrik-words: unknown option --lang" },
        { { "--format", "textgrid", "--audio", dir + "/missing.wav", dir + "/ok.json" },
          "tavrik-words: cannot read the audio " + dir + "/missing.wav\n" },
        { { "--format", "html", "--audio", dir + "/ok.json", dir + "/ok.json" },
          "tavrik-words: cannot read the audio " + dir + "/ok.json\n" },
        { { "--format", "html", "--embed-audio", dir + "/ok.json" },
          "tavrik-words: --embed-audio needs --format html and --audio\n" },
        { { "--min-conf", "0.5", "--format", "srt", dir + "/ok.json" },
          "tavrik-words: --min-conf needs --format vtt\n" },
        { { "--format", "vtt", "--min-conf", "1.5", dir + "/ok.json" },
          "tavrik-words: --min-conf takes a number from 0 to 1, not \"1.5\"\n" },
        { { "--format", "vtt", "--min-conf", "0.5x", dir + "/ok.json" }, "tavrik-words: --min-conf takes a number" },
        { { "--format", "tsv", "--numbers", "digits", dir + "/ok.json" },
          "tavrik-words: --numbers digits needs --format srt or vtt\n" },
        { { "--format", "srt", "--numbers", "roman", dir + "/ok.json" }, "tavrik-words: unknown --numbers \"roman\"" },
        { { "--format", "html", "--audio", dir + "/long.wav", "--embed-audio", dir + "/ok.json" },
          "tavrik-words: the audio " + dir + "/long.wav is 49 MiB, more than the 48 MiB --embed-audio takes" },
    };
    for (const auto & [args, message] : cases) {
        const ProcessResult r = run_words(args);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.substr(0, message.size()), message);
    }
}

TEST(TavrikWords, HelpPrintsTheUsageAndVersionTheVersionOnStandardOutput) {
    for (const std::vector<std::string> & args :
         { std::vector<std::string>{ "--help" }, { "--format", "srt", "--help", "missing.json" } }) {
        const ProcessResult r = run_words(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("usage: tavrik-words --format srt|vtt|textgrid|tsv", 0), 0u) << r.out;
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_EQ(r.err, "");
    }
    for (const std::vector<std::string> & args :
         { std::vector<std::string>{ "--version" }, { "--format", "srt", "--version", "missing.json" } }) {
        const ProcessResult r = run_words(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, std::string("tavrik-words ") + TAVRIK_VERSION + "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(TavrikWords, ConvertsAFileOrStandardInput) {
    const std::string dir      = make_temp_dir();
    const std::string document = "{\"words\":[{\"text\":\"so\",\"start\":0.120,\"end\":0.500,\"who\":\"P\"},"
                                 "{\"text\":\"um\",\"start\":0.610,\"end\":0.800,\"added\":true,\"who\":\"P\"}]}\n";
    ASSERT_TRUE(write_file(dir + "/doc.json", document));
    ASSERT_TRUE(write_wav_pcm16(dir + "/rec.wav", std::vector<float>(32000, 0.0f), 16000));

    const ProcessResult vtt =
        run_process({ "/bin/sh", "-c", "exec \"$0\" --format vtt < \"$1\"", words_binary, dir + "/doc.json" });
    EXPECT_EQ(vtt.status, 0) << vtt.err;
    EXPECT_EQ(vtt.out, "WEBVTT\n\n00:00:00.120 --> 00:00:00.800\n<v P>so um</v>\n");
    EXPECT_EQ(vtt.err, "");

    const ProcessResult grid =
        run_words({ "--format", "textgrid", "--drop-added", "--audio", dir + "/rec.wav", dir + "/doc.json" });
    EXPECT_EQ(grid.status, 0) << grid.err;
    EXPECT_NE(grid.out.find("xmax = 2\n"), std::string::npos) << "the length of the recording";
    EXPECT_NE(grid.out.find("text = \"so\""), std::string::npos);
    EXPECT_EQ(grid.out.find("um"), std::string::npos) << "the restored filler was not dropped";

    ASSERT_TRUE(write_file(dir + "/empty.json", "{\"words\":[]}\n"));
    for (const char * format : { "srt", "vtt", "textgrid", "tsv", "html" }) {
        const ProcessResult r = run_words({ "--format", format, dir + "/empty.json" });
        EXPECT_EQ(r.status, 0) << format;
        EXPECT_EQ(r.err, "");
    }
}

} // namespace
