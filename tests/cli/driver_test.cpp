// The driver over the scripted engine: every byte of both streams, the exit status and the engine calls.

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string usage_error = "{\"error\":\"usage: tavrik-asr --asr <model> --aligner <model> --audio <16 kHz mono "
                                "wav>\"}\n";
const std::string audio_error = "{\"error\":\"could not read the audio (it must be 16 kHz mono WAV)\"}\n";
const std::string loaded      = "progress 0.000 loading\nusing CPU\n";

struct DriverRun {
    ProcessResult            result;
    std::vector<std::string> calls; // the engine calls, one line each
};

class Driver : public ::testing::Test {
  protected:
    std::string dir = make_temp_dir();
    // The words as recognised: these tests are about the steps before the words are written as people write
    // them, which has tests of its own.
    bool plain_words = true;

    std::string file(const std::string & name, const std::string & bytes) {
        std::string path = dir + "/" + name;
        write_file(path, bytes);
        return path;
    }

    // Runs the scripted driver with `args`; `launcher` (a command and its arguments) runs it when given.
    DriverRun run(const std::string &      script,
                  std::vector<std::string> args = { "--asr", "m", "--aligner", "a", "--audio", "x.wav" },
                  std::vector<std::pair<std::string, std::string>> env      = {},
                  const std::vector<std::string> &                 launcher = {}) {
        std::string log = dir + "/calls.log";
        std::remove(log.c_str());
        env.push_back({ "TAVRIK_SCRIPT", file("script.txt", script) });
        env.push_back({ "TAVRIK_SCRIPT_LOG", log });
        if (plain_words) {
            args.insert(args.begin(), "--plain-words");
        }
        args.insert(args.begin(), scripted_binary());
        args.insert(args.begin(), launcher.begin(), launcher.end());
        DriverRun   r{ run_process(args, env), {} };
        std::string calls = read_file(log);
        size_t      at    = 0;
        while (at < calls.size()) {
            size_t nl = calls.find('\n', at);
            r.calls.push_back(calls.substr(at, nl - at));
            at = nl + 1;
        }
        return r;
    }
};

const std::string ok_models = "asr_load ok\naligner_load ok\n";

TEST_F(Driver, MissingRequiredOptionsGiveTheUsageErrorAndNothingElse) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        { "--asr", "m.bin", "--aligner", "a.bin", "--audio", "x.wav", "--asr" },
        { "--asr", "--aligner", "a.bin", "--audio", "x.wav" },
        { "--asr", "", "--aligner", "a.bin", "--audio", "x.wav" },
        { "--ASR", "m.bin", "--aligner", "a.bin", "--audio", "x.wav" },
        { "--asr=m.bin", "--aligner", "a.bin", "--audio", "x.wav" },
    };
    for (const auto & args : cases) {
        DriverRun r = run("audio ok 16000 16000\n" + ok_models, args);
        EXPECT_EQ(r.result.out, usage_error);
        EXPECT_EQ(r.result.err, "");
        EXPECT_EQ(r.result.status, 1);
        EXPECT_TRUE(r.calls.empty()) << "the audio is not read before the options are complete";
    }
}

TEST_F(Driver, UnreadableOrWrongRateAudioGivesOnlyTheAudioError) {
    for (const char * audio : { "audio fail\n", "audio ok 44100 44100\n", "audio ok 8000 8000\n" }) {
        DriverRun r = run(std::string(audio) + ok_models);
        EXPECT_EQ(r.result.out, audio_error);
        EXPECT_EQ(r.result.err, "");
        EXPECT_EQ(r.result.status, 1);
        EXPECT_EQ(r.calls, std::vector<std::string>{ "load_audio_file x.wav" });
    }
}

TEST_F(Driver, ModelFailuresCarryTheEngineTextAfterAFixedPrefix) {
    DriverRun r = run("audio ok 16000 16000\nasr_load fail no dictionary \"x\" in /m\n");
    EXPECT_EQ(r.result.out, "{\"error\":\"could not load the speech model: no dictionary \\\"x\\\" in /m\"}\n");
    EXPECT_EQ(r.result.err, loaded);
    EXPECT_EQ(r.result.status, 1);
    EXPECT_EQ(r.calls, (std::vector<std::string>{ "load_audio_file x.wav", "asr construct",
                                                  "asr load m KELVO_USE_VRAM=1", "asr destroy" }));

    r = run("audio ok 16000 16000\nasr_load ok\naligner_load fail\n");
    EXPECT_EQ(r.result.out, "{\"error\":\"could not load the aligner: \"}\n");
    EXPECT_EQ(r.result.err, loaded);
    EXPECT_EQ(r.result.status, 1);
    EXPECT_EQ(r.calls,
              (std::vector<std::string>{ "load_audio_file x.wav", "asr construct", "asr load m KELVO_USE_VRAM=1",
                                         "aligner construct", "aligner load a", "aligner destroy", "asr destroy" }));
}

