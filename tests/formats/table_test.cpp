// The TSV table on the documents where it breaks, read back as a spreadsheet reads a tab-separated file:
// a header, six fields per row, a field in quotes when it holds a quote (each inside doubled).

#include "format_cases.h"

#include <gtest/gtest.h>

namespace {

// The fields of one row; a quoted field loses its quotes and its doubled quotes become single.
std::vector<std::string> row_fields(const std::string & row) {
    std::vector<std::string> fields;
    std::string              field;
    bool                     quoted = false;
    for (size_t i = 0; i < row.size(); i++) {
        const char c = row[i];
        if (quoted) {
            if (c == '"' && i + 1 < row.size() && row[i + 1] == '"') {
                field += '"';
                i++;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == '\t') {
            fields.push_back(field);
            field.clear();
        } else {
            EXPECT_NE(c, '"') << "a quote in an unquoted field: " << row;
            field += c;
        }
    }
    EXPECT_FALSE(quoted) << "an unclosed quote: " << row;
    fields.push_back(field);
    return fields;
}

TEST(Table, EveryCaseReadsBackRowForWord) {
    for (const FormatCase & c : format_cases()) {
        SCOPED_TRACE(c.name);
        std::istringstream in(tsv_text(c.words));
        std::string        row;
        ASSERT_TRUE(std::getline(in, row));
        EXPECT_EQ(row, "start\tend\tspeaker\ttext\tadded\tuntimed");
        size_t k = 0;
        for (; std::getline(in, row); k++) {
            ASSERT_LT(k, c.words.size());
            const DocumentWord &           word   = c.words[k];
            const std::vector<std::string> fields = row_fields(row);
            ASSERT_EQ(fields.size(), 6u) << row;
            EXPECT_NEAR(std::stod(fields[0]), word.start, 0.0005);
            EXPECT_NEAR(std::stod(fields[1]), word.end, 0.0005);
            EXPECT_EQ(fields[2], word.who);
            EXPECT_EQ(split_tokens(fields[3]), split_tokens(word.text));
            EXPECT_EQ(fields[4], word.added ? "1" : "0");
            EXPECT_EQ(fields[5], word.untimed ? "1" : "0");
        }
        EXPECT_EQ(k, c.words.size());
    }
    EXPECT_EQ(tsv_text({ doc_word("late", 360000.125, 360000.5) }),
              "start\tend\tspeaker\ttext\tadded\tuntimed\n360000.125\t360000.500\t\tlate\t0\t0\n");
}

TEST(Table, ConfidenceColumnOnlyWhenTheDocumentHasOne) {
    // Read back from a document: a restored filler without a confidence gets an empty field; values outside
    // [0, 1] are brought into it; a confidence that is not a number is no words document.
    const DocumentRead read = read_words_document(
        R"({"words":[{"text":"so","start":0,"end":0.5,"conf":0.875},{"text":"um","start":0.5,"end":0.7,"added":true},)"
        R"({"text":"x","start":1,"end":2,"conf":7,"edited":true}]})");
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(tsv_text(read.words), "start\tend\tspeaker\ttext\tadded\tuntimed\tconf\n"
                                    "0.000\t0.500\t\tso\t0\t0\t0.88\n"
                                    "0.500\t0.700\t\tum\t1\t0\t\n"
                                    "1.000\t2.000\t\tx\t0\t0\t1.00\n");
    EXPECT_EQ(read_words_document(R"({"words":[{"text":"a","start":0,"end":1,"conf":"high"}]})").error,
              "not a words document: word 1: \"conf\" is not a number");
}

} // namespace
