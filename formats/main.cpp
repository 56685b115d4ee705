// tavrik-words: a words document in, the same words as subtitles, a TextGrid or a table out.

#include "formats/formats.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace {

const char * const usage_text =
    "usage: tavrik-words --format srt|vtt|textgrid|tsv [--drop-added] [--audio <wav>] [<words document>]";

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

// The chosen format's bytes for `words`; `length` is the recording's length for a TextGrid.
std::string convert(const std::vector<DocumentWord> & words, WordsFormat format, double length) {
    switch (format) {
    case WordsFormat::srt:
        return srt_text(group_cues(words));
    case WordsFormat::vtt:
        return vtt_text(group_cues(words));
    case WordsFormat::textgrid:
        return textgrid_text(words, length);
    case WordsFormat::tsv:
        return tsv_text(words);
    }
    return "";
}

int run(const std::vector<std::string> & args) {
    const OptionsRead options = parse_converter_options(args);
    if (!options.error.empty()) {
        return fail(options.error + "\n" + usage_text);
    }
    const ConverterOptions & opts = options.options;
    if (opts.help) {
        return std::printf("%s\n", usage_text) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
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

    const std::string out = convert(words, opts.format, length);
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
