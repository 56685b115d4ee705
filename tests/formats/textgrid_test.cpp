// The TextGrid on the documents where it breaks, read back by Praat's rules for the long text form: the
// header, every tier spanning the grid, interval tiers tiled without gap or overlap by intervals of
// positive length, points in order inside the grid, strings with doubled quotes.

#include "format_cases.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

struct Mark {
    double      time = 0; // an interval's start, or a point's time
    double      end  = 0; // an interval's end; a point's time
    std::string text;
};

struct Tier {
    bool              intervals = true; // false for a point tier
    std::string       name;
    double            xmin = 0;
    double            xmax = 0;
    std::vector<Mark> marks;
};

struct Grid {
    double            xmin = 0;
    double            xmax = 0;
    std::vector<Tier> tiers;
};

// Reads the long text form line by line; throws on the first line that breaks it.
class GridReader {
  public:
    explicit GridReader(const std::string & text) : in_(text) {}

    // The next line, which must be exactly `expected`.
    void line(const std::string & expected) {
        const std::string got = next();
        if (got != expected) {
            throw std::runtime_error("expected [" + expected + "], got [" + got + "]");
        }
    }

    // The value of the next line "KEY = VALUE", its indentation and key as given.
    std::string value(const std::string & key) {
        const std::string got = next();
        if (got.rfind(key + " = ", 0) != 0) {
            throw std::runtime_error("expected " + key + ", got [" + got + "]");
        }
        return got.substr(key.size() + 3);
    }

    double number(const std::string & key) {
        const std::string text = value(key);
        size_t            used = 0;
        const double      x    = std::stod(text, &used);
        if (used != text.size() || !std::isfinite(x)) {
            throw std::runtime_error("not a number: " + text);
        }
        return x;
    }

    size_t count(const std::string & key) { return static_cast<size_t>(std::stoul(value(key))); }

    // A Praat string: in quotes, each quote inside doubled.
    std::string string(const std::string & key) {
        const std::string text = value(key);
        if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
            throw std::runtime_error("not a string: " + text);
        }
        std::string out;
        for (size_t i = 1; i + 1 < text.size(); i++) {
            if (text[i] == '"' && text[++i] != '"') {
                throw std::runtime_error("a lone quote in " + text);
            }
            out += text[i];
        }
        return out;
    }

    bool at_end() { return in_.peek() == std::char_traits<char>::eof(); }

  private:
    std::string next() {
        std::string got;
        if (!std::getline(in_, got)) {
            throw std::runtime_error("the file ends early");
        }
        return got;
    }

    std::istringstream in_;
};

Grid read_grid(const std::string & text) {
    GridReader r(text);
    Grid       grid;
    r.line("File type = \"ooTextFile\"");
    r.line("Object class = \"TextGrid\"");
    r.line("");
    grid.xmin = r.number("xmin");
    grid.xmax = r.number("xmax");
    r.line("tiers? <exists>");
    const size_t tiers = r.count("size");
    r.line("item []:");
    for (size_t t = 1; t <= tiers; t++) {
        r.line("    item [" + std::to_string(t) + "]:");
        Tier              tier;
        const std::string tier_class = r.string("        class");
        tier.intervals               = tier_class == "IntervalTier";
        if (!tier.intervals && tier_class != "TextTier") {
            throw std::runtime_error("unknown tier class " + tier_class);
        }
        tier.name           = r.string("        name");
        tier.xmin           = r.number("        xmin");
        tier.xmax           = r.number("        xmax");
        const std::string k = tier.intervals ? "intervals" : "points";
        const size_t      n = r.count("        " + k + ": size");
        for (size_t i = 1; i <= n; i++) {
            r.line("        " + k + " [" + std::to_string(i) + "]:");
            Mark mark;
            if (tier.intervals) {
                mark.time = r.number("            xmin");
                mark.end  = r.number("            xmax");
                mark.text = r.string("            text");
            } else {
                mark.time = mark.end = r.number("            number");
                mark.text            = r.string("            mark");
            }
            tier.marks.push_back(mark);
        }
        grid.tiers.push_back(tier);
    }
    if (!r.at_end()) {
        throw std::runtime_error("text after the last tier");
    }
    return grid;
}

