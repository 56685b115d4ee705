// Reading a transcript: plain text with speaker labels, a words document, and what is refused.

#include "transcript/transcript.h"

#include <gtest/gtest.h>

namespace {

std::string texts(const TranscriptRead & read) {
    std::string out;
    for (const TranscriptWord & w : read.words) {
        out += (out.empty() ? "" : "|") + w.text + "=" + w.key + (w.who ? std::string("/") + w.who : "") +
               (w.speaker.empty() ? "" : "/" + w.speaker) + (w.added ? "+" : "");
    }
    return out;
}

TEST(TranscriptReader, TextKeepsSpellingJoinsPunctuationAndCarriesLabelsOverLines) {
    const TranscriptRead read = read_transcript("\xEF\xBB\xBF\" Well - P: no\r\n"
                                                "P: Don't, \xE2\x80\x94 stop!\n"
                                                "more  here\n"
                                                "Dr.Ames: Yes \xC3\xA9t\xC3\xA9.\n"
                                                ":\n");
    EXPECT_EQ(read.error, "");
    // A first token ending in ':' is a label; one inside a line is a word.
    EXPECT_EQ(texts(read), "\" Well -=well|P:=p|no=no|Don't, \xE2\x80\x94=don't/P|stop!=stop/P|more=more/P|"
                           "here=here/P|Yes=yes/Dr.Ames|\xC3\xA9t\xC3\xA9. :=\xC3\xA9t\xC3\xA9/Dr.Ames");
}

TEST(TranscriptReader, DocumentKeepsWordsLabelsAndAddedMarks) {
    const TranscriptRead read =
        read_transcript("  {\"words\":[{\"text\":\"Um,\",\"start\":0.1,\"end\":0.2,\"added\":true,\"who\":\"C\"},"
                        "{\"text\":\"...\",\"start\":0.3,\"end\":0.3,\"untimed\":true},"
                        "{\"text\":\"Hi\",\"start\":null,\"end\":0.5,\"speaker\":\"S2\",\"conf\":0.5}]}");
    EXPECT_EQ(read.error, "");
    // Every word of the document stays a word, even one with nothing to say.
    EXPECT_EQ(texts(read), "Um,=um/C+|...=|Hi=hi/S2");
}

TEST(TranscriptReader, RefusesWhatIsNotATranscript) {
    const std::pair<std::string, std::string> cases[] = {
        { "", "it holds no words" },
        { " \n\t , -- \n", "it holds no words" },
        { "A:\nB:\n", "it holds no words" },
        { "caf\xE9 au lait", "it is not UTF-8 text" },
        { "{\"words\":[]}", "it holds no words" },
        { "{\"error\":\"could not read the audio\"}", "the document is an error object: could not read the audio" },
        { "{\"words\":[{\"text\":1}]}", "not a words document: word 1: no \"text\" string" },
    };
    for (const auto & [bytes, error] : cases) {
        const TranscriptRead read = read_transcript(bytes);
        EXPECT_EQ(read.error, error) << bytes;
        EXPECT_TRUE(read.words.empty()) << bytes;
    }
    EXPECT_EQ(read_transcript("{\"words\":").error.rfind("not valid JSON: ", 0), 0u);
}

} // namespace