TEST_F(Driver, LeavesAPresetVramSettingAlone) {
    DriverRun r = run("audio ok 16000 16000\nasr_load fail x\n", { "--asr", "m", "--aligner", "a", "--audio", "x.wav" },
                      { { "KELVO_USE_VRAM", "0" } });
    EXPECT_EQ(r.calls[2], "asr load m KELVO_USE_VRAM=0");
    r = run("audio ok 16000 16000\nasr_load fail x\n", { "--asr", "m", "--aligner", "a", "--audio", "x.wav" },
            { { "KELVO_USE_VRAM", "" } });
    EXPECT_EQ(r.calls[2], "asr load m KELVO_USE_VRAM=");
}

TEST_F(Driver, OneSegmentRunPrintsTheDocumentWithDisplayWords) {
    DriverRun r = run("audio ok 16000 160000\n" + ok_models + "transcribe ok en-us Hello , world .\nalign echo\n",
                      { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--threads", "8x", "--language", "de" });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"Hello,\",\"start\":0.000,\"end\":0.250},"
                            "{\"text\":\"world.\",\"start\":0.500,\"end\":0.750}]}\n");
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\nprogress 0.600 aligning\nprogress 1.000 done\n");
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.calls, (std::vector<std::string>{
                           "load_audio_file x.wav", "asr construct", "asr load m KELVO_USE_VRAM=1", "aligner construct",
                           "aligner load a", "transcribe at 0 n 160000 chunk 1024 language [de] threads 8 flags 00",
                           "align at 0 n 160000 text [Hello world] language [en-us] denoise", "aligner destroy",
                           "asr destroy" }));
}

TEST_F(Driver, DocumentThatCannotBeWrittenEndsTheRunAsAFailure) {
    // Standard output on a full disk: the words are lost, and the run must say so.
    DriverRun r = run("audio ok 16000 160000\n" + ok_models + "transcribe ok en-us Hello\nalign echo\n",
                      { "--asr", "m", "--aligner", "a", "--audio", "x.wav" }, {},
                      { "/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh" });
    EXPECT_EQ(r.result.out, "");
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\nprogress 0.600 aligning\nprogress 1.000 done\n"
                                     "could not write the words document: No space left on device\n");
    EXPECT_EQ(r.result.status, 1);
}

TEST_F(Driver, AnotherWordCountFromTheAlignerPrintsItsOwnTexts) {
    DriverRun r = run("audio ok 16000 16000\n" + ok_models +
                      "transcribe ok en x , y\nalign words p@0.1@0.1 q@0.2@0.2004 r@0.3@0.2\n");
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"p\",\"start\":0.100,\"end\":0.100,\"untimed\":true},"
                            "{\"text\":\"q\",\"start\":0.200,\"end\":0.200,\"untimed\":true},"
                            "{\"text\":\"r\",\"start\":0.300,\"end\":0.200,\"untimed\":true}]}\n");
    EXPECT_EQ(r.result.status, 0);
}

