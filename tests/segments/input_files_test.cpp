// The turns and extra-words readers: record boundaries, stop rules, malformed numbers, unreadable paths
// and the user's locale.

#include "segments/segments.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <locale>
#include <stdexcept>
#include <string>
#include <vector>

// Field-wise equality for the checks below (global, so that the standard algorithms find it).
static bool operator==(const Turn & a, const Turn & b) {
    return a.start == b.start && a.end == b.end && a.label == b.label;
}

static bool operator==(const ExtraWord & a, const ExtraWord & b) {
    return a.time == b.time && a.text == b.text;
}

namespace {

std::string describe(const std::vector<Turn> & turns) {
    std::string text;
    for (const Turn & t : turns) {
        text += "(" + std::to_string(t.start) + ", " + std::to_string(t.end) + ", " +
                std::to_string(static_cast<unsigned char>(t.label)) + ") ";
    }
    return text;
}

std::string describe(const std::vector<ExtraWord> & words) {
    std::string text;
    for (const ExtraWord & w : words) {
        text += "(" + std::to_string(w.time) + ", '" + w.text + "') ";
    }
    return text;
}

// Writes `bytes` to a new file in a fresh temporary folder and returns its path.
std::string file_with(const std::string & bytes) {
    const std::string path = make_temp_dir() + "/input.txt";
    EXPECT_TRUE(write_file(path, bytes));
    return path;
}

struct TurnsCase {
    const char *      name;
    std::string       bytes;
    std::vector<Turn> expected;
};

TEST(InputFiles, ReadsTurns) {
    const std::vector<TurnsCase> cases = {
        { "two lines", "0.00 4.25 P\n4.60 9.10 C\n", { { 0.0, 4.25, 'P' }, { 4.6, 9.1, 'C' } } },
        { "empty file", "", {} },
        { "only white space", " \n\t\r\n", {} },
        { "end <= start dropped, reading goes on", "5.0 5.0 P\n6.0 5.0 C\n7.0 8.0 D\n", { { 7.0, 8.0, 'D' } } },
        { "fourth item ends the reading", "1.0 2.0 P x\n3.0 4.0 Q\n", { { 1.0, 2.0, 'P' } } },
        { "record across lines", "1.0\n2.0 P\n", { { 1.0, 2.0, 'P' } } },
        { "label glued to the end time", "1.0 2.0P", { { 1.0, 2.0, 'P' } } },
        { "two records on one line", "1 2 A 3 4 B", { { 1.0, 2.0, 'A' }, { 3.0, 4.0, 'B' } } },
        { "first byte of the label, case kept",
          "1.0 2.0 Carer\n3.0 4.0 pat\n",
          { { 1.0, 2.0, 'C' }, { 3.0, 4.0, 'p' } } },
        { "label byte above 0x7f", "1 2 \xC3\xA9mile", { { 1.0, 2.0, '\xC3' } } },
        { "decimal comma", "1,5 2.0 P\n", {} },
        { "decimal comma after a good record", "0.5 1.0 A\n1,5 2.0 P\n", { { 0.5, 1.0, 'A' } } },
        { "byte-order mark",
          "\xEF\xBB\xBF"
          "1.0 2.0 P\n",
          {} },
        { "CRLF line ends", "1.0 2.0 P\r\n3.0 4.0 C\r\n", { { 1.0, 2.0, 'P' }, { 3.0, 4.0, 'C' } } },
        { "every white-space byte separates", "1.0\t2.0\vP\f3\r4 Q", { { 1.0, 2.0, 'P' }, { 3.0, 4.0, 'Q' } } },
        { "file order, not time order", "10 12 A\n2 4 B\n", { { 10.0, 12.0, 'A' }, { 2.0, 4.0, 'B' } } },
        { "negative times and exponents", "-2.5 -1e0 N +1.5e1 2E1 M", { { -2.5, -1.0, 'N' }, { 15.0, 20.0, 'M' } } },
        { "incomplete last record", "1 2 P\n3 4", { { 1.0, 2.0, 'P' } } },
        { "start out of double range", "1e400 2 P\n", {} },
        { "end out of double range", "1 2 P\n3 1e400 Q\n5 6 R\n", { { 1.0, 2.0, 'P' } } },
        { "negative overflow", "1 2 P -1e400 3 Q", { { 1.0, 2.0, 'P' } } },
        { "underflow reads as zero", "1e-400 1 P", { { 0.0, 1.0, 'P' } } },
        { "nan", "1 2 P\nnan 5 Q\n6 7 R\n", { { 1.0, 2.0, 'P' } } },
        { "inf", "1 inf P\n", {} },
        { "-inf", "-inf 1 P\n", {} },
        // The exponent marker of the end time swallows a glued label starting with e: the reading ends.
        { "glued label starting with E", "1 2Eve\n3 4 Q\n", {} },
        { "hexadecimal is not read", "0x1 2 P", {} },
    };
    for (const TurnsCase & c : cases) {
        const std::vector<Turn> turns = read_turns(file_with(c.bytes));
        EXPECT_EQ(turns, c.expected) << c.name << ": " << describe(turns);
    }
}

struct WordsCase {
    const char *           name;
    std::string            bytes;
    std::vector<ExtraWord> expected;
};

TEST(InputFiles, ReadsExtraWords) {
    const std::vector<WordsCase> cases = {
        { "two lines", "12.48 um\n13.02 so\n", { { 12.48, "um" }, { 13.02, "so" } } },
        { "lone trailing number", "1.5 um 2.0", { { 1.5, "um" } } },
        { "punctuation kept", "3.2 um,\n", { { 3.2, "um," } } },
        { "negative time", "-3 Uh", { { -3.0, "Uh" } } },
        { "words that look like numbers", "1 2 3 4", { { 1.0, "2" }, { 3.0, "4" } } },
        { "record across lines, CRLF", "1.0\r\num\r\n2.0 uh\r\n", { { 1.0, "um" }, { 2.0, "uh" } } },
        { "byte-order mark",
          "\xEF\xBB\xBF"
          "1.0 um\n",
          {} },
        // 1 is the time, ",5" the word, and "um" is not a number.
        { "decimal comma", "1,5 um\n2 uh\n", { { 1.0, ",5" } } },
        { "out of double range", "1 um\n1e400 uh\n3 so\n", { { 1.0, "um" } } },
        { "nan", "1 um nan uh", { { 1.0, "um" } } },
        { "inf", "inf um", {} },
        { "bytes above 0x7f kept", "2 caf\xC3\xA9!", { { 2.0, "caf\xC3\xA9!" } } },
    };
    for (const WordsCase & c : cases) {
        const std::vector<ExtraWord> words = read_extra_words(file_with(c.bytes));
        EXPECT_EQ(words, c.expected) << c.name << ": " << describe(words);
    }
}

TEST(InputFiles, UnreadablePathsGiveEmptyLists) {
    const std::string folder = make_temp_dir();
    for (const std::string & path : { std::string(), folder + "/missing.txt", folder, folder + "/" }) {
        EXPECT_TRUE(read_turns(path).empty()) << "'" << path << "'";
        EXPECT_TRUE(read_extra_words(path).empty()) << "'" << path << "'";
    }
}

TEST(InputFiles, VeryLongTokens) {
    const std::string       long_token(10 * 1024 * 1024, 'L');
    const std::vector<Turn> turns = read_turns(file_with("1 2 " + long_token + " 3 4 Q\n"));
    EXPECT_EQ(turns, (std::vector<Turn>{ { 1.0, 2.0, 'L' }, { 3.0, 4.0, 'Q' } })) << describe(turns);

    const std::vector<ExtraWord> words = read_extra_words(file_with("1 " + long_token + "\n2 um"));
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0].text, long_token);
    EXPECT_EQ(words[1], (ExtraWord{ 2.0, "um" }));
}

