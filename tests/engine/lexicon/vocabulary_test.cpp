#include "engine/lexicon/vocabulary.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// A one-word entry with `n` phones.
std::string phones(int n) {
    std::string line = "kaf\t";
    for (int k = 0; k < n; k++) {
        line += "K ";
    }
    return line;
}

bool english_phone(const std::string & p) {
    static const std::set<std::string> phones = { "AE", "AH", "ER", "F", "K", "L", "N", "OW", "S", "T" };
    return phones.count(p) > 0;
}

// Every kind of bad line is skipped with its reason and its line number, and never stops the lines after it;
// blank lines, a byte order mark and CR LF endings are not faults; duplicates merge.
TEST(Vocabulary, BadLinesAreSkippedWithTheirReasons) {
    const struct {
        std::string  line;
        const char * reason; // empty: the line is used (or blank)
    } table[] = {
        { "\xEF\xBB\xBFOkafor\tow1 k ae f er\r", "" }, // stress digits and case accepted
        { "blood pressure tablets", "" },
        { "", "" },
        { "   \t  ", "" },
        { "bad\x01word", "control character" },
        { "nurse\x7F", "control character" },
        { "nurse\xC2\x85", "control character" }, // C1
        { "caf\xC3\xA9 \xC3", "invalid UTF-8" },  // cut-off sequence
        { "\xC0\xAF", "invalid UTF-8" },          // overlong form of '/'
        { "\xED\xA0\x80", "invalid UTF-8" },      // a surrogate
        { "\xF4\x90\x80\x80", "invalid UTF-8" },  // past U+10FFFF
        { "okafor\tOW K AE Q ER", "unknown phone \"Q\"" },
        { "blood pressure\tB L", "a pronunciation is for a one-word entry" },
        { "\tK AE T", "a pronunciation without a word" },
        { "word\tK\tK", "more than one tab" },
        { "a b c d e f g", "over-long phrase" },
        { std::string(49, 'x'), "over-long word" },
        { std::string(257, 'y'), "over-long line" },
        { phones(41), "over-long pronunciation" },
        { phones(40), "" },
        { "word(2)", "reserved character in \"word(2)\"" },
        { "[noise]", "reserved character in \"[noise]\"" },
        { "_w_x", "reserved character in \"_w_x\"" },
        { "OKAFOR\tOW K AE F ER", "" },    // the same entry and pronunciation
        { "okafor\tAH K AE F ER", "" },    // the same entry, a second pronunciation
        { "Blood  Pressure tablets", "" }, // the same phrase
        { "caf\xC3\xA9", "" },             // last line, without a line ending
    };
    std::string                              text;
    std::vector<std::pair<int, std::string>> want_skipped;
    int                                      number = 0;
    for (const auto & row : table) {
        text += (number++ == 0 ? "" : "\n") + row.line;
        if (*row.reason != '\0') {
            want_skipped.emplace_back(number, row.reason);
        }
    }
    const kelvo_asr::vocabulary_text v = kelvo_asr::parse_vocabulary(text, english_phone);

    ASSERT_EQ(v.skipped.size(), want_skipped.size());
    for (size_t k = 0; k < want_skipped.size(); k++) {
        EXPECT_EQ(v.skipped[k].line, want_skipped[k].first);
        EXPECT_EQ(v.skipped[k].reason, want_skipped[k].second);
    }
    ASSERT_EQ(v.entries.size(), 4u);
    EXPECT_EQ(v.entries[0].words, std::vector<std::string>{ "okafor" });
    EXPECT_EQ(v.entries[0].pronunciations, (std::vector<std::string>{ "OW K AE F ER", "AH K AE F ER" }));
    EXPECT_EQ(v.entries[0].line, 1);
    EXPECT_EQ(v.entries[1].words, (std::vector<std::string>{ "blood", "pressure", "tablets" }));
    EXPECT_TRUE(v.entries[1].pronunciations.empty());
    EXPECT_EQ(v.entries[2].words, std::vector<std::string>{ "kaf" });
    EXPECT_EQ(v.entries[2].line, 20);
    EXPECT_EQ(v.entries[3].words, std::vector<std::string>{ "caf\xC3\xA9" });
    EXPECT_TRUE(kelvo_asr::parse_vocabulary("", english_phone).entries.empty());
}

} // namespace