TEST_F(Driver, UntimedIsDecidedOnTheAlignersOwnTimesInSinglePrecision) {
    struct Case {
        const char * name;
        const char * start; // as the aligner gives it (a float)
        const char * end;
        bool         untimed;
    };
    const Case cases[] = {
        { "exact", "0", "0.001", false },          // the difference is 0.001f, a hair above 0.001
        { "below", "0", "0.000999999931", true },  // the float just below 0.001f
        { "rounded", "5.25e-11", "0.001", false }, // below 0.001 in double, rounded up to 0.001f in float
        { "equal", "0.1", "0.1", true },
        { "backwards", "0.3", "0.2", true },
        { "short", "0.1", "0.1005", true },
        { "nan", "nan", "0.5", false },      // a NaN difference is not less than anything
        { "infinite", "inf", "inf", false }, // inf - inf is NaN
    };
    std::string answer = "align words";
    for (const Case & c : cases) {
        answer += std::string(" ") + c.name + "@" + c.start + "@" + c.end;
    }
    // The same answer in segments at 0, 2.85 and 5.85 s: the offset must not enter the test (adding it in single
    // precision would turn "below" into a millisecond at 2.85 s and "exact" into less at 5.85 s). The fourth
    // segment has no match keys: no "aligning" line and no call, so the unused answer stays unused.
    const std::string turns  = file("turns.txt", "0.0 2.0 P\n3.0 5.0 C\n6.0 8.0 C\n9.0 9.5 P\n");
    const std::string script = "audio ok 16000 160000\n" + ok_models +
                               "transcribe ok en x\ntranscribe ok en x\ntranscribe ok en x\ntranscribe ok en , .\n" +
                               answer + "\n" + answer + "\n" + answer + "\nalign echo\n";
    DriverRun r = run(script, { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--turns", turns });

    auto number = [](double seconds) {
        char text[64];
        std::snprintf(text, sizeof(text), "%.3f", seconds);
        return std::isfinite(seconds) ? std::string(text) : std::string("null");
    };
    std::string expected = "{\"words\":[";
    for (const auto & [offset, who] : { std::pair{ 0.0, "P" }, std::pair{ 2.85, "C" }, std::pair{ 5.85, "C" } }) {
        for (const Case & c : cases) {
            expected += std::string(expected.back() == '[' ? "" : ",") + "{\"text\":\"" + c.name +
                        "\",\"start\":" + number(std::stof(c.start) + offset) +
                        ",\"end\":" + number(std::stof(c.end) + offset) + (c.untimed ? ",\"untimed\":true" : "") +
                        ",\"who\":\"" + who + "\"}";
        }
    }
    expected += "]}\n";
    EXPECT_EQ(r.result.out, expected);
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\nprogress 0.150 aligning\n"
                                     "progress 0.250 transcribing\nprogress 0.400 aligning\n"
                                     "progress 0.500 transcribing\nprogress 0.650 aligning\n"
                                     "progress 0.750 transcribing\nprogress 1.000 done\n");
    EXPECT_EQ(r.result.status, 0);
    std::vector<std::string> starts;
    for (const std::string & call : r.calls) {
        if (call.rfind("align at ", 0) == 0) {
            starts.push_back(call.substr(0, call.find(" n ")));
        }
    }
    EXPECT_EQ(starts, (std::vector<std::string>{ "align at 0", "align at 45600", "align at 93600" }));
}

TEST_F(Driver, PathsThatNeverEndOrNeverOpenDoNotHoldTheRun) {
    // A device that never reaches its end as a model, a FIFO that nobody writes to as the other model and as
    // the turns file: the models are left to the engine unread, the FIFO reads as an empty file.
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(access("/usr/bin/timeout", X_OK), 0);
    DriverRun r = run(
        "audio ok 16000 16000\n" + ok_models + "transcribe ok en yes\nalign echo\n",
        { "--asr", "/dev/zero", "--aligner", fifo, "--audio", "x.wav", "--turns", fifo, "--extra-words", "/dev/zero" },
        {}, { "/usr/bin/timeout", "10" });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"yes\",\"start\":0.000,\"end\":0.250}]}\n");
    EXPECT_EQ(r.result.status, 0) << "124: the run did not end within 10 s";
    ASSERT_GE(r.calls.size(), 5u);
    EXPECT_EQ(r.calls[2], "asr load /dev/zero KELVO_USE_VRAM=1");
    EXPECT_EQ(r.calls[4], "aligner load " + fifo);
}

TEST_F(Driver, EmptyRecognitionSkipsAlignment) {
    DriverRun r = run("audio ok 16000 16000\n" + ok_models + "transcribe ok en , ... !\n");
    EXPECT_EQ(r.result.out, "{\"words\":[]}\n");
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\nprogress 1.000 done\n");
    EXPECT_EQ(r.result.status, 0);
    for (const auto & call : r.calls) {
        EXPECT_NE(call.rfind("align ", 0), 0u) << call;
    }
}

TEST_F(Driver, TranscriptionAndAlignmentFailuresEndTheRunWithoutWords) {
    DriverRun r = run("audio ok 16000 16000\n" + ok_models + "transcribe fail decoder \\x01 broke\n");
    EXPECT_EQ(r.result.out, "{\"error\":\"transcription failed: decoder \\u0001 broke\"}\n");
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\n");
    EXPECT_EQ(r.result.status, 1);
    EXPECT_EQ(r.calls.back(), "asr destroy");
    EXPECT_EQ(r.calls[r.calls.size() - 2], "aligner destroy");

    r = run("audio ok 16000 16000\n" + ok_models + "transcribe ok en yes\nalign fail no search\n");
    EXPECT_EQ(r.result.out, "{\"error\":\"alignment failed: no search\"}\n");
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\nprogress 0.600 aligning\n");
    EXPECT_EQ(r.result.status, 1);
}

