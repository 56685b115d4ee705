#include "formats/formats.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace {

using nlohmann::json;

// Times beyond this (about 31 years) cannot come from a recording and would overflow the clock formats.
constexpr double max_seconds = 1e9;

// Marks a time that gives no place in the recording until the words around it are known.
constexpr double no_time = std::numeric_limits<double>::quiet_NaN();

// The parser's message without its "[json.exception.parse_error.101] " tag.
std::string parse_message(const json::exception & e) {
    std::string  text = e.what();
    const size_t at   = text.find("] ");
    return at == std::string::npos ? text : text.substr(at + 2);
}

// Reads one word object into `word`; returns "" or what is wrong with it.
std::string read_word(const json & item, DocumentWord & word) {
    if (!item.is_object()) {
        return "not an object";
    }
    const auto text = item.find("text");
    if (text == item.end() || !text->is_string()) {
        return "no \"text\" string";
    }
    word.text = text->get<std::string>();
    for (const char * key : { "start", "end" }) {
        // The tool writes null for a time that is not a number.
        const auto time = item.find(key);
        if (time == item.end() || !(time->is_number() || time->is_null())) {
            return std::string("no \"") + key + "\" number";
        }
        const double value                      = time->is_null() ? no_time : time->get<double>();
        (key[0] == 's' ? word.start : word.end) = std::fabs(value) <= max_seconds ? value : no_time;
    }
    for (const char * key : { "added", "untimed" }) {
        const auto flag = item.find(key);
        if (flag == item.end()) {
            continue;
        }
        if (!flag->is_boolean()) {
            return std::string("\"") + key + "\" is not true or false";
        }
        (key[0] == 'a' ? word.added : word.untimed) = flag->get<bool>();
    }
    const auto who = item.find("who");
    if (who != item.end()) {
        if (!who->is_string()) {
            return "\"who\" is not a string";
        }
        word.who = who->get<std::string>();
    }
    const auto conf = item.find("conf");
    if (conf != item.end()) {
        if (!conf->is_number()) {
            return "\"conf\" is not a number";
        }
        // A negative value (which the tool never writes) means no confidence, not the least of all.
        const double value = conf->get<double>();
        word.conf          = value >= 0 ? std::min(value, 1.0) : -1;
    }
    // A speaker found in the audio names the word's speaker where no turn label does.
    const auto speaker = item.find("speaker");
    if (speaker != item.end()) {
        if (!speaker->is_string()) {
            return "\"speaker\" is not a string";
        }
        if (who == item.end()) {
            word.who   = speaker->get<std::string>();
            word.found = true;
        }
    }
    return "";
}

// Gives a word with a missing or absurd time the one time it has left, else the end of the word before it
// (0 for the first), and marks it untimed: it keeps its place among the words, never a made-up duration.
void place_words_without_time(std::vector<DocumentWord> & words) {
    double previous_end = 0;
    for (DocumentWord & word : words) {
        if (std::isnan(word.start) || std::isnan(word.end)) {
            const double time = !std::isnan(word.start) ? word.start : !std::isnan(word.end) ? word.end : previous_end;
            word.start        = time;
            word.end          = time;
            word.untimed      = true;
        }
        previous_end = word.end;
    }
}

} // namespace

DocumentRead read_words_document(std::string_view bytes) {
    DocumentRead read;
    json         document;
    try {
        // The tool passes word bytes through unchanged, so its documents need not be valid UTF-8.
        document = json::parse(repair_utf8(bytes));
    } catch (const json::exception & e) {
        // A parse error, or a number too large for a double (which the library reports as out of range).
        read.error = "not valid JSON: " + parse_message(e);
        return read;
    }
    if (!document.is_object()) {
        read.error = "not a words document: not a JSON object";
        return read;
    }
    const auto words = document.find("words");
    if (words == document.end()) {
        const auto error = document.find("error");
        if (error != document.end() && error->is_string()) {
            read.error = "the document is an error object: " + error->get<std::string>();
        } else {
            read.error = "not a words document: no \"words\" list";
        }
        return read;
    }
    if (!words->is_array()) {
        read.error = "not a words document: \"words\" is not a list";
        return read;
    }
    read.words.reserve(words->size());
    for (size_t i = 0; i < words->size(); i++) {
        DocumentWord      word;
        const std::string problem = read_word((*words)[i], word);
        if (!problem.empty()) {
            read.words.clear();
            read.error = "not a words document: word " + std::to_string(i + 1) + ": " + problem;
            return read;
        }
        read.words.push_back(std::move(word));
    }
    place_words_without_time(read.words);
    return read;
}
