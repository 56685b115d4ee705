// cli: the command line, and how the tool speaks to whoever runs it.
//
// Standard error carries the device line and progress lines; standard output carries exactly one JSON
// text per run: the words document or one error object.

#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kelvo_asr {
class KelvoASR;
class ForcedAligner;
struct transcribe_params;
struct voice_stretch;
struct noise_levels;
} // namespace kelvo_asr
struct Segment;
struct TranscriptWord;

//
// Reporting
//

// Writes "progress %.3f %s\n" to standard error, the fraction clamped into [0, 1], and flushes it.
void report_progress(double fraction, const char * stage);

// Writes {"error":"<escaped message>"} and a line feed to standard output. Returns the exit status 1.
int report_error(const std::string & message);

// While one lives, an exit() or abort() anywhere in the process writes {"error":"<escaped text>"} and a
// line feed to standard output and ends it with status 1, nothing else written: `out_of_memory` when the
// exiting call had failed to allocate memory (errno ENOMEM), else `stopped`. For calls into a library that
// may end the process. One lives at a time; its end (a return or an exception) disarms it.
struct StopReportScope {
    StopReportScope(const std::string & stopped, const std::string & out_of_memory);
    ~StopReportScope();
    StopReportScope(const StopReportScope &)             = delete;
    StopReportScope & operator=(const StopReportScope &) = delete;
};

// Returns the body of a JSON string for the bytes of `text`: \t \n \r \" \\ escaped, other bytes below
// 0x20 as \u00xx, every other byte unchanged.
std::string json_escape(const std::string & text);

//
// Command line
//

struct RunOptions {
    std::string asr;         // --asr: recognition model; required
    std::string aligner;     // --aligner: alignment model; required
    std::string audio;       // --audio: the WAV file; required
    int32_t     threads = 4; // --threads: handed to every recognition call; never below 1
    std::string language;    // --language: handed to every recognition call
    std::string extra_words; // --extra-words: extra-words file; not read when empty
    std::string turns;       // --turns: turns file; not read when empty
    std::string vocabulary;  // --vocabulary: the user's words and phrases; not read when empty
    std::string transcript;  // --transcript: the words said, to be timed instead of the recognised ones

    // --denoise: "off" turns noise suppression off; any other value, or none, leaves it on
    bool denoise = true;
    // --adapt: "off" turns adaptation to each voice off; any other value, or none, leaves it on
    bool adapt = true;
    // --confidence (takes no value): every recognised word carries the probability that it is right
    bool confidence = false;
    // --speakers: "auto" or a count from 1 labels every word with its found speaker; any other value, or
    // none, leaves words unlabelled
    bool    speakers   = false;
    int32_t n_speakers = 0; // the count given; 0: found
    // --plain-words (takes no value): the words as recognised, lower case and without marks
    bool plain_words = false;
};

// Moves `pos` onto the next argument and returns it; at the last argument returns "" and leaves `pos`.
std::string next_arg(int argc, const char * const * argv, int & pos);

// Returns the thread count for a --threads value: atoi's reading, at least 1, at most INT32_MAX.
int32_t parse_thread_count(const std::string & value);

// Scans the arguments after the program name into RunOptions; unknown arguments are skipped,
// a repeated option replaces the earlier value.
RunOptions scan_options(int argc, const char * const * argv);

// Reads a regular file at `path` in 8 MiB blocks, up to the size it had when opened, and discards the bytes,
// so that it is in the page cache before the engine loads it. Anything else (a folder, a device, a FIFO) is
// left to the engine unread, and opening never waits. Silent on any failure.
void preread_file(const std::string & path);

// Reads the whole file at `path` into `text`: a regular file, or a pipe until its writer closes it. False
// for a missing or unreadable file, a folder, and a file past 16 MiB.
bool read_vocabulary_file(const std::string & path, std::string & text);

//
// Adaptation to the found voices
//

namespace voice_plan_rule {
constexpr int64_t min_voice_samples =
    int64_t{ 16000 } * 30; // speech of every found voice before the voices are trusted
// Other voices behind the speech: a background whose quiet frames vary this much (dB) ...
constexpr double babble_floor_spread = 2.5;
// ... and that stands less than this far (dB) below the speech.
constexpr double babble_speech_over_floor = 32.0;
// Voices that change with less silence than this between their stretches take turns without pausing.
constexpr int32_t min_turn_pause_samples = 16000 / 10;
} // namespace voice_plan_rule

enum class VoicePlan {
    as_one,     // one transform for the whole recording
    each_voice, // a transform per found voice
    none,       // the model's own means throughout
};

// How a recording whose found voices are `voices` and whose background is `background` is adapted to: not at
// all over babble (voice_plan_rule's spread and gap), without speech, or when a voice has less than
// voice_plan_rule::min_voice_samples of speech; else as one voice when one is found, and a transform each
// when more are.
VoicePlan plan_voice_adaptation(const std::vector<kelvo_asr::voice_stretch> & voices,
                                const kelvo_asr::noise_levels &               background);

// Where a recording adapted to each found voice is cut into segments: the middle of the gap at each change of
// voice in `voices` (in order, not overlapping); where most changes have less than
// voice_plan_rule::min_turn_pause_samples between the two stretches, only at the changes with that much.
std::vector<int32_t> segment_cuts(const std::vector<kelvo_asr::voice_stretch> & voices);

//
// The run with a transcript (part of the driver, cli/transcript_mode.cpp)
//

// Recognises every segment, lines `transcript` up with the words heard and force-aligns it stretch by
// stretch; says on standard error how many words it could not place, then prints the words document (or the
// error object of a failure). Returns the exit status.
int run_with_transcript(const RunOptions & opts, const std::vector<TranscriptWord> & transcript,
                        std::span<const float> samples, int32_t rate, kelvo_asr::KelvoASR & asr,
                        kelvo_asr::ForcedAligner & aligner, const std::vector<Segment> & segments,
                        const std::vector<kelvo_asr::voice_stretch> &                        voices,
                        const std::function<kelvo_asr::transcribe_params(const Segment &)> & segment_params);
