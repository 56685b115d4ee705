// formats: a words document read back, and the files people open from it: subtitles (SRT, WebVTT), a
// Praat TextGrid, a table (TSV) and a review page (HTML). Every writer returns the whole file as bytes;
// nothing here prints.

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

//
// Reading a words document
//

// One word of a words document.
struct DocumentWord {
    std::string text;
    double      start   = 0;
    double      end     = 0;
    bool        added   = false; // a filler restored from the extra words
    bool        untimed = false; // the aligner gave the word no duration of its own
    std::string who;             // the speaker label ("who", else "speaker"); "" when the word has none
    bool        found = false;   // `who` came from "speaker" (a voice found in the audio), not from a turn
    double      conf  = -1;      // the probability that the word is right, in [0, 1]; negative: none given
};

// A words document read back: its words, or why the bytes are not a words document.
struct DocumentRead {
    std::vector<DocumentWord> words;
    std::string               error; // "" when the bytes are a words document
};

// Reads a words document; invalid JSON, an error object or a wrong shape gives a message in `error`. A word
// whose time is null or past any recording becomes untimed, at the end of the word before it.
DocumentRead read_words_document(std::string_view bytes);

// Returns `bytes` with every byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::string repair_utf8(std::string_view bytes);

// Returns `text` with every control byte (below 0x20, and 0x7F) replaced by a space, so a word stays on one line.
std::string one_line(std::string_view text);

//
// Cues
//

// How much one subtitle cue may hold.
struct CueLimits {
    size_t line_chars = 42;  // characters per line; a single longer word gets a line of its own
    size_t lines      = 2;   // lines per cue
    double seconds    = 7.0; // from the cue's first start to its last end, unless one word takes longer
    double pause      = 1.0; // a longer silence before a timed word starts a new cue
};

// One subtitle cue: one speaker's words, shown from `start` to `end`.
struct Cue {
    double                   start = 0;
    double                   end   = 0; // equals `start` when the cue holds only untimed words
    std::string              who;
    std::vector<std::string> lines; // the words joined by single spaces, broken into lines
    std::vector<std::string> words; // the words the lines hold, in order
    std::vector<double>      conf;  // each of `words`' confidence; negative: none
};

// Groups the words into cues, in order of their start times: a new cue at each change of speaker, after a
// pause, or when the text or duration would pass `limits`. Untimed words join the cue around them at their
// own time; words without visible text are left out.
std::vector<Cue> group_cues(const std::vector<DocumentWord> & words, const CueLimits & limits = {});

// Returns `lines` (at most `limits.lines`) holding `texts` joined by spaces, each line within
// `limits.line_chars` unless it is one longer word; nullopt when they need more lines.
std::optional<std::vector<std::string>> break_lines(const std::vector<std::string> & texts, const CueLimits & limits);

// Returns the words with each run of spoken number words (one speaker's, up to a mark) that people write in
// digits joined into one word of digits, timed from the run's first start to its last end: numbers from ten,
// decimals ("3.5"), ordinals from the tenth ("14th"), years spoken in pairs ("1995") and runs of single
// digits; a lone number below ten stays a word. Marks after the run's last word stay after the digits.
std::vector<DocumentWord> numbers_as_digits(const std::vector<DocumentWord> & words);

// Returns "HH:MM:SS" followed by `separator` and milliseconds; hours take more digits past 99; a time below
// zero is written as zero.
std::string cue_timestamp(double seconds, char separator);

//
// Writers
//

// SubRip: numbered cues, "HH:MM:SS,mmm --> HH:MM:SS,mmm", the lines, a blank line. Empty for no cues.
std::string srt_text(const std::vector<Cue> & cues);

// WebVTT: the header, then each cue with its speaker as the cue's voice; the text escaped for WebVTT. With
// `min_conf` at 0 or above, each word whose confidence is below it is marked `<c.doubt>word</c>`.
std::string vtt_text(const std::vector<Cue> & cues, double min_conf = -1);

// A Praat TextGrid (long text form) from 0 to `length` seconds (or the last word's time when later): one
// interval tier per speaker ("words" for words without one), gaps filled with empty intervals, and a point
// tier per speaker for the words that have no duration of their own.
std::string textgrid_text(const std::vector<DocumentWord> & words, double length);

// A tab-separated table with a header line: start, end, speaker, text, added, untimed, and conf when any word
// has a confidence (two decimals; empty for a word without one); one row per word.
std::string tsv_text(const std::vector<DocumentWord> & words);

// The recording as the review page plays and draws it.
struct PageAudio {
    std::string        link;       // the audio element's URL, relative as given; "" when embedded or absent
    std::string        data;       // the recording's bytes when embedded, else ""
    std::string        mime_type;  // of `data`
    std::vector<float> peaks;      // the loudest sample (0 to 1) of each equal stretch, in order
    double             length = 0; // seconds; 0 without a recording
};

// A self-contained HTML page (inline style and script, nothing fetched) showing the words in speaker turns,
// or paragraphs at pauses over 1 s when no word has a speaker, beside the recording and its waveform; the
// words are clickable and lit as the audio plays. `title` names the document.
std::string html_page_text(const std::vector<DocumentWord> & words, const PageAudio & audio, const std::string & title);

// Returns `path` as a relative URL: every byte but ASCII letters, digits, "-._~" and "/" percent-encoded.
std::string path_url(std::string_view path);

// Returns `bytes` in base64 (RFC 4648, with padding).
std::string base64_text(std::string_view bytes);

//
// Audio files
//

// Length in seconds of the audio file at `path` (frames over rate); nullopt when it cannot be read.
std::optional<double> audio_length(const std::string & path);

// The recording at `path` reduced to at most `count` peaks, with its length; nullopt when it cannot be read.
std::optional<PageAudio> waveform_peaks(const std::string & path, size_t count);

// The media type a browser plays the bytes as, from their first bytes: WAV, FLAC, Ogg or MP3; "" for
// anything else.
std::string audio_mime_type(std::string_view bytes);

//
// Command line of tavrik-words
//

enum class WordsFormat { srt, vtt, textgrid, tsv, html };

struct ConverterOptions {
    WordsFormat format = WordsFormat::srt;
    std::string input;               // the words document; "" or "-" for standard input
    std::string audio;               // --audio: the recording, for the TextGrid's length and the page's player
    bool        drop_added  = false; // --drop-added: leave out restored fillers
    bool        embed_audio = false; // --embed-audio: the page carries the recording itself
    double      min_conf    = -1;    // --min-conf: WebVTT marks words less sure than this; negative: no marks
    bool        digits      = false; // --numbers digits: subtitle cues show numbers in digits
    bool        help        = false; // --help: print the usage and do nothing else
    bool        version     = false; // --version: print the program's version and do nothing else
};

// The command line read back: the options, or why it is not a valid one.
struct OptionsRead {
    ConverterOptions options;
    std::string      error; // "" when the command line is valid
};

// Reads the arguments after the program name. "--help" or "--version" anywhere before an error gives `help`
// or `version` and no error.
OptionsRead parse_converter_options(const std::vector<std::string> & args);
