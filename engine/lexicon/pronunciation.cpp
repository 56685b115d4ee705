// Pronunciations for words outside the dictionary: number readings, synthesiser phonemes mapped onto
// the model's phone set, and classification of tokens by script.

#include "engine/lexicon/pronunciation.h"

#include <espeak-ng/speak_lib.h>

#include <cstdint>
#include <mutex>

namespace kelvo_asr {

namespace {

// Decodes the UTF-8 code point at `at`, advancing `at`; an invalid byte yields 0xFFFD and one byte.
uint32_t next_code_point(const std::string & s, size_t & at) {
    unsigned char c     = static_cast<unsigned char>(s[at]);
    int           extra = 0;
    uint32_t      cp    = 0;
    if (c < 0x80) {
        at++;
        return c;
    } else if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp    = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp    = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp    = c & 0x07;
    } else {
        at++;
        return 0xFFFD;
    }
    if (at + static_cast<size_t>(extra) >= s.size()) {
        at++;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; k++) {
        unsigned char d = static_cast<unsigned char>(s[at + static_cast<size_t>(k)]);
        if ((d & 0xC0) != 0x80) {
            at++;
            return 0xFFFD;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    at += static_cast<size_t>(extra) + 1;
    return cp;
}

bool is_latin_letter(uint32_t cp) {
    return (cp >= 0xC0 && cp <= 0x24F && cp != 0xD7 && cp != 0xF7) || (cp >= 0x1E00 && cp <= 0x1EFF) ||
           (cp >= 0x300 && cp <= 0x36F) || cp == 0xAA || cp == 0xBA;
}

// Punctuation, spaces and marks that are never spoken.
bool is_silent_mark(uint32_t cp) {
    if (cp < 0x80) {
        return !((cp >= '0' && cp <= '9') || (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z'));
    }
    return (cp >= 0x80 && cp <= 0xBF && cp != 0xAA && cp != 0xBA && cp != 0xB2 && cp != 0xB3 && cp != 0xB9 &&
            cp != 0xBC && cp != 0xBD && cp != 0xBE && cp != 0xB5) ||
           (cp >= 0x2000 && cp <= 0x206F) || (cp >= 0x3000 && cp <= 0x303F) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
           (cp >= 0xFF01 && cp <= 0xFF0F) || cp == 0xFEFF || cp == 0xFFFD;
}

const char * const small_numbers[] = { "zero",     "one",     "two",     "three",     "four",     "five",    "six",
                                       "seven",    "eight",   "nine",    "ten",       "eleven",   "twelve",  "thirteen",
                                       "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen" };
const char * const tens_names[]    = {
       "", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"
};

// Appends the words of 0 < n < 100.
void append_below_hundred(uint64_t n, std::vector<std::string> & out) {
    if (n < 20) {
        out.push_back(small_numbers[n]);
        return;
    }
    out.push_back(tens_names[n / 10]);
    if (n % 10 != 0) {
        out.push_back(small_numbers[n % 10]);
    }
}

// Appends the words of 0 < n < 1000.
void append_below_thousand(uint64_t n, std::vector<std::string> & out) {
    if (n >= 100) {
        out.push_back(small_numbers[n / 100]);
        out.push_back("hundred");
        n %= 100;
    }
    if (n > 0) {
        append_below_hundred(n, out);
    }
}

std::vector<std::string> cardinal_words(uint64_t n) {
    std::vector<std::string> out;
    if (n == 0) {
        out.push_back("zero");
        return out;
    }
    const uint64_t     scales[]      = { 1000000000000ULL, 1000000000ULL, 1000000ULL, 1000ULL };
    const char * const scale_names[] = { "trillion", "billion", "million", "thousand" };
    for (int k = 0; k < 4; k++) {
        if (n >= scales[k]) {
            append_below_thousand(n / scales[k], out);
            out.push_back(scale_names[k]);
            n %= scales[k];
        }
    }
    if (n > 0) {
        append_below_thousand(n, out);
    }
    return out;
}

// The year reading of a four-digit number: "nineteen ninety five", "nineteen oh five", "twelve hundred",
// "twenty nineteen"; empty for 2000 to 2009 and the like, which are read as cardinals.
std::vector<std::string> year_words(uint64_t n) {
    std::vector<std::string> out;
    uint64_t                 high = n / 100;
    uint64_t                 low  = n % 100;
    if (high % 10 == 0 && low < 10) {
        return out; // 2005 is read "two thousand five", which is the cardinal reading
    }
    append_below_hundred(high, out);
    if (low == 0) {
        out.push_back("hundred");
    } else if (low < 10) {
        out.push_back("oh");
        out.push_back(small_numbers[low]);
    } else {
        append_below_hundred(low, out);
    }
    return out;
}

std::string ordinal_of(const std::string & word) {
    if (word == "one") {
        return "first";
    }
    if (word == "two") {
        return "second";
    }
    if (word == "three") {
        return "third";
    }
    if (word == "five") {
        return "fifth";
    }
    if (word == "eight") {
        return "eighth";
    }
    if (word == "nine") {
        return "ninth";
    }
    if (word == "twelve") {
        return "twelfth";
    }
    if (!word.empty() && word.back() == 'y') {
        return word.substr(0, word.size() - 1) + "ieth";
    }
    return word + "th";
}

// One entry of the phoneme table: a synthesiser phoneme and the model phones it stands for.
struct phone_entry {
    const char * synth;
    const char * model;
};

// American English phonemes of the synthesiser onto the acoustic model's 39 phones (plus nothing for
// pauses). Syllabic consonants carry their schwa; flaps and glottal stops are the model's T.
const phone_entry phone_table[] = {
    { "a", "AE" },      { "a#", "AH" },   { "aa", "AE" },     { "A:", "AA" },     { "A", "AA" },       { "A@", "AA R" },
    { "A#", "AA" },     { "aI", "AY" },   { "aI@", "AY ER" }, { "aI3", "AY ER" }, { "aI@3", "AY ER" }, { "aU", "AW" },
    { "aU@", "AW ER" }, { "@", "AH" },    { "@2", "AH" },     { "@5", "AH" },     { "@L", "AH L" },    { "@-", "AH" },
    { "3", "ER" },      { "3:", "ER" },   { "@r", "ER" },     { "E", "EH" },      { "E2", "EH" },      { "E#", "EH" },
    { "e", "EH" },      { "e@", "EH R" }, { "eI", "EY" },     { "I", "IH" },      { "I2", "IH" },      { "I#", "IH" },
    { "i", "IY" },      { "i:", "IY" },   { "i@", "IY AH" },  { "i@3", "IH R" },  { "0", "AA" },       { "0#", "AA" },
    { "O", "AO" },      { "O:", "AO" },   { "O@", "AO R" },   { "o@", "AO R" },   { "OI", "OY" },      { "oU", "OW" },
    { "oU#", "OW" },    { "o", "OW" },    { "o:", "OW" },     { "U", "UH" },      { "U@", "UH R" },    { "u:", "UW" },
    { "u", "UW" },      { "V", "AH" },    { "VR", "ER" },     { "3:r", "ER" },    { "y", "UW" },       { "y:", "UW" },
    { "Y", "UW" },      { "W", "UH" },    { "p", "P" },       { "b", "B" },       { "t", "T" },        { "d", "D" },
    { "k", "K" },       { "g", "G" },     { "f", "F" },       { "v", "V" },       { "T", "TH" },       { "D", "DH" },
    { "s", "S" },       { "z", "Z" },     { "S", "SH" },      { "Z", "ZH" },      { "h", "HH" },       { "m", "M" },
    { "n", "N" },       { "N", "NG" },    { "l", "L" },       { "r", "R" },       { "w", "W" },        { "j", "Y" },
    { "tS", "CH" },     { "dZ", "JH" },   { "t#", "T" },      { "d#", "D" },      { "*", "T" },        { "?", "T" },
    { "n-", "AH N" },   { "l-", "AH L" }, { "m-", "AH M" },   { "r-", "ER" },     { "x", "K" },        { "C", "HH" },
    { "X", "HH" },      { "z#", "Z" },    { "s2", "S" },      { "r/", "R" },      { "R", "R" },        { "R2", "R" },
    { "l/", "L" },      { "L", "L" },     { "l^", "L" },      { "n^", "N" },      { "c", "K" },        { "J", "Y" },
    { "B", "B" },       { "G", "G" },     { "Q", "G" },       { "F", "F" },       { "ts", "T S" },     { "dz", "D Z" },
    { "hw", "W" },      { "j/", "Y" },
};

// Strips stress, length-independent marks and tone marks the synthesiser prefixes or appends.
std::string bare_phoneme(const std::string & p) {
    size_t b = 0;
    while (b < p.size() && (p[b] == '\'' || p[b] == ',' || p[b] == '%' || p[b] == '=')) {
        b++;
    }
    return p.substr(b);
}

const char * lookup_phoneme(const std::string & p) {
    for (const phone_entry & e : phone_table) {
        if (p == e.synth) {
            return e.model;
        }
    }
    return nullptr;
}

std::mutex synth_lock;
bool       synth_ready  = false;
bool       synth_failed = false;

} // namespace

token_sound classify_token(const std::string & token) {
    bool   spoken  = false;
    bool   foreign = false;
    size_t at      = 0;
    while (at < token.size()) {
        uint32_t cp = next_code_point(token, at);
        if (cp < 0x80) {
            spoken = spoken || !is_silent_mark(cp);
        } else if (is_latin_letter(cp)) {
            spoken = true;
        } else if (!is_silent_mark(cp)) {
            foreign = true;
        }
    }
    if (foreign) {
        return token_sound::foreign;
    }
    return spoken ? token_sound::spoken : token_sound::none;
}

std::string normalize_word(const std::string & word) {
    std::string out;
    for (size_t i = 0; i < word.size(); i++) {
        unsigned char c = static_cast<unsigned char>(word[i]);
        // U+2018 and U+2019, the curly apostrophes, are E2 80 98 and E2 80 99.
        if (c == 0xE2 && i + 2 < word.size() && static_cast<unsigned char>(word[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(word[i + 2]) == 0x98 || static_cast<unsigned char>(word[i + 2]) == 0x99)) {
            out += '\'';
            i += 2;
            continue;
        }
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    }
    return out;
}

std::vector<std::vector<std::string>> number_readings(const std::string & token) {
    std::vector<std::vector<std::string>> out;
    std::string                           t        = normalize_word(token);
    size_t                                n_digits = 0;
    while (n_digits < t.size() && t[n_digits] >= '0' && t[n_digits] <= '9') {
        n_digits++;
    }
    if (n_digits == 0) {
        return out;
    }
    std::string suffix  = t.substr(n_digits);
    bool        ordinal = suffix == "st" || suffix == "nd" || suffix == "rd" || suffix == "th";
    if (!suffix.empty() && !ordinal) {
        return out;
    }
    std::string digits = t.substr(0, n_digits);
    if ((digits.size() > 1 && digits[0] == '0') || digits.size() > 15) {
        // A code or an identifier: read digit by digit.
        std::vector<std::string> words;
        for (char d : digits) {
            words.push_back(small_numbers[d - '0']);
        }
        out.push_back(words);
        return out;
    }
    uint64_t value = 0;
    for (char d : digits) {
        value = value * 10 + static_cast<uint64_t>(d - '0');
    }
    std::vector<std::string> cardinal = cardinal_words(value);
    if (ordinal) {
        cardinal.back() = ordinal_of(cardinal.back());
        out.push_back(cardinal);
        return out;
    }
    out.push_back(cardinal);
    if (digits.size() == 4 && value >= 1100) {
        std::vector<std::string> year = year_words(value);
        if (!year.empty()) {
            out.push_back(year);
        }
        // The older way of reading a year: "nineteen hundred ninety five".
        if (value % 100 != 0 && (value / 100) % 10 != 0) {
            std::vector<std::string> hundreds;
            append_below_hundred(value / 100, hundreds);
            hundreds.push_back("hundred");
            append_below_hundred(value % 100, hundreds);
            out.push_back(hundreds);
        }
    }
    return out;
}

std::string map_synth_phonemes(const std::string & phonemes) {
    std::vector<std::string> phones;
    std::string              current;
    auto                     flush = [&] {
        std::string p = bare_phoneme(current);
        current.clear();
        if (p.empty() || p[0] == '_' || p[0] == ':' || p[0] == '|') {
            return; // pauses and empty names have no phone
        }
        const char * model = lookup_phoneme(p);
        if (model == nullptr && p.size() > 1) {
            // An unknown variant ("I3"): fall back to its base name.
            model = lookup_phoneme(p.substr(0, p.size() - 1));
            if (model == nullptr) {
                model = lookup_phoneme(p.substr(0, 1));
            }
        }
        if (model == nullptr) {
            return;
        }
        std::string m  = model;
        size_t      at = 0;
        while (at < m.size()) {
            size_t sp = m.find(' ', at);
            if (sp == std::string::npos) {
                sp = m.size();
            }
            std::string one = m.substr(at, sp - at);
            // A doubled phone across a boundary ("AY ER" + "ER") is said once.
            if (phones.empty() || phones.back() != one) {
                phones.push_back(one);
            }
            at = sp + 1;
        }
    };
    for (char c : phonemes) {
        if (c == phoneme_separator || c == ' ' || c == '\n' || c == '\t') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    std::string out;
    for (const std::string & p : phones) {
        if (!out.empty()) {
            out += ' ';
        }
        out += p;
    }
    return out;
}

std::string synth_phonemes(const std::string & word) {
    std::lock_guard<std::mutex> guard(synth_lock);
    if (!synth_ready && !synth_failed) {
        int rate     = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        synth_failed = rate <= 0 || espeak_SetVoiceByName("en-us") != EE_OK;
        synth_ready  = !synth_failed;
    }
    if (synth_failed) {
        return "";
    }
    std::string  out;
    const void * text = word.c_str();
    while (text != nullptr) {
        const char * part = espeak_TextToPhonemes(&text, espeakCHARS_UTF8, static_cast<int>(phoneme_separator) << 8);
        if (part != nullptr && *part != '\0') {
            if (!out.empty()) {
                out += ' ';
            }
            out += part;
        }
    }
    return out;
}

} // namespace kelvo_asr
