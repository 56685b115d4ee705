// Helpers shared by the tests: child processes, temporary files, WAV writing and speech synthesis. WAV files
// and words documents are read back with the tool's own readers.

#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
    std::string out;    // everything the child wrote to standard output
    std::string err;    // everything the child wrote to standard error
    int         status; // exit status, or 128 + signal number when killed by a signal
};

// Runs `argv` (argv[0] is a path) with `env` added to this process's environment and waits for it.
ProcessResult run_process(const std::vector<std::string> &                         argv,
                          const std::vector<std::pair<std::string, std::string>> & env = {});

// Runs `body` with file descriptor `fd` (1 or 2) sent to a temporary file; returns what was written to it.
std::string capture_fd(int fd, const std::function<void()> & body);

// Returns a new empty directory, removed with everything in it when the process ends.
std::string make_temp_dir();

// Writes `bytes` to `path`, replacing the file. Returns false on failure.
bool write_file(const std::string & path, const std::string & bytes);

// Returns the bytes of the file at `path`; empty when it cannot be read.
std::string read_file(const std::string & path);

// Appends the `bytes` low bytes of `value` to `out`, least significant first.
void append_le(std::string & out, uint64_t value, int bytes);

// The bytes of a WAV file: the RIFF header, a fmt chunk of the given fields followed by `fmt_extra` (the
// extension of an extensible format), and a data chunk holding `data` whose size field (and the RIFF
// size) say `claimed_data_bytes`, so that a file can claim more than it holds.
std::string wav_file_bytes(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, const std::string & data,
                           uint32_t claimed_data_bytes, const std::string & fmt_extra = "");

// Writes `frames` (interleaved when channels > 1) as a 16-bit PCM WAV. Returns false on failure.
bool write_wav_pcm16(const std::string & path, const std::vector<float> & frames, int32_t rate, int32_t channels = 1);

// Writes `frames` as a 32-bit float WAV, values unchanged (NaN and infinities included).
bool write_wav_float(const std::string & path, const std::vector<float> & frames, int32_t rate, int32_t channels = 1);

// True when `name` is an executable on PATH.
bool have_command(const std::string & name);

// Speaks `text` with espeak-ng `voice` at `words_per_minute` into a 16 kHz mono 16-bit WAV at `path`.
bool synthesize_speech(const std::string & text, const std::string & voice, int words_per_minute,
                       const std::string & path);

struct DocumentWord;

// The words of a words document, read by the converter's reader; nullopt when the bytes are not one.
std::optional<std::vector<DocumentWord>> document_words(const std::string & text);

// True when `text` is exactly one JSON value followed by an optional line feed.
bool is_valid_json(const std::string & text);

// Word error rate of `hypothesis` against `reference` (space-separated words, compared lower-cased).
double word_error_rate(const std::string & reference, const std::string & hypothesis);

// One LibriVox clip of the test data: its id (the WAV file's name without .wav) and its reference words.
struct ReferenceText {
    std::string id;
    std::string text; // lower case, single spaces, without the sentence tags
};

// Reads the test data's LibriVox transcription file; empty when it is missing.
std::vector<ReferenceText> read_reference_texts();

// Folder of the English model and of the test recordings (fixed at build time).
std::string model_dir();
std::string testdata_dir();
std::string asr_binary();
std::string scripted_binary();