TEST_F(Driver, ThreeTurnsGiveTheFullProgressScheduleAndLabelledWords) {
    std::string turns = file("turns.txt", "0.0 2.0 P\n3.0 5.0 C\n6.0 8.0 S\n");
    DriverRun   r     = run("audio ok 16000 160000\n" + ok_models +
                                "transcribe ok en one\ntranscribe ok en two\ntranscribe ok en three\n"
                                      "align echo\nalign echo\nalign echo\n",
                            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--turns", turns });
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\nprogress 0.200 aligning\n"
                                     "progress 0.333 transcribing\nprogress 0.533 aligning\n"
                                     "progress 0.667 transcribing\nprogress 0.867 aligning\nprogress 1.000 done\n");
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"one\",\"start\":0.000,\"end\":0.250,\"who\":\"P\"},"
                            "{\"text\":\"two\",\"start\":2.850,\"end\":3.100,\"who\":\"C\"},"
                            "{\"text\":\"three\",\"start\":5.850,\"end\":6.100}]}\n");
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.calls[5], "transcribe at 0 n 34400 chunk 1024 language [] threads 4 flags 00");
    // The segments go to the recogniser in one batch, before the first is aligned.
    EXPECT_EQ(r.calls[6], "transcribe at 45600 n 36800 chunk 1024 language [] threads 4 flags 00");
}

TEST_F(Driver, LongRecordingsAreRecognisedAMinuteAtATimeBetweenAlignments) {
    // Six turns of 25 s: three go to the recogniser together, then are aligned, then the next three.
    std::string turns  = file("turns.txt", "0 25 P\n26 51 C\n52 77 P\n78 103 C\n104 129 P\n130 155 C\n");
    std::string script = "audio ok 16000 2560000\n" + ok_models;
    for (int k = 0; k < 6; k++) {
        script += "transcribe ok en word\n";
    }
    for (int k = 0; k < 6; k++) {
        script += "align echo\n";
    }
    DriverRun r = run(script, { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--turns", turns });
    ASSERT_EQ(r.result.status, 0);
    ASSERT_EQ(r.calls.size(), 19U); // and the two destroys
    // A progress line must not wait for the whole recording to be recognised.
    for (size_t k = 5; k < 17; k++) {
        const bool recognising = (k - 5) % 6 < 3;
        EXPECT_EQ(r.calls[k].rfind(recognising ? "transcribe " : "align ", 0), 0U) << k << ": " << r.calls[k];
    }
}

TEST_F(Driver, FailureInTheSecondOfThreeSegmentsStopsAtItsProgressLine) {
    std::string turns = file("turns.txt", "0.0 2.0 P\n3.0 5.0 C\n6.0 8.0 S\n");
    DriverRun   r =
        run("audio ok 16000 160000\n" + ok_models + "transcribe ok en one\ntranscribe fail out of memory\nalign echo\n",
            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--turns", turns });
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\nprogress 0.200 aligning\n"
                                     "progress 0.333 transcribing\n");
    EXPECT_EQ(r.result.out, "{\"error\":\"transcription failed: out of memory\"}\n");
    EXPECT_EQ(r.result.status, 1);
}

TEST_F(Driver, TurnsThatAllDropGiveAnEmptyDocument) {
    std::string turns = file("turns.txt", "20.0 21.0 P\n10.2 11.0 C\n-5.0 -0.2 P\n");
    DriverRun   r     = run("audio ok 16000 160000\n" + ok_models,
                            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--turns", turns });
    EXPECT_EQ(r.result.err, loaded + "progress 1.000 done\n");
    EXPECT_EQ(r.result.out, "{\"words\":[]}\n");
    EXPECT_EQ(r.result.status, 0);
}

TEST_F(Driver, UnreadableInputFilesAreSilentlyEmpty) {
    DriverRun r =
        run("audio ok 16000 16000\n" + ok_models + "transcribe ok en yes\nalign echo\n",
            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--turns", dir + "/missing", "--extra-words", dir });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"yes\",\"start\":0.000,\"end\":0.250}]}\n");
    EXPECT_EQ(r.result.status, 0);
}

TEST_F(Driver, RestoredFillersGoToTheAlignerAndComeOutAdded) {
    std::string extra = file("extra.txt", "0.1 so\n0.4 um,\n0.8 think\n");
    DriverRun   r     = run("audio ok 16000 32000\n" + ok_models + "transcribe ok en So think.\nalign echo\n",
                            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--extra-words", extra });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"So\",\"start\":0.000,\"end\":0.250},"
                            "{\"text\":\"um\",\"start\":0.500,\"end\":0.750,\"added\":true},"
                            "{\"text\":\"think.\",\"start\":1.000,\"end\":1.250}]}\n");
    EXPECT_EQ(r.calls[6], "align at 0 n 32000 text [So um think] language [en] denoise");

    // When the aligner answers with another count, no word keeps its added flag.
    r = run("audio ok 16000 32000\n" + ok_models + "transcribe ok en So think.\nalign words So@0@1 think@1@2\n",
            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--extra-words", extra });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"So\",\"start\":0.000,\"end\":1.000},"
                            "{\"text\":\"think\",\"start\":1.000,\"end\":2.000}]}\n");
}

} // namespace

TEST_F(Driver, ConfidenceGoesLastOnEveryScoredWord) {
    // Punctuation joined to a word gives it the lower value; a restored filler was not scored; a turn's label
    // comes before the confidence.
    std::string turns = file("turns.txt", "0 2 P\n");
    std::string extra = file("extra.txt", "0.1 so\n0.4 um,\n0.8 think\n");
    DriverRun   r     = run("audio ok 16000 32000\n" + ok_models +
                                "transcribe ok en So think .\nconfidence 0.91 0.5 0.25\nalign echo\n",
                            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--extra-words", extra, "--turns", turns,
                              "--confidence" });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"So\",\"start\":0.000,\"end\":0.250,\"who\":\"P\",\"conf\":0.91},"
                            "{\"text\":\"um\",\"start\":0.500,\"end\":0.750,\"added\":true,\"who\":\"P\"},"
                            "{\"text\":\"think.\",\"start\":1.000,\"end\":1.250,\"who\":\"P\",\"conf\":0.25}]}\n");
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.calls[5], "transcribe at 0 n 32000 chunk 1024 language [] threads 4 flags 00 confidence");
    EXPECT_EQ(r.calls[6], "align at 0 n 32000 text [So um think] language [en] denoise");

    // When the aligner answers with another count, its words are not the scored ones.
    // The aligner hears the segment cleaned as the recogniser did, unless cleaning is off.
    r = run("audio ok 16000 32000\n" + ok_models + "transcribe ok en a b\nconfidence 0.5 0.5\nalign words a@0@1\n",
            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--confidence", "--denoise", "off" });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"a\",\"start\":0.000,\"end\":1.000}]}\n");
    EXPECT_EQ(r.calls[6], "align at 0 n 32000 text [a b] language [en]");
}

