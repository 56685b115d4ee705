// tavrik-words: a words document in, the same words as subtitles, a TextGrid, a table or a review page out.

#include "formats/formats.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace {

const char * const usage_text =
    "usage: tavrik-words --format srt|vtt|textgrid|tsv|html [--drop-added] [--audio <wav> [--embed-audio]]\n"
    "                    [--min-conf <0 to 1> (vtt)] [--numbers words|digits] [<words document>]";

// The waveform on the review page is drawn from this many peaks: finer than any screen, a few tens of KB.
constexpr size_t page_peaks = 4000;

// The largest recording --embed-audio takes. The page carries it as base64 (a third larger), and the browser
// holds that text and the decoded bytes at once before it can play; past this size the page is slow to open
// and too large to send as one file, and linking the recording beside the page is the better way.
constexpr uintmax_t max_embedded_audio_bytes = 48u << 20;

// Writes "tavrik-words: <message>" on standard error and returns the exit status 1.
int fail(const std::string & message) {
    std::fprintf(stderr, "tavrik-words: %s\n", message.c_str());
    return 1;
}

// The whole of the file at `path`, or of standard input for "" and "-"; nullopt when it cannot be read.
std::optional<std::string> read_input(const std::string & path) {
    std::ostringstream bytes;
    if (path.empty() || path == "-") {
        bytes << std::cin.rdbuf();
        return std::cin.bad() ? std::nullopt : std::optional(bytes.str());
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    bytes << file.rdbuf();
    return file.bad() ? std::nullopt : std::optional(bytes.str());
}

// The review page's recording: its waveform, and the bytes to embed or the path to link; "" in `error` unless it
// cannot be read or is too large to embed.
PageAudio page_audio(const ConverterOptions & opts, std::string & error) {
    if (opts.audio.empty()) {
        return {};
    }
    // The size is looked at first, so that a recording too large to embed is refused before it is read.
    std::error_code size_error;
    const uintmax_t size = opts.embed_audio ? std::filesystem::file_size(opts.audio, size_error) : 0;
    if (!size_error && size > max_embedded_audio_bytes) {
        error = "the audio " + opts.audio + " is " + std::to_string(size >> 20) + " MiB, more than the " +
                std::to_string(max_embedded_audio_bytes >> 20) +
                " MiB --embed-audio takes; leave out --embed-audio to link it, and keep it beside the page";
        return {};
    }
    std::optional<PageAudio> audio = waveform_peaks(opts.audio, page_peaks);
    if (!audio) {
        error = "cannot read the audio " + opts.audio;
        return {};
    }
    if (!opts.embed_audio) {
        audio->link = path_url(opts.audio);
        return *audio;
    }
    const std::optional<std::string> bytes = read_input(opts.audio);
    if (size_error || !bytes || bytes->size() > max_embedded_audio_bytes) {
        error = "cannot read the audio " + opts.audio;
        return {};
    }
    audio->mime_type = audio_mime_type(*bytes);
    if (audio->mime_type.empty()) {
        error = "cannot embed the audio " + opts.audio + ": browsers play WAV, FLAC, Ogg or MP3 files";
        return {};
    }
    audio->data = *bytes;
    return *audio;
}

// The name the review page shows: the document's file name, or "words" for standard input.
std::string page_title(const std::string & input) {
    return input.empty() || input == "-" ? "words" : std::filesystem::path(input).filename().string();
}

// The chosen format's bytes for `words`; `length` is the recording's length for a TextGrid.
std::string convert(const std::vector<DocumentWord> & words, const ConverterOptions & opts, double length,
                    const PageAudio & audio) {
    switch (opts.format) {
    case WordsFormat::srt:
        return srt_text(group_cues(opts.digits ? numbers_as_digits(words) : words));
    case WordsFormat::vtt:
        return vtt_text(group_cues(opts.digits ? numbers_as_digits(words) : words), opts.min_conf);
    case WordsFormat::textgrid:
        return textgrid_text(words, length);
    case WordsFormat::tsv:
        return tsv_text(words);
    case WordsFormat::html:
        return html_page_text(words, audio, page_title(opts.input));
    }
    return "";
}

int run(const std::vector<std::string> & args) {
    const OptionsRead options = parse_converter_options(args);
    if (!options.error.empty()) {
        return fail(options.error + "\n" + usage_text);
    }
    const ConverterOptions & opts = options.options;
    if (opts.help || opts.version) {
        const int printed =
            opts.help ? std::printf("%s\n", usage_text) : std::printf("tavrik-words %s\n", TAVRIK_VERSION);
        return printed < 0 || std::fflush(stdout) != 0 ? 1 : 0;
    }

    const std::optional<std::string> bytes = read_input(opts.input);
    if (!bytes) {
        return fail("cannot read " + (opts.input.empty() ? std::string("standard input") : opts.input));
    }
    DocumentRead document = read_words_document(*bytes);
    if (!document.error.empty()) {
        return fail(document.error);
    }
    std::vector<DocumentWord> & words = document.words;
    if (opts.drop_added) {
        std::erase_if(words, [](const DocumentWord & word) { return word.added; });
    }

    double length = 0;
    if (opts.format == WordsFormat::textgrid && !opts.audio.empty()) {
        const std::optional<double> audio = audio_length(opts.audio);
        if (!audio) {
            return fail("cannot read the audio " + opts.audio);
        }
        length = *audio;
    }

    std::string     audio_error;
    const PageAudio audio = opts.format == WordsFormat::html ? page_audio(opts, audio_error) : PageAudio{};
    if (!audio_error.empty()) {
        return fail(audio_error);
    }

    const std::string out = convert(words, opts, length, audio);
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        return fail("cannot write the output");
    }
    return 0;
}

} // namespace

int main(int argc, char ** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception & e) {
        return fail(e.what());
    }
}
