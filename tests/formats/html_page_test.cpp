// The review page's markup on the documents where formats break: every word one element in document order,
// its text escaped, turns and paragraphs where the speakers change and the pauses fall; and the encodings
// the page's recording goes through. What the page does in a browser is tested by review_page_test.js.

#include "format_cases.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

size_t count_of(const std::string & text, const std::string & part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        n++;
    }
    return n;
}

// The texts of the word elements in the page's transcript, unescaped.
std::vector<std::string> word_texts(const std::string & page) {
    const size_t             begin = page.find("<main id=\"text\">");
    const size_t             stop  = page.find("</main>");
    std::vector<std::string> texts;
    for (size_t at = page.find("<span", begin); at < stop; at = page.find("<span", at + 1)) {
        const size_t open = page.find('>', at) + 1;
        std::string  text = page.substr(open, page.find("</span>", open) - open);
        std::string  plain;
        for (size_t i = 0; i < text.size(); i++) {
            const std::pair<const char *, char> entities[] = {
                { "&amp;", '&' }, { "&lt;", '<' }, { "&gt;", '>' }, { "&quot;", '"' }, { "&#39;", '\'' }
            };
            bool done = false;
            for (const auto & [entity, c] : entities) {
                if (text.compare(i, std::strlen(entity), entity) == 0) {
                    plain += c;
                    i += std::strlen(entity) - 1;
                    done = true;
                    break;
                }
            }
            EXPECT_TRUE(done || (text[i] != '<' && text[i] != '>' && text[i] != '"')) << text;
            plain += done ? "" : std::string(1, text[i]);
        }
        texts.push_back(plain);
    }
    return texts;
}

TEST(HtmlPage, ShowsEveryWordAsEscapedTextInTurnsAndParagraphs) {
    for (const FormatCase & c : format_cases()) {
        const std::string        page = html_page_text(c.words, {}, c.name);
        std::vector<std::string> expected;
        for (const DocumentWord & word : c.words) {
            expected.push_back(one_line(word.text));
        }
        EXPECT_EQ(word_texts(page), expected) << c.name;
        EXPECT_EQ(count_of(page, "</script>"), 2u) << c.name << ": the data and the script, nothing else";
        EXPECT_EQ(page.find("<audio"), std::string::npos) << "no player without a recording";
    }
    const auto page_of = [](const std::string & name) {
        for (const FormatCase & c : format_cases()) {
            if (c.name == name) {
                return html_page_text(c.words, {}, name);
            }
        }
        return std::string();
    };
    // Without speakers a pause over 1 s opens a new headed paragraph; with them, a turn per change of speaker.
    EXPECT_EQ(count_of(page_of("speech_with_a_pause"), "<section"), 2u);
    EXPECT_EQ(count_of(page_of("two_speakers"), "<section"), 4u);
    EXPECT_NE(page_of("past_one_hour").find("<time>59:59</time>"), std::string::npos);
    EXPECT_NE(page_of("empty").find("no words"), std::string::npos);

    const std::vector<DocumentWord> words = { doc_word("a", 0, 0.2, "P"), doc_word("b", 1.5, 1.7, "P"),
                                              doc_word("um", 1.8, 1.8, "P", true, true) };
    const std::string               page  = html_page_text(words, {}, "doc");
    EXPECT_EQ(count_of(page, "<section"), 1u) << "a pause inside a turn only starts a paragraph";
    EXPECT_EQ(count_of(page, "</p>\n<p>"), 1u);
    EXPECT_NE(page.find("<span class=\"a u\">um</span>"), std::string::npos);
}

TEST(HtmlPage, EncodesTheRecordingsPathAndBytes) {
    EXPECT_EQ(path_url("../rec/talk 1#2?.wav"), "../rec/talk%201%232%3F.wav");
    EXPECT_EQ(path_url("c:\\x\"<y>&%.wav"), "c%3A%5Cx%22%3Cy%3E%26%25.wav");
    EXPECT_EQ(path_url("caf\xC3\xA9.wav"), "caf%C3%A9.wav");

    const std::pair<std::string, std::string> base64[] = {
        { "", "" }, { "f", "Zg==" }, { "fo", "Zm8=" }, { "foo", "Zm9v" }, { "foob", "Zm9vYg==" }, { "\xFF\xFE", "//4=" }
    };
    for (const auto & [bytes, text] : base64) {
        EXPECT_EQ(base64_text(bytes), text);
    }

    EXPECT_EQ(audio_mime_type(std::string("RIFF\x24\0\0\0WAVEfmt ", 16)), "audio/wav");
    EXPECT_EQ(audio_mime_type("fLaC"), "audio/flac");
    EXPECT_EQ(audio_mime_type("OggS"), "audio/ogg");
    EXPECT_EQ(audio_mime_type("ID3\x04"), "audio/mpeg");
    EXPECT_EQ(audio_mime_type("RIFF"), "");
    EXPECT_EQ(audio_mime_type("FORM\0\0\0\0AIFF"), "");
}

} // namespace
