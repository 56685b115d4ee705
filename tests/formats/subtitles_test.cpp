// SRT and WebVTT on the documents where subtitles break: every file is read back by the format's grammar
// (numbered blocks and "HH:MM:SS,mmm --> HH:MM:SS,mmm" for SRT; the header, timestamps, voice spans and
// character references for WebVTT), then its cues are held to the cue limits and to the document's words.

#include "format_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace {

struct ReadCue {
    double                   start = 0;
    double                   end   = 0;
    std::string              voice;
    std::vector<std::string> lines; // decoded text
};

std::vector<std::string> file_lines(const std::string & text) {
    std::vector<std::string> lines;
    size_t                   at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "the file does not end with a line feed";
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

bool digits(const std::string & text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Seconds of one timestamp "HH:MM:SS" + `separator` + "mmm", hours two digits or more (and optional for
// WebVTT), minutes and seconds from 00 to 59; nullopt for any other text.
std::optional<double> timestamp_seconds(const std::string & text, char separator, bool hours_optional) {
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        const size_t colon = text.find(':', at);
        parts.push_back(text.substr(at, colon - at));
        if (colon == std::string::npos) {
            break;
        }
        at = colon + 1;
    }
    if (parts.size() == 2 && hours_optional) {
        parts.insert(parts.begin(), "00");
    }
    if (parts.size() != 3 || parts[0].size() < 2 || !digits(parts[0])) {
        return std::nullopt;
    }
    const std::string & minutes = parts[1];
    const std::string & rest    = parts[2]; // "SS,mmm" or "SS.mmm"
    if (minutes.size() != 2 || !digits(minutes) || minutes[0] > '5' || rest.size() != 6 || rest[2] != separator ||
        !digits(rest.substr(0, 2)) || rest[0] > '5' || !digits(rest.substr(3))) {
        return std::nullopt;
    }
    return std::stod(parts[0]) * 3600 + std::stod(minutes) * 60 + std::stod(rest.substr(0, 2)) +
           std::stod(rest.substr(3)) / 1000;
}

// Reads a "START --> END" line into `cue`; false when it breaks the grammar.
bool read_timing(const std::string & line, char separator, bool hours_optional, ReadCue & cue) {
    const size_t arrow = line.find(" --> ");
    if (arrow == std::string::npos) {
        return false;
    }
    const auto start = timestamp_seconds(line.substr(0, arrow), separator, hours_optional);
    const auto end   = timestamp_seconds(line.substr(arrow + 5), separator, hours_optional);
    if (!start || !end) {
        return false;
    }
    cue.start = *start;
    cue.end   = *end;
    return true;
}

std::vector<ReadCue> read_srt(const std::string & text) {
    const std::vector<std::string> lines = file_lines(text);
    std::vector<ReadCue>           cues;
    size_t                         i = 0;
    while (i < lines.size()) {
        ReadCue cue;
        EXPECT_EQ(lines[i], std::to_string(cues.size() + 1)) << "cue number";
        EXPECT_TRUE(i + 1 < lines.size() && read_timing(lines[i + 1], ',', false, cue)) << "timing line";
        for (i += 2; i < lines.size() && !lines[i].empty(); i++) {
            EXPECT_EQ(lines[i].find("-->"), std::string::npos) << lines[i];
            cue.lines.push_back(lines[i]);
        }
        cues.push_back(cue);
        i++; // the blank line between cues
    }
    return cues;
}

// WebVTT cue text: an optional <v NAME> ... </v> around the whole cue, every other '<' and '&' escaped.
std::string decode_vtt(const std::string & text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        EXPECT_NE(text[i], '<') << "markup inside the words: " << text;
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        bool known = false;
        for (const auto & [entity, c] : { std::pair{ "&amp;", '&' }, { "&lt;", '<' }, { "&gt;", '>' } }) {
            if (text.compare(i, std::string(entity).size(), entity) == 0) {
                out += c;
                i += std::string(entity).size() - 1;
                known = true;
                break;
            }
        }
        EXPECT_TRUE(known) << "a bare '&' in " << text;
    }
    return out;
}

std::vector<ReadCue> read_vtt(const std::string & text) {
    const std::vector<std::string> lines = file_lines(text);
    std::vector<ReadCue>           cues;
    if (lines.empty() || lines[0] != "WEBVTT") {
        ADD_FAILURE() << "no WEBVTT header";
        return cues;
    }
    for (size_t i = 1; i < lines.size();) {
        EXPECT_EQ(lines[i], "") << "a blank line before each cue";
        ReadCue cue;
        EXPECT_TRUE(i + 1 < lines.size() && read_timing(lines[i + 1], '.', true, cue)) << "timing line";
        std::vector<std::string> payload;
        for (i += 2; i < lines.size() && !lines[i].empty(); i++) {
            EXPECT_EQ(lines[i].find("-->"), std::string::npos) << lines[i];
            payload.push_back(lines[i]);
        }
        if (!payload.empty() && payload.front().rfind("<v ", 0) == 0) {
            const size_t close = payload.front().find('>');
            cue.voice          = payload.front().substr(3, close - 3);
            payload.front().erase(0, close + 1);
            EXPECT_TRUE(payload.back().ends_with("</v>")) << "voice span not closed";
            payload.back().resize(payload.back().size() - std::min<size_t>(4, payload.back().size()));
        }
        for (const std::string & line : payload) {
            cue.lines.push_back(decode_vtt(line));
        }
        cues.push_back(cue);
    }
    return cues;
}

size_t chars(const std::string & text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// What every cue file must keep: the cue limits, cues in order of their start, and every word shown once.
void check_cues(const std::vector<ReadCue> & cues, const std::vector<std::string> & expected_tokens) {
    const CueLimits          limits;
    std::vector<std::string> tokens;
    double                   previous_start = 0;
    for (const ReadCue & cue : cues) {
        std::vector<std::string> cue_tokens;
        for (const std::string & line : cue.lines) {
            const std::vector<std::string> line_tokens = split_tokens(line);
            EXPECT_TRUE(chars(line) <= limits.line_chars || line_tokens.size() == 1) << "too long: " << line;
            cue_tokens.insert(cue_tokens.end(), line_tokens.begin(), line_tokens.end());
        }
        EXPECT_GE(cue.lines.size(), 1u);
        EXPECT_LE(cue.lines.size(), limits.lines);
        EXPECT_LE(cue.start, cue.end);
        EXPECT_TRUE(cue.end - cue.start <= limits.seconds + 0.0005 || cue_tokens.size() == 1);
        EXPECT_GE(cue.start, previous_start) << "cues out of order";
        previous_start = cue.start;
        tokens.insert(tokens.end(), cue_tokens.begin(), cue_tokens.end());
    }
    EXPECT_EQ(tokens, expected_tokens);
}

const FormatCase & case_named(const std::string & name) {
    for (const FormatCase & c : format_cases()) {
        if (c.name == name) {
            return c;
        }
    }
    throw std::runtime_error("no case " + name);
}

TEST(Subtitles, EveryCaseReadsBackByTheGrammarAndKeepsTheCueLimits) {
    for (const FormatCase & c : format_cases()) {
        SCOPED_TRACE(c.name);
        const std::vector<Cue> cues = group_cues(c.words);

        // SubRip has no escapes: only its arrow is broken up, the rest of the text is kept as it is.
        std::vector<DocumentWord> srt_words = c.words;
        for (DocumentWord & word : srt_words) {
            for (size_t at = word.text.find("->"); at != std::string::npos; at = word.text.find("->", at + 3)) {
                if (at > 0 && word.text[at - 1] == '-') {
                    word.text.insert(at + 1, " ");
                }
            }
        }
        check_cues(read_srt(srt_text(cues)), shown_tokens(srt_words));

        const std::vector<ReadCue> vtt = read_vtt(vtt_text(cues));
        check_cues(vtt, shown_tokens(c.words));
        ASSERT_EQ(vtt.size(), cues.size());
        for (size_t k = 0; k < vtt.size(); k++) {
            EXPECT_EQ(vtt[k].voice, cues[k].who);
        }
    }
}

TEST(Subtitles, TimesPastOneAndOneHundredHoursKeepTheirDigits) {
    EXPECT_EQ(srt_text(group_cues(case_named("past_one_hour").words)), "1\n00:59:59,500 --> 01:00:01,000\nover the\n");
    EXPECT_EQ(vtt_text(group_cues(case_named("past_one_hour").words)),
              "WEBVTT\n\n00:59:59.500 --> 01:00:01.000\nover the\n");
    EXPECT_EQ(srt_text(group_cues(case_named("past_100_hours").words)), "1\n100:00:00,125 --> 100:00:00,500\nlate\n");
    EXPECT_EQ(cue_timestamp(-0.0004, ','), "00:00:00,000");
    EXPECT_EQ(cue_timestamp(59.9996, '.'), "00:01:00.000");
}

TEST(Subtitles, UntimedWordsStayAtTheirOwnTime) {
    const std::vector<ReadCue> cues = read_srt(srt_text(group_cues(case_named("untimed").words)));
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[0].lines, std::vector<std::string>{ "we a go" });
    EXPECT_DOUBLE_EQ(cues[0].end, 1.9);
    // Alone after a pause, an untimed word's cue starts and ends at its time rather than get a made-up length.
    EXPECT_EQ(cues[1].lines, std::vector<std::string>{ "um" });
    EXPECT_DOUBLE_EQ(cues[1].start, 5.0);
    EXPECT_DOUBLE_EQ(cues[1].end, 5.0);
}

TEST(Subtitles, CuesBreakAtSpeakersAndPausesAndBalanceTheirLines) {
    std::vector<std::string> voices;
    for (const Cue & cue : group_cues(case_named("two_speakers").words)) {
        voices.push_back(cue.who);
    }
    EXPECT_EQ(voices, (std::vector<std::string>{ "P", "C", "P", "C" }));

    for (const Cue & cue : group_cues(case_named("speech_with_a_pause").words)) {
        std::string text;
        for (const std::string & line : cue.lines) {
            text += line + ' ';
        }
        EXPECT_FALSE(text.find("word29 ") != std::string::npos && text.find("word30 ") != std::string::npos)
            << "a cue across the pause: " << text;
        if (cue.lines.size() == 2) {
            const auto first = static_cast<long>(cue.lines[0].size());
            const auto last  = static_cast<long>(cue.lines[1].size());
            EXPECT_LE(std::labs(first - last), 7) << cue.lines[0] << " / " << cue.lines[1];
        }
    }

    const std::vector<Cue> cues  = group_cues(case_named("long_word").words);
    bool                   alone = false;
    for (const Cue & cue : cues) {
        for (const std::string & line : cue.lines) {
            alone = alone || line == long_word();
        }
    }
    EXPECT_TRUE(alone) << "the long word shares a line or was cut";
}

TEST(Subtitles, WebVttMarksOnlyScoredWordsBelowTheLimitAndBreaksLinesOnTheTextAlone) {
    // Seven words of five letters fill one 41-character line: the markup must not push any onto a second.
    std::vector<DocumentWord> words;
    const double              conf[] = { 0.2, 0.95, -1, 0.49, 0.5, 0.0, 0.3 };
    for (int i = 0; i < 7; i++) {
        words.push_back(doc_word(i == 5 ? "a<b>&" : "word" + std::to_string(i), 0.3 * i, 0.3 * i + 0.25, "P"));
        words.back().conf = conf[i];
    }
    const std::string cue = "00:00:00.000 --> 00:00:02.050\n<v P>";
    EXPECT_EQ(vtt_text(group_cues(words), 0.5),
              "WEBVTT\n\n" + cue +
                  "<c.doubt>word0</c> word1 word2 <c.doubt>word3</c> word4 <c.doubt>a&lt;b&gt;&amp;</c> "
                  "<c.doubt>word6</c></v>\n");
    EXPECT_EQ(vtt_text(group_cues(words)),
              "WEBVTT\n\n" + cue + "word0 word1 word2 word3 word4 a&lt;b&gt;&amp; word6</v>\n");

    // Over two lines, each word keeps its own mark; a document without confidences gets none.
    words.push_back(doc_word("lastword", 2.1, 2.3, "P"));
    words.back().conf     = 0.1;
    const std::string two = vtt_text(group_cues(words), 0.25);
    EXPECT_NE(two.find("<c.doubt>word0</c> word1 word2 word3\nword4 <c.doubt>a&lt;b&gt;&amp;</c> word6 "
                       "<c.doubt>lastword</c></v>"),
              std::string::npos)
        << two;
    for (DocumentWord & word : words) {
        word.conf = -1;
    }
    EXPECT_EQ(vtt_text(group_cues(words), 0.99).find("<c."), std::string::npos);
}

TEST(Subtitles, AnEmptyDocumentGivesAnEmptyFile) {
    EXPECT_EQ(srt_text(group_cues({})), "");
    EXPECT_EQ(vtt_text(group_cues({})), "WEBVTT\n");
}

TEST(Subtitles, NumberWordsBecomeDigitsTimedFromTheirRunsFirstStartToItsLastEnd) {
    const auto digits = [](const std::string & text) {
        std::vector<DocumentWord> words;
        double                    at = 0;
        std::istringstream        in(text);
        for (std::string t; in >> t;) {
            DocumentWord word;
            word.text  = t;
            word.start = at;
            word.end   = at + 0.2;
            words.push_back(word);
            at += 0.25;
        }
        std::string out;
        for (const DocumentWord & w : numbers_as_digits(words)) {
            out += (out.empty() ? "" : " ") + w.text + "@" + std::to_string(static_cast<int>(w.start * 100)) + "-" +
                   std::to_string(static_cast<int>(w.end * 100 + 0.5));
        }
        return out;
    };
    EXPECT_EQ(digits("Twenty two units"), "22@0-45 units@50-70");
    EXPECT_EQ(digits("about three point five."), "about@0-20 3.5.@25-95");
    EXPECT_EQ(digits("the fourteenth and the first"), "the@0-20 14th@25-45 and@50-70 the@75-95 first@100-120");
    EXPECT_EQ(digits("one hundred and five, nineteen ninety five"), "105,@0-95 1995@100-170");
    EXPECT_EQ(digits("one of two and ten"), "one@0-20 of@25-45 two@50-70 and@75-95 10@100-120");
    EXPECT_EQ(digits("five five five one two"), "55512@0-120");
    EXPECT_EQ(digits("two million three thousand four hundred"), "2003400@0-145");
    EXPECT_EQ(digits("point and"), "point@0-20 and@25-45");
}

} // namespace