TEST_F(Driver, VocabularyIsReadBeforeLoadingAndGivenToBothModelsAfter) {
    const std::string script = "audio ok 16000 16000\n" + ok_models + "transcribe ok en yes\nalign echo\n";
    const auto        with   = [&](const std::string & path) {
        return run(script, { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--vocabulary", path });
    };
    // A vocabulary the user named and that cannot be read ends the run before any model is loaded.
    for (const std::string & path : { dir + "/missing", dir }) {
        SCOPED_TRACE(path);
        DriverRun r = with(path);
        EXPECT_EQ(r.result.out, "{\"error\":\"could not read the vocabulary: " + path + "\"}\n");
        EXPECT_EQ(r.result.status, 1);
        EXPECT_EQ(r.calls, (std::vector<std::string>{ "load_audio_file x.wav" }));
    }
    // An empty file is no vocabulary.
    DriverRun empty = with(file("empty.txt", ""));
    EXPECT_EQ(empty.result.status, 0);
    EXPECT_EQ(std::count_if(empty.calls.begin(), empty.calls.end(),
                            [](const std::string & c) { return c.find("vocabulary") != std::string::npos; }),
              0);

    DriverRun r = with(file("v.txt", "okafor\tOW K AE F ER\n"));
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.calls, (std::vector<std::string>{
                           "load_audio_file x.wav", "asr construct", "asr load m KELVO_USE_VRAM=1", "aligner construct",
                           "aligner load a", "asr vocabulary 20 bytes", "aligner vocabulary 20 bytes",
                           "transcribe at 0 n 16000 chunk 1024 language [] threads 4 flags 00",
                           "align at 0 n 16000 text [yes] language [en] denoise", "aligner destroy", "asr destroy" }));
}

// Voices found in the audio: each word gets the voice at its middle (the nearest stretch's in a pause),
// numbered S1, S2, ... by first word whatever the engine's numbers; the recogniser gets the stretches of
// each segment, and the count asked for reaches the engine.
TEST_F(Driver, FoundSpeakersLabelWordsAndReachTheRecogniser) {
    const std::string script = "audio ok 16000 160000\n" + ok_models +
                               "speakers 0:48000:2 48000:96000:1 112000:160000:2\n"
                               "transcribe ok en a b c d e\n"
                               "align words a@0.5@1.0 b@2.9@3.3 c@3.5@4.0 d@6.5@7.0 e@9.9@9.95\n";
    DriverRun r = run(script, { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--speakers", "auto" });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"a\",\"start\":0.500,\"end\":1.000,\"speaker\":\"S1\"},"
                            "{\"text\":\"b\",\"start\":2.900,\"end\":3.300,\"speaker\":\"S2\"},"
                            "{\"text\":\"c\",\"start\":3.500,\"end\":4.000,\"speaker\":\"S2\"},"
                            "{\"text\":\"d\",\"start\":6.500,\"end\":7.000,\"speaker\":\"S1\"},"
                            "{\"text\":\"e\",\"start\":9.900,\"end\":9.950,\"speaker\":\"S1\"}]}\n");
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.calls[5], "find_speakers at 0 n 160000 speakers 0");
    // Voices of 3 to 5 s are too little speech to be trusted for adaptation: none reach the recogniser.
    EXPECT_EQ(r.calls[6], "transcribe at 0 n 160000 chunk 1024 language [] threads 4 flags 00");

    // A count fixes the engine's; with adaptation off the recogniser is given no voices, the words still are.
    r = run(script, { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--speakers", "3", "--adapt", "off" });
    EXPECT_EQ(r.calls[5], "find_speakers at 0 n 160000 speakers 3");
    EXPECT_EQ(r.calls[6], "transcribe at 0 n 160000 chunk 1024 language [] threads 4 flags 00");
    EXPECT_NE(r.result.out.find("\"speaker\":\"S2\""), std::string::npos);

    // Without the option the document keeps its keys; the recogniser still adapts to each voice once every
    // voice has speech enough, and the recording is cut into segments at each change of voice (the middle of
    // the pause between two voices' stretches), each part split as the whole recording would be.
    r = run("audio ok 16000 1600000\n" + ok_models + "speakers 0:480000:2 480000:960000:1 1120000:1600000:2\n" +
            "transcribe ok en a\nalign echo\ntranscribe ok en b\nalign echo\ntranscribe ok en c\nalign echo\n" +
            "transcribe ok en d\nalign echo\ntranscribe ok en e\nalign echo\n");
    EXPECT_EQ(r.result.status, 0) << r.result.out;
    std::vector<std::string> recognised;
    std::copy_if(r.calls.begin(), r.calls.end(), std::back_inserter(recognised),
                 [](const std::string & call) { return call.rfind("transcribe ", 0) == 0; });
    ASSERT_GE(recognised.size(), 3U);
    EXPECT_EQ(recognised[0], "transcribe at 0 n 480000 chunk 1024 language [] threads 4 flags 00 voices 0:480000:2");
    EXPECT_EQ(recognised[1],
              "transcribe at 480000 n 560000 chunk 1024 language [] threads 4 flags 00 voices 0:480000:1");
    EXPECT_EQ(recognised[2],
              "transcribe at 1040000 n 560000 chunk 1024 language [] threads 4 flags 00 voices 80000:560000:2");

    // With confidences too, the speaker comes before the confidence, which is always the last key.
    r = run("audio ok 16000 160000\n" + ok_models +
                "speakers 0:160000:1\ntranscribe ok en a\nconfidence 0.91\nalign words a@0.5@1.0\n",
            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--speakers", "auto", "--confidence" });
    EXPECT_EQ(r.result.out,
              "{\"words\":[{\"text\":\"a\",\"start\":0.500,\"end\":1.000,\"speaker\":\"S1\",\"conf\":0.91}]}\n");
}

// A recording found to hold one voice is decoded as before: no voices reach the recogniser.
TEST_F(Driver, OneFoundVoiceLeavesRecognitionAsBefore) {
    DriverRun r = run("audio ok 16000 160000\n" + ok_models + "speakers 0:48000:1 60000:160000:1\n" +
                          "transcribe ok en a b\nalign echo\n",
                      { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--speakers", "auto" });
    EXPECT_EQ(r.calls[6], "transcribe at 0 n 160000 chunk 1024 language [] threads 4 flags 00");
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"a\",\"start\":0.000,\"end\":0.250,\"speaker\":\"S1\"},"
                            "{\"text\":\"b\",\"start\":0.500,\"end\":0.750,\"speaker\":\"S1\"}]}\n");
}

// With a turns file the turns rule: nothing is looked for in the audio and no word gets a found speaker.
TEST_F(Driver, TurnsFileOverridesFoundSpeakers) {
    std::string turns = file("turns.txt", "0.0 4.0 P\n5.0 9.0 C\n");
    DriverRun   r     = run("audio ok 16000 160000\n" + ok_models + "speakers 0:80000:1 80000:160000:2\n" +
                                "transcribe ok en one\ntranscribe ok en two\nalign echo\nalign echo\n",
                            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--turns", turns, "--speakers", "2" });
    EXPECT_EQ(r.result.out.find("speaker"), std::string::npos);
    EXPECT_NE(r.result.out.find("\"who\":\"C\""), std::string::npos);
    for (const std::string & call : r.calls) {
        EXPECT_EQ(call.find("find_speakers"), std::string::npos);
        EXPECT_EQ(call.find("voices"), std::string::npos);
    }
}

TEST_F(Driver, WordsAreWrittenAsPeopleWriteThemAndPlainWordsKeepsThemAsHeard) {
    const std::string turns  = file("turns.txt", "0.0 4.0 P\n5.0 9.0 C\n");
    const std::string vocab  = file("vocab.txt", "Okonjo\n");
    const std::string script = "audio ok 16000 160000\n" + ok_models +
                               "transcribe ok en do you know mr smith\ntranscribe ok en i met okonjo\n"
                               "align echo\nalign echo\npitch 6.0 3.0\n";
    const std::vector<std::string> args = { "--asr",   "m",   "--aligner",    "a",  "--audio", "x.wav",
                                            "--turns", turns, "--vocabulary", vocab };
    plain_words                         = false;
    const DriverRun written             = run(script, args);
    plain_words                         = true;
    const DriverRun plain               = run(script, args);
    ASSERT_EQ(written.result.status, 0);
    EXPECT_NE(written.result.out.find("\"text\":\"Do\""), std::string::npos) << written.result.out;
    EXPECT_NE(written.result.out.find("\"text\":\"Mr\""), std::string::npos);
    EXPECT_NE(written.result.out.find("\"text\":\"Smith?\""), std::string::npos) << "a question by its words";
    EXPECT_NE(written.result.out.find("\"text\":\"I\""), std::string::npos);
    EXPECT_NE(written.result.out.find("\"text\":\"Okonjo?\""), std::string::npos) << "a question by its pitch";
    EXPECT_NE(plain.result.out.find("\"text\":\"do\""), std::string::npos) << plain.result.out;
    EXPECT_NE(plain.result.out.find("\"text\":\"okonjo\""), std::string::npos);
    EXPECT_EQ(plain.result.out.find('?'), std::string::npos);

    // Only case and the glued marks differ; every time and every other key is the same.
    std::string lowered = written.result.out;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](char c) { return std::tolower(c); });
    std::erase(lowered, '?');
    std::string plain_lowered = plain.result.out;
    std::transform(plain_lowered.begin(), plain_lowered.end(), plain_lowered.begin(),
                   [](char c) { return std::tolower(c); });
    EXPECT_EQ(lowered, plain_lowered);
    EXPECT_EQ(written.calls, plain.calls);
}

namespace {

TEST_F(Driver, TranscriptIsTimedStretchByStretchWithUnsaidWordsUntimed) {
    // Heard: "a b c x y d e f", word k at 0.5 k s. The transcript leaves out "x y" and adds a sentence at the
    // end; "a b c" and "d e f" are runs of agreement, so the aligner hears them apart, "a b c" only up to
    // where "x" starts. Its first try leaves "b" unplaced, so it is tried again on a window 1 s wider.
    const std::string transcript = file("t.txt", "Alice: A b c.\nBob: D e f never said here.\n");
    DriverRun         r          = run("audio ok 16000 64000\n" + ok_models +
                                           "transcribe ok en a b c x y d e f\n"
                                                            "align words a@0@0.25 b@0.5@0.5 c@1@1.25\nalign echo\nalign echo\n",
                                       { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--transcript", transcript, "--extra-words",
                                         file("extra.txt", "0.1 um\n") });
    EXPECT_EQ(r.result.out,
              "{\"words\":[{\"text\":\"A\",\"start\":0.000,\"end\":0.250,\"speaker\":\"Alice\"},"
              "{\"text\":\"b\",\"start\":0.500,\"end\":0.750,\"speaker\":\"Alice\"},"
              "{\"text\":\"c.\",\"start\":1.000,\"end\":1.250,\"speaker\":\"Alice\"},"
              "{\"text\":\"D\",\"start\":2.480,\"end\":2.730,\"speaker\":\"Bob\"},"
              "{\"text\":\"e\",\"start\":2.980,\"end\":3.230,\"speaker\":\"Bob\"},"
              "{\"text\":\"f\",\"start\":3.480,\"end\":3.730,\"speaker\":\"Bob\"},"
              "{\"text\":\"never\",\"start\":3.730,\"end\":3.730,\"untimed\":true,\"speaker\":\"Bob\"},"
              "{\"text\":\"said\",\"start\":3.730,\"end\":3.730,\"untimed\":true,\"speaker\":\"Bob\"},"
              "{\"text\":\"here.\",\"start\":3.730,\"end\":3.730,\"untimed\":true,\"speaker\":\"Bob\"}]}\n");
    EXPECT_EQ(r.result.err, loaded + "progress 0.000 transcribing\nprogress 0.600 aligning\n"
                                     "transcript words not placed: 3\nprogress 1.000 done\n");
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(std::vector<std::string>(r.calls.begin() + 6, r.calls.end() - 2),
              (std::vector<std::string>{ "align at 0 n 23680 text [a b c] language [en] denoise",
                                         "align at 0 n 39680 text [a b c] language [en] denoise",
                                         "align at 39680 n 24320 text [d e f] language [en] denoise" }));
}

TEST_F(Driver, CorrectedDocumentFromTheReviewPageIsTimedAnew) {
    // As the page saves it: a corrected word marked "edited", an inserted one, a restored filler, turn labels.
    const std::string saved =
        file("talk.corrected.json",
             "{\"words\":[{\"text\":\"so\",\"start\":0.1,\"end\":0.3,\"who\":\"P\",\"conf\":0.9},"
             "{\"text\":\"um\",\"start\":0.3,\"end\":0.3,\"added\":true,\"untimed\":true,\"who\":\"P\"},"
             "{\"text\":\"Thames\",\"start\":0.4,\"end\":0.9,\"edited\":true,\"who\":\"P\"},"
             "{\"text\":\"barrier\",\"start\":0.9,\"end\":0.9,\"edited\":true,\"who\":\"P\"}]}\n");
    DriverRun r =
        run("audio ok 16000 48000\n" + ok_models + "transcribe ok en so tims barrier\nalign echo\nalign echo\n",
            { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--transcript", saved, "--confidence" });
    EXPECT_EQ(r.result.out, "{\"words\":[{\"text\":\"so\",\"start\":0.000,\"end\":0.250,\"who\":\"P\"},"
                            "{\"text\":\"um\",\"start\":0.500,\"end\":0.750,\"added\":true,\"who\":\"P\"},"
                            "{\"text\":\"Thames\",\"start\":1.000,\"end\":1.250,\"who\":\"P\"},"
                            "{\"text\":\"barrier\",\"start\":1.500,\"end\":1.750,\"who\":\"P\"}]}\n");
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.calls[5], "transcribe at 0 n 48000 chunk 1024 language [] threads 4 flags 00");
    EXPECT_EQ(r.calls[6], "align at 0 n 48000 text [so um thames barrier] language [en] denoise");
    EXPECT_EQ(r.calls[7], "align at 0 n 48000 text [so tims barrier] language [en] denoise"); // the heard words
}

TEST_F(Driver, TranscriptThatCannotBeUsedGivesOneErrorBeforeLoading) {
    const std::pair<std::string, std::string> cases[] = {
        { dir + "/missing.txt", "cannot read " + dir + "/missing.txt" },
        { file("empty.txt", " \n"), "it holds no words" },
        { file("latin1.txt", "caf\xE9"), "it is not UTF-8 text" },
        { file("error.json", "{\"error\":\"alignment failed: x\"}\n"),
          "the document is an error object: alignment failed: x" },
    };
    for (const auto & [path, error] : cases) {
        DriverRun r = run("audio ok 16000 16000\n" + ok_models,
                          { "--asr", "m", "--aligner", "a", "--audio", "x.wav", "--transcript", path });
        EXPECT_EQ(r.result.out, "{\"error\":\"could not read the transcript: " + error + "\"}\n");
        EXPECT_EQ(r.result.err, "");
        EXPECT_EQ(r.result.status, 1);
        EXPECT_EQ(r.calls, std::vector<std::string>{ "load_audio_file x.wav" });
    }
}

} // namespace
