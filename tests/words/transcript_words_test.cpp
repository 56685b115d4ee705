// Tests of the transcript words: tokens, match keys, the filler test and lower-casing.

#include "words/words.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Strings = std::vector<std::string>;

TEST(MakeMatchKey, KeepsLettersDigitsHighBytesAndInnerApostrophes) {
    struct Case {
        std::string word;
        std::string key;
    };
    const Case cases[] = {
        { "Hello,", "Hello" },
        { "don't", "don't" },
        { "rock'n'roll", "rock'n'roll" },
        { "'tis", "tis" },   // nothing kept yet at the apostrophe
        { "dogs'", "dogs" }, // nothing after it
        { "a,'b", "a'b" },   // the key decides, not the byte before
        { "a''b", "a'b" },   // the first apostrophe is followed by another one
        { "3.5", "35" },
        { "e-mail", "email" },
        { "...", "" },
        { "-", "" },
        { "don\xE2\x80\x99t", "don\xE2\x80\x99t" },      // curly apostrophe: high bytes survive
        { "l'\xC3\xA9t\xC3\xA9", "l\xC3\xA9t\xC3\xA9" }, // apostrophe before a non-ASCII letter
        { "\xE2\x80\x94", "\xE2\x80\x94" },              // a dash alone is a word
        { "UM", "UM" },
        { "Z@9`{", "Z9" }, // neighbours of the ASCII letter and digit ranges
    };
    for (const Case & c : cases) {
        EXPECT_EQ(make_match_key(c.word), c.key) << c.word;
    }
}

TEST(SplitTokens, SplitsOnTheSixWhiteSpaceBytesOnly) {
    EXPECT_EQ(split_tokens("a b\tc\nd\ve\ff\rg"), (Strings{ "a", "b", "c", "d", "e", "f", "g" }));
    EXPECT_EQ(split_tokens(" \t\r\n a  b \n"), (Strings{ "a", "b" }));
    EXPECT_EQ(split_tokens(""), Strings{});
    EXPECT_EQ(split_tokens(" \t\n\v\f\r"), Strings{});
    // Neither a byte >= 0x80 (no-break space in UTF-8, 0x85, 0xA0) nor a control byte outside the set splits.
    EXPECT_EQ(split_tokens("a\xC2\xA0"
                           "b\x85\xA0"
                           "c\x08\x0E"
                           "d\x7F"),
              (Strings{ "a\xC2\xA0"
                        "b\x85\xA0"
                        "c\x08\x0E"
                        "d\x7F" }));
}

TEST(BuildSegmentWords, GluesPunctuationOntoThePreviousWord) {
    struct Case {
        std::string text;
        Strings     display;
        Strings     keys;
    };
    const Case cases[] = {
        { "Well , I think ... yes !", { "Well,", "I", "think...", "yes!" }, { "Well", "I", "think", "yes" } },
        { ", hello", { "hello" }, { "hello" } },
        { ". , hello .", { "hello." }, { "hello" } },
        { "yes ! ?", { "yes!?" }, { "yes" } },
        { "\xE2\x80\xA6 ok", { "\xE2\x80\xA6", "ok" }, { "\xE2\x80\xA6", "ok" } },
        { "Um, so", { "Um,", "so" }, { "Um", "so" } },
        { "", {}, {} },
        { " \t\n", {}, {} },
        { "! ?", {}, {} },
    };
    for (const Case & c : cases) {
        SegmentWords words = build_segment_words(c.text);
        EXPECT_EQ(words.display, c.display) << c.text;
        EXPECT_EQ(words.keys, c.keys) << c.text;
        EXPECT_EQ(words.added, std::vector<bool>(c.display.size(), false)) << c.text;
    }
}

