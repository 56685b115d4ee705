#include "formats/formats.h"

#include <charconv>

namespace {

// The format named by a --format value; nullopt for any other name.
std::optional<WordsFormat> format_named(const std::string & name) {
    if (name == "srt") {
        return WordsFormat::srt;
    }
    if (name == "vtt") {
        return WordsFormat::vtt;
    }
    if (name == "textgrid") {
        return WordsFormat::textgrid;
    }
    if (name == "tsv") {
        return WordsFormat::tsv;
    }
    if (name == "html") {
        return WordsFormat::html;
    }
    return std::nullopt;
}

// The whole of `text` as a number from 0 to 1; nullopt for anything else.
std::optional<double> unit_number(const std::string & text) {
    double       value     = 0;
    const char * end       = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || at != end || !(value >= 0 && value <= 1)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

OptionsRead parse_converter_options(const std::vector<std::string> & args) {
    OptionsRead read;
    bool        have_format = false;
    bool        have_input  = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string & arg = args[i];
        if (arg == "--help" || arg == "--version") {
            read.options.help    = arg == "--help";
            read.options.version = arg == "--version";
            read.error.clear();
            return read;
        }
        if (arg == "--drop-added") {
            read.options.drop_added = true;
            continue;
        }
        if (arg == "--embed-audio") {
            read.options.embed_audio = true;
            continue;
        }
        if (arg == "--format" || arg == "--audio" || arg == "--min-conf" || arg == "--numbers") {
            if (i + 1 >= args.size()) {
                read.error = arg + " needs a value";
                return read;
            }
            const std::string & value = args[++i];
            if (arg == "--audio") {
                read.options.audio = value;
                continue;
            }
            if (arg == "--min-conf") {
                const std::optional<double> limit = unit_number(value);
                if (!limit) {
                    read.error = "--min-conf takes a number from 0 to 1, not \"" + value + "\"";
                    return read;
                }
                read.options.min_conf = *limit;
                continue;
            }
            if (arg == "--numbers") {
                if (value != "words" && value != "digits") {
                    read.error = "unknown --numbers \"" + value + "\" (words or digits)";
                    return read;
                }
                read.options.digits = value == "digits";
                continue;
            }
            const std::optional<WordsFormat> format = format_named(value);
            if (!format) {
                read.error = "unknown format \"" + value + "\" (srt, vtt, textgrid, tsv or html)";
                return read;
            }
            read.options.format = *format;
            have_format         = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            read.error = "unknown option " + arg;
            return read;
        }
        if (have_input) {
            read.error = "more than one document given";
            return read;
        }
        read.options.input = arg;
        have_input         = true;
    }
    if (!have_format) {
        read.error = "--format is required";
    } else if (read.options.embed_audio && (read.options.format != WordsFormat::html || read.options.audio.empty())) {
        read.error = "--embed-audio needs --format html and --audio";
    } else if (read.options.min_conf >= 0 && read.options.format != WordsFormat::vtt) {
        read.error = "--min-conf needs --format vtt";
    } else if (read.options.digits && read.options.format != WordsFormat::srt &&
               read.options.format != WordsFormat::vtt) {
        // The other formats keep one timed word per spoken word.
        read.error = "--numbers digits needs --format srt or vtt";
    }
    return read;
}