// Praat's rules for what it reads: tiers span the grid, intervals tile it, points lie inside in order.
void check_grid(const Grid & grid) {
    EXPECT_EQ(grid.xmin, 0.0);
    EXPECT_GE(grid.xmax, grid.xmin);
    EXPECT_FALSE(grid.tiers.empty()) << "Praat cannot open a TextGrid without tiers";
    for (const Tier & tier : grid.tiers) {
        SCOPED_TRACE(tier.name);
        EXPECT_EQ(tier.xmin, grid.xmin);
        EXPECT_EQ(tier.xmax, grid.xmax);
        if (!tier.intervals) {
            for (size_t i = 0; i < tier.marks.size(); i++) {
                EXPECT_TRUE(tier.marks[i].time >= tier.xmin && tier.marks[i].time <= tier.xmax);
                EXPECT_TRUE(i == 0 || tier.marks[i - 1].time <= tier.marks[i].time);
            }
            continue;
        }
        ASSERT_FALSE(tier.marks.empty());
        EXPECT_EQ(tier.marks.front().time, tier.xmin);
        EXPECT_EQ(tier.marks.back().end, tier.xmax);
        for (size_t i = 0; i < tier.marks.size(); i++) {
            // The one interval of an empty grid without a length is the only one allowed no length.
            EXPECT_TRUE(tier.marks[i].time < tier.marks[i].end || grid.xmax == grid.xmin)
                << tier.marks[i].time << " " << tier.marks[i].end;
            EXPECT_TRUE(i == 0 || tier.marks[i - 1].end == tier.marks[i].time) << "gap or overlap at " << i;
        }
    }
}

// Every word's tokens across all tiers, sorted: each word shows exactly once.
std::vector<std::string> grid_tokens(const Grid & grid) {
    std::vector<std::string> tokens;
    for (const Tier & tier : grid.tiers) {
        for (const Mark & mark : tier.marks) {
            for (const std::string & token : split_tokens(mark.text)) {
                tokens.push_back(token);
            }
        }
    }
    std::sort(tokens.begin(), tokens.end());
    return tokens;
}

const Tier * tier_named(const Grid & grid, const std::string & name) {
    for (const Tier & tier : grid.tiers) {
        if (tier.name == name) {
            return &tier;
        }
    }
    return nullptr;
}

TEST(TextGrid, EveryCaseOpensByPraatsRulesWithEachWordOnce) {
    for (const FormatCase & c : format_cases()) {
        SCOPED_TRACE(c.name);
        Grid grid;
        ASSERT_NO_THROW(grid = read_grid(textgrid_text(c.words, 0)));
        check_grid(grid);
        std::vector<std::string> expected = shown_tokens(c.words);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(grid_tokens(grid), expected);
    }
}

TEST(TextGrid, OneTierPerSpeakerAndUntimedWordsArePoints) {
    const auto words = [](const std::string & name) {
        for (const FormatCase & c : format_cases()) {
            if (c.name == name) {
                return c.words;
            }
        }
        return std::vector<DocumentWord>{};
    };

    const Grid speakers = read_grid(textgrid_text(words("two_speakers"), 0));
    ASSERT_EQ(speakers.tiers.size(), 3u);
    EXPECT_EQ(speakers.tiers[0].name, "P");
    EXPECT_EQ(speakers.tiers[1].name, "C");
    EXPECT_EQ(speakers.tiers[2].name, "C untimed");
    EXPECT_EQ(speakers.xmax, 1.2);
    // C's "again" lies wholly inside its "you": it keeps its time as a point instead of a made-up interval.
    const Tier * c_points = tier_named(speakers, "C untimed");
    ASSERT_NE(c_points, nullptr);
    ASSERT_EQ(c_points->marks.size(), 1u);
    EXPECT_EQ(c_points->marks[0].text, "again");
    EXPECT_EQ(c_points->marks[0].time, 0.95);

    const Grid   untimed = read_grid(textgrid_text(words("untimed"), 0));
    const Tier * points  = tier_named(untimed, "words untimed");
    ASSERT_NE(points, nullptr);
    ASSERT_EQ(points->marks.size(), 2u);
    EXPECT_EQ(points->marks[0].text, "a");
    EXPECT_EQ(points->marks[0].time, 1.4);
    EXPECT_EQ(points->marks[1].text, "um");
    EXPECT_EQ(points->marks[1].time, 5.0);
    EXPECT_EQ(untimed.xmax, 5.0);

    const Grid markup = read_grid(textgrid_text(words("markup"), 0));
    EXPECT_EQ(markup.tiers[0].marks[3].text, "\"hi\"&<b>-->x now");
}

TEST(TextGrid, TheRecordingsLengthComesFromItsFile) {
    const std::string dir = make_temp_dir();
    ASSERT_TRUE(write_wav_pcm16(dir + "/a.wav", std::vector<float>(40000, 0.0f), 16000));
    const std::optional<double> length = audio_length(dir + "/a.wav");
    ASSERT_TRUE(length.has_value());
    EXPECT_EQ(*length, 2.5);
    EXPECT_FALSE(audio_length(dir + "/missing.wav").has_value());

    const Grid grid = read_grid(textgrid_text({ doc_word("a", 0.5, 1.0) }, *length));
    check_grid(grid);
    EXPECT_EQ(grid.xmax, 2.5);
    // A recording shorter than its words (the wrong file given) cannot cut the words off.
    EXPECT_EQ(read_grid(textgrid_text({ doc_word("a", 0.5, 3.0) }, *length)).xmax, 3.0);
}

} // namespace