// Restores the global locale when the test ends, passed or not.
struct GlobalLocaleGuard {
    std::locale saved = std::locale();
    ~GlobalLocaleGuard() { std::locale::global(saved); }
};

// A locale that writes numbers the German way: decimal comma, point as thousands separator.
struct comma_numpunct : std::numpunct<char> {
    char        do_decimal_point() const override { return ','; }
    char        do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

void expect_point_decimals_read() {
    const std::string turns_path = file_with("1.5 2.25 P\n");
    EXPECT_EQ(read_turns(turns_path), (std::vector<Turn>{ { 1.5, 2.25, 'P' } }));
    const std::string words_path = file_with("1.5 um\n");
    EXPECT_EQ(read_extra_words(words_path), (std::vector<ExtraWord>{ { 1.5, "um" } }));
}

TEST(InputFiles, GlobalLocaleDoesNotChangeNumbers) {
    GlobalLocaleGuard guard;
    std::locale::global(std::locale(std::locale::classic(), new comma_numpunct));
    expect_point_decimals_read();
}

TEST(InputFiles, GermanLocaleDoesNotChangeNumbers) {
    GlobalLocaleGuard guard;
    try {
        std::locale::global(std::locale("de_DE.UTF-8"));
    } catch (const std::runtime_error &) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
    }
    expect_point_decimals_read();
}

} // namespace
