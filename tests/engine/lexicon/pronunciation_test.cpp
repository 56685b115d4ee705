#include "engine/lexicon/pronunciation.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace {

using kelvo_asr::token_sound;

// The phones of the English acoustic model.
const std::set<std::string> model_phones = { "AA", "AE", "AH", "AO", "AW", "AY", "B",  "CH", "D",  "DH",
                                             "EH", "ER", "EY", "F",  "G",  "HH", "IH", "IY", "JH", "K",
                                             "L",  "M",  "N",  "NG", "OW", "OY", "P",  "R",  "S",  "SH",
                                             "T",  "TH", "UH", "UW", "V",  "W",  "Y",  "Z",  "ZH" };

TEST(MapSynthPhonemes, MapsOntoTheModelPhones) {
    const struct {
        const char * synth;
        const char * model;
    } cases[] = {
        { "d|'a|S|w|U|d", "D AE SH W UH D" },             // stress marks dropped
        { "h|@|l|'oU w|'3:|l|d", "HH AH L OW W ER L D" }, // two words
        { "f|'aI3", "F AY ER" },
        { "f|'aI3|r-", "F AY ER" },     // a doubled phone across names is said once
        { "b|'V|?|n-", "B AH T AH N" }, // glottal stop and syllabic n
        { "w|'O:|t#|3", "W AO T ER" },  // flap
        { "tS|'I|dZ", "CH IH JH" },
        { "T|'I|N|k", "TH IH NG K" },
        { "D|,E|r|%i:", "DH EH R IY" },
        { "p|j|'U@", "P Y UH R" },
        { "n|,i@3", "N IH R" },
        { "k|a|f|'eI", "K AE F EY" },
        { "_:|_:|_:", "" }, // pauses only
        { "", "" },
        { "'I3|z", "IH Z" }, // an unknown variant falls back to its base
    };
    for (const auto & c : cases) {
        SCOPED_TRACE(c.synth);
        EXPECT_EQ(kelvo_asr::map_synth_phonemes(c.synth), c.model);
    }
}

TEST(MapSynthPhonemes, EverySynthesiserWordGivesModelPhonesOnly) {
    // Real synthesiser output for awkward words: every phone it maps to must exist in the model.
    for (const char * word : { "Dashwood", "naïve", "café", "rock'n'roll", "Albuquerque", "Lindqvist", "Okonkwo",
                               "zhivago", "rhythm", "hour", "pure", "tsunami", "loch", "Bach" }) {
        SCOPED_TRACE(word);
        std::string phonemes = kelvo_asr::synth_phonemes(word);
        ASSERT_FALSE(phonemes.empty());
        std::string mapped = kelvo_asr::map_synth_phonemes(phonemes);
        ASSERT_FALSE(mapped.empty()) << phonemes;
        std::istringstream in(mapped);
        std::string        phone;
        while (in >> phone) {
            EXPECT_TRUE(model_phones.count(phone)) << phone << " from " << phonemes;
        }
    }
}

TEST(NumberReadings, ReadsNumbersAsPeopleSayThem) {
    const struct {
        const char *             token;
        std::vector<std::string> readings;
    } cases[] = {
        { "0", { "zero" } },
        { "7", { "seven" } },
        { "35", { "thirty five" } },
        { "100", { "one hundred" } },
        { "1200", { "one thousand two hundred", "twelve hundred" } },
        { "1995", { "one thousand nine hundred ninety five", "nineteen ninety five", "nineteen hundred ninety five" } },
        { "1905", { "one thousand nine hundred five", "nineteen oh five", "nineteen hundred five" } },
        { "1900", { "one thousand nine hundred", "nineteen hundred" } },
        { "2005", { "two thousand five" } },
        { "2019", { "two thousand nineteen", "twenty nineteen" } },
        { "2010", { "two thousand ten", "twenty ten" } },
        { "1000000", { "one million" } },
        { "2nd", { "second" } },
        { "1st", { "first" } },
        { "3rd", { "third" } },
        { "12th", { "twelfth" } },
        { "21st", { "twenty first" } },
        { "20th", { "twentieth" } },
        { "2ND", { "second" } },
        { "007", { "zero zero seven" } },
        { "abc", {} },
        { "12ab", {} },
        { "1st2", {} },
        { "", {} },
    };
    for (const auto & c : cases) {
        SCOPED_TRACE(c.token);
        std::vector<std::string> got;
        for (const auto & reading : kelvo_asr::number_readings(c.token)) {
            std::string joined;
            for (const std::string & w : reading) {
                joined += (joined.empty() ? "" : " ") + w;
            }
            got.push_back(joined);
        }
        EXPECT_EQ(got, c.readings);
    }
}

TEST(ClassifyToken, TellsSpokenForeignAndSilentTokensApart) {
    const struct {
        const char * token;
        token_sound  sound;
    } cases[] = {
        { "hello", token_sound::spoken },
        { "don't", token_sound::spoken },
        { "1995", token_sound::spoken },
        { "café", token_sound::spoken },
        { "naïve", token_sound::spoken },
        { "Łódź", token_sound::spoken },
        { "don\xE2\x80\x99t", token_sound::spoken }, // curly apostrophe inside a word
        { "東京", token_sound::foreign },
        { "Привет", token_sound::foreign },
        { "\xE2\x80\x94", token_sound::none }, // em dash
        { "\xE2\x80\x93", token_sound::none }, // en dash
        { "\xE2\x80\x99", token_sound::none }, // curly apostrophe alone
        { "\xE2\x80\xA6", token_sound::none }, // ellipsis
        { "\xC2\xAB", token_sound::none },     // guillemet
        { "\xFF\xFE", token_sound::none },     // invalid UTF-8 has no sound
        { "'", token_sound::none },
    };
    for (const auto & c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(kelvo_asr::classify_token(c.token), c.sound);
    }
}

TEST(NormalizeWord, LowerCasesAsciiAndStraightensApostrophes) {
    EXPECT_EQ(kelvo_asr::normalize_word("Don\xE2\x80\x99t"), "don't");
    EXPECT_EQ(kelvo_asr::normalize_word("\xE2\x80\x98Tis"), "'tis");
    EXPECT_EQ(kelvo_asr::normalize_word("CAFÉ"), "cafÉ");         // non-ASCII bytes unchanged
    EXPECT_EQ(kelvo_asr::normalize_word("\xE2\x80"), "\xE2\x80"); // a cut sequence stays as it is
}

} // namespace