TEST(BuildSegmentWords, JoinedTokensKeepTheLowestConfidence) {
    struct Case {
        std::string        text;
        std::vector<float> confidence;
        std::vector<float> expected;
    };
    const Case cases[] = {
        { "well , I think ... yes", { 0.9f, 0.2f, 0.8f, 0.7f, 0.95f, 0.6f }, { 0.2f, 0.8f, 0.7f, 0.6f } },
        { "well , ! so", { 0.5f, 0.9f, 0.3f, 0.4f }, { 0.3f, 0.4f } },
        { ". hello", { 0.1f, 0.9f }, { 0.9f } }, // a dropped token takes its value with it
        { "a b", { 0.1f }, {} },                 // a count that does not match is no confidence at all
        { "a b", {}, {} },
        { "", {}, {} },
    };
    for (const Case & c : cases) {
        EXPECT_EQ(build_segment_words(c.text, c.confidence).confidence, c.expected) << c.text;
    }
    // Restored fillers were not scored; the words around them keep theirs.
    SegmentWords words = build_segment_words("so think", { 0.4f, 0.7f });
    restore_fillers(words, { { 10.5, "so" }, { 10.7, "um" }, { 10.9, "think" } }, Segment{ 160000, 192000, 0 }, 16000);
    EXPECT_EQ(words.display, (Strings{ "so", "um", "think" }));
    EXPECT_EQ(words.confidence, (std::vector<float>{ 0.4f, no_confidence, 0.7f }));
}

TEST(BuildSegmentWords, ListsStayParallelAndNonEmptyOnRandomBytes) {
    std::mt19937 random(12345);
    const char   alphabet[] = { ' ', '\t', '\n', 'a', 'Z', '7', '\'', '.', ',', '-', '\0', '\x80', '\xE2', '\xFF' };
    for (int round = 0; round < 2000; round++) {
        std::string text;
        int         length = int(random() % 40);
        for (int i = 0; i < length; i++) {
            text += alphabet[random() % sizeof(alphabet)];
        }
        SegmentWords words = build_segment_words(text);
        ASSERT_EQ(words.display.size(), words.keys.size());
        ASSERT_EQ(words.added.size(), words.keys.size());
        std::string joined_display;
        for (size_t i = 0; i < words.keys.size(); i++) {
            ASSERT_FALSE(words.display[i].empty());
            ASSERT_FALSE(words.keys[i].empty());
            EXPECT_EQ(words.keys[i], make_match_key(words.display[i])); // glued punctuation adds nothing
            joined_display += words.display[i];
        }
        // Every byte but white space and the leading punctuation survives in the display words, in order.
        std::string expected;
        for (const std::string & token : split_tokens(text)) {
            if (!expected.empty() || !make_match_key(token).empty()) {
                expected += token;
            }
        }
        EXPECT_EQ(joined_display, expected);
    }
}

TEST(IsFiller, MatchesTheTableExactlyAndCaseSensitively) {
    for (std::string_view filler : FillerWords) {
        EXPECT_TRUE(is_filler(std::string(filler))) << filler;
    }
    const char * not_fillers[] = { "UM", "Um", "hmmm", "mhm", "ummmm", "uhhuh", "u", "", "um ", "so" };
    for (const char * word : not_fillers) {
        EXPECT_FALSE(is_filler(word)) << word;
    }
    EXPECT_TRUE(is_filler(to_lower(make_match_key("Um,"))));
    EXPECT_FALSE(is_filler(to_lower(make_match_key("uh-huh"))));
}

TEST(ToLower, MapsOnlyAsciiCapitals) {
    EXPECT_EQ(to_lower("HeLLo @[`{ 09"), "hello @[`{ 09");
    EXPECT_EQ(to_lower("\xC3\x89t\xC3\xA9"), "\xC3\x89t\xC3\xA9"); // the bytes of É stay
    std::string all_bytes;
    for (int c = 0; c < 256; c++) {
        all_bytes += char(c);
    }
    std::string lowered = to_lower(all_bytes);
    ASSERT_EQ(lowered.size(), 256u);
    for (int c = 0; c < 256; c++) {
        int expected = (c >= 'A' && c <= 'Z') ? c + 32 : c;
        EXPECT_EQ(static_cast<unsigned char>(lowered[size_t(c)]), expected) << c;
    }
}

} // namespace
