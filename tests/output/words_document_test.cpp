#include "formats/formats.h"
#include "output/output.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

namespace {

TimedWord word(const std::string & text, double start, double end, bool added = false, char who = 0,
               bool untimed = false) {
    return TimedWord{ text, start, end, added, who, untimed };
}

std::string document(const std::vector<TimedWord> & words) {
    return capture_fd(1, [&] { write_words_document(words); });
}

TEST(WordsDocument, ReportsDoneBeforeTheDocument) {
    std::string err = capture_fd(2, [] { capture_fd(1, [] { write_words_document({}); }); });
    EXPECT_EQ(err, "progress 1.000 done\n");
    EXPECT_EQ(document({}), "{\"words\":[]}\n");
}

TEST(WordsDocument, WritesEachWordInItsFixedShape) {
    struct Case {
        std::vector<TimedWord> words;
        std::string            expected;
    };
    const Case cases[] = {
        { { word("Hello,", 0.12, 0.5) }, "{\"words\":[{\"text\":\"Hello,\",\"start\":0.120,\"end\":0.500}]}\n" },
        { { word("a", 0, 1), word("b", 1, 2) },
          "{\"words\":[{\"text\":\"a\",\"start\":0.000,\"end\":1.000},{\"text\":\"b\",\"start\":1.000,\"end\":2.000}]}"
          "\n" },
        { { word("um", 3.2, 3.2, true, 'P', true) },
          "{\"words\":[{\"text\":\"um\",\"start\":3.200,\"end\":3.200,\"added\":true,\"untimed\":true,\"who\":\"P\"}]}"
          "\n" },
        { { word("x", 1, 1, false, 'C', true) },
          "{\"words\":[{\"text\":\"x\",\"start\":1.000,\"end\":1.000,\"untimed\":true,\"who\":\"C\"}]}\n" },
        { { word("x", 1, 2, true, 'C') },
          "{\"words\":[{\"text\":\"x\",\"start\":1.000,\"end\":2.000,\"added\":true,\"who\":\"C\"}]}\n" },
        { { word("s", 1, 2, false, 'S'), word("p", 1, 2, false, 'p'), word("c", 1, 2, false, 'c') },
          "{\"words\":[{\"text\":\"s\",\"start\":1.000,\"end\":2.000},{\"text\":\"p\",\"start\":1.000,\"end\":2.000},"
          "{\"text\":\"c\",\"start\":1.000,\"end\":2.000}]}\n" },
        { { word("65", 65.4321, 65.4326) }, "{\"words\":[{\"text\":\"65\",\"start\":65.432,\"end\":65.433}]}\n" },
        { { word("q\"\\\t\x01", 0, 0) },
          "{\"words\":[{\"text\":\"q\\\"\\\\\\t\\u0001\",\"start\":0.000,\"end\":0.000}]}\n" },
    };
    for (const Case & c : cases) {
        EXPECT_EQ(document(c.words), c.expected);
    }
}

TEST(WordsDocument, ConfidenceComesLastWithTwoDecimalsAndOnlyWhenScored) {
    TimedWord a = word("um", 1, 2, true, 'P', true);
    a.conf      = 0.875f;
    TimedWord b = word("b", 2, 3);
    b.conf      = 1.7f; // past 1: written as 1
    TimedWord c = word("c", 3, 4);
    c.conf      = 0.004f;
    TimedWord d = word("d", 4, 5);
    d.conf      = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(document({ a, b, c, d, word("e", 5, 6) }),
              "{\"words\":[{\"text\":\"um\",\"start\":1.000,\"end\":2.000,\"added\":true,\"untimed\":true,"
              "\"who\":\"P\",\"conf\":0.88},{\"text\":\"b\",\"start\":2.000,\"end\":3.000,\"conf\":1.00},"
              "{\"text\":\"c\",\"start\":3.000,\"end\":4.000,\"conf\":0.00},{\"text\":\"d\",\"start\":4.000,"
              "\"end\":5.000},{\"text\":\"e\",\"start\":5.000,\"end\":6.000}]}\n");
}

TEST(WordsDocument, KeepsBytesAfterAnEmbeddedZeroAndParsesAsJson) {
    std::vector<TimedWord> words = { word(std::string("a\0b", 3), 0, 1), word("\xc3\xa9t\xc3\xa9", 1, 2) };
    const std::string      out   = document(words);
    EXPECT_NE(out.find("a\\u0000b"), std::string::npos);
    auto parsed = document_words(out);
    ASSERT_TRUE(parsed.has_value());
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ((*parsed)[1].text, "\xc3\xa9t\xc3\xa9");
}

TEST(WordsDocument, TimesOfAnySizeKeepEveryDigitAndTimesThatAreNotFiniteAreNull) {
    // The largest times print with every digit (a float's 1e38 has 39, a double's largest 309), as "%.3f"
    // writes them; NaN and the infinities have no JSON number. The flags stay as the word holds them.
    const double nan     = std::numeric_limits<double>::quiet_NaN();
    const double inf     = std::numeric_limits<double>::infinity();
    const double largest = std::numeric_limits<double>::max();
    std::string  digits(400, '\0');
    digits.resize(static_cast<size_t>(std::snprintf(digits.data(), digits.size(), "%.3f", -largest)));
    ASSERT_EQ(digits.size(), 314u);

    const std::string out = document({ word("huge", static_cast<double>(1e38f), -largest), word("nan", nan, 1.5, true),
                                       word("inf", inf, -inf, false, 'P', true) });
    EXPECT_EQ(out,
              "{\"words\":[{\"text\":\"huge\",\"start\":99999996802856924650656260769173209088.000,\"end\":" + digits +
                  "},"
                  "{\"text\":\"nan\",\"start\":null,\"end\":1.500,\"added\":true},"
                  "{\"text\":\"inf\",\"start\":null,\"end\":null,\"untimed\":true,\"who\":\"P\"}]}\n");
    EXPECT_TRUE(is_valid_json(out));
}

} // namespace
