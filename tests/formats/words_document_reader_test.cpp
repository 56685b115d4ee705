// Reading words documents back: everything the tool's own writer can put in one, and the clear refusal of
// anything else, an error object included.

#include "formats/formats.h"
#include "output/output.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(WordsDocumentReader, ReadsBackWhatTheToolWrites) {
    const std::vector<TimedWord> written = {
        { "Hello,", 0.12, 0.5, false, 0, false },
        { "um", 3.2, 3.2, true, 'P', true },
        { "q\"\\\t\x01", 4, 4.5, false, 'C', false },
        { std::string("a\0b", 3), 5, 5.5, false, 0, false },
        { "\xc3\xa9t\xc3\xa9", 6, 6.5, false, 0, false },
        { "caf\xe9 \xff", 7, 7.5, false, 0, false }, // not UTF-8: the tool passes such bytes through
        // Times the engine never gives: null, and one past any recording; they keep the word's place.
        { "nan", std::numeric_limits<double>::quiet_NaN(), 8, false, 0, false },
        { "huge", 1e38, std::numeric_limits<double>::infinity(), false, 0, false },
        // A found speaker names the word's speaker where no turn label does.
        { "found", 9, 9.5, false, 0, false, 2 },
        { "both", 10, 10.5, false, 'C', false, 1 },
    };
    std::string document;
    capture_fd(2, [&] { document = capture_fd(1, [&] { write_words_document(written); }); });

    const DocumentRead read = read_words_document(document);
    ASSERT_EQ(read.error, "");
    ASSERT_EQ(read.words.size(), written.size());
    for (size_t k = 0; k < written.size(); k++) {
        EXPECT_EQ(read.words[k].text, k == 5 ? "caf\xef\xbf\xbd \xef\xbf\xbd" : written[k].text);
    }
    EXPECT_EQ(read.words[6].start, 8);
    EXPECT_EQ(read.words[6].end, 8);
    EXPECT_TRUE(read.words[6].untimed);
    EXPECT_EQ(read.words[7].start, 8);
    EXPECT_EQ(read.words[7].end, 8);
    EXPECT_TRUE(read.words[7].untimed);
    EXPECT_EQ(read.words[1].start, 3.2);
    EXPECT_TRUE(read.words[1].added);
    EXPECT_TRUE(read.words[1].untimed);
    EXPECT_EQ(read.words[1].who, "P");
    EXPECT_EQ(read.words[2].who, "C");
    EXPECT_EQ(read.words[0].who, "");
    EXPECT_EQ(read.words[8].who, "S2");
    EXPECT_EQ(read.words[9].who, "C");
    EXPECT_FALSE(read.words[0].added || read.words[0].untimed);

    EXPECT_EQ(read_words_document("{\"words\":[]}\n").error, "");
}

TEST(WordsDocumentReader, AConfidenceBelowZeroOrMissingReadsBackAsNone) {
    const DocumentRead read =
        read_words_document(R"({"words":[{"text":"a","start":0,"end":1,"conf":-0.3},{"text":"b","start":1,"end":2},)"
                            R"({"text":"c","start":2,"end":3,"conf":1.7},{"text":"d","start":3,"end":4,"conf":0.42},)"
                            R"({"text":"e","start":4,"end":5,"conf":-0.0}]})");
    ASSERT_EQ(read.error, "");
    ASSERT_EQ(read.words.size(), 5u);
    EXPECT_EQ(read.words[0].conf, -1);
    EXPECT_EQ(read.words[1].conf, -1);
    EXPECT_EQ(read.words[2].conf, 1);
    EXPECT_EQ(read.words[3].conf, 0.42);
    EXPECT_EQ(read.words[4].conf, 0);
    // The review page shades none of the unscored words and gives the script no confidence for them.
    const std::string page = html_page_text(read.words, {}, "t");
    EXPECT_NE(page.find("<span>a</span> <span>b</span> <span>c</span> <span class=\"c2\">d</span> "
                        "<span class=\"c3\">e</span>"),
              std::string::npos);
    EXPECT_NE(page.find("\"conf\":[-1,-1,1"), std::string::npos);
}

TEST(WordsDocumentReader, RefusesAnythingElseWithAClearMessage) {
    const std::pair<std::string, std::string> cases[] = {
        { "{\"error\":\"could not read the audio (it must be 16 kHz mono WAV)\"}\n",
          "the document is an error object: could not read the audio (it must be 16 kHz mono WAV)" },
        { "", "not valid JSON: " },
        { "{\"words\":[{\"text\":\"a\",\"start\":0.1,\"end\":0.2}", "not valid JSON: " },
        { "{\"words\":[]}\n{\"words\":[]}\n", "not valid JSON: " },
        { "{\"words\":[{\"text\":\"a\",\"start\":1e999,\"end\":0.2}]}", "not valid JSON: number overflow" },
        { "[]", "not a words document: not a JSON object" },
        { "{}", "not a words document: no \"words\" list" },
        { "{\"words\":{}}", "not a words document: \"words\" is not a list" },
        { "{\"words\":[7]}", "not a words document: word 1: not an object" },
        { "{\"words\":[{\"start\":0,\"end\":1}]}", "not a words document: word 1: no \"text\" string" },
        { "{\"words\":[{\"text\":\"a\",\"start\":0,\"end\":1},{\"text\":\"b\",\"start\":\"1\",\"end\":2}]}",
          "not a words document: word 2: no \"start\" number" },
        { "{\"words\":[{\"text\":\"a\",\"start\":0}]}", "not a words document: word 1: no \"end\" number" },
        { "{\"words\":[{\"text\":\"a\",\"start\":0,\"end\":1,\"added\":1}]}",
          "not a words document: word 1: \"added\" is not true or false" },
        { "{\"words\":[{\"text\":\"a\",\"start\":0,\"end\":1,\"who\":null}]}",
          "not a words document: word 1: \"who\" is not a string" },
        { "{\"words\":[{\"text\":\"a\",\"start\":0,\"end\":1,\"who\":\"P\",\"speaker\":1}]}",
          "not a words document: word 1: \"speaker\" is not a string" },
    };
    for (const auto & [input, message] : cases) {
        const DocumentRead read = read_words_document(input);
        EXPECT_EQ(read.error.substr(0, message.size()), message) << input;
        EXPECT_TRUE(read.words.empty());
    }
}

TEST(WordsDocumentReader, RepairsEachIllFormedUtf8ByteAlone) {
    const std::string                         fffd    = "\xef\xbf\xbd";
    const std::pair<std::string, std::string> cases[] = {
        { "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80" }, // 2, 3 and 4 bytes
        { "\xc0\x80", fffd + fffd },                                                          // overlong
        { "\xed\xa0\x80", fffd + fffd + fffd },                                               // a surrogate
        { "\xe2\x82"
          "a",
          fffd + fffd + "a" },                             // cut short
        { "\xf5\x80\x80\x80", fffd + fffd + fffd + fffd }, // past U+10FFFF
        { "\x80", fffd },
    };
    for (const auto & [input, expected] : cases) {
        EXPECT_EQ(repair_utf8(input), expected);
    }
}

} // namespace
