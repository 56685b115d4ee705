#include "formats/formats.h"
#include "formats/review_page_assets.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace {

// A gap longer than this between timed words starts a new paragraph.
constexpr double paragraph_pause = 1.0;

// Text for HTML content and quoted attribute values.
std::string html_escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Seconds with three decimals and a point, whatever the locale.
std::string seconds_text(double seconds) {
    char       text[64];
    const auto result = std::to_chars(text, text + sizeof(text), seconds, std::chars_format::fixed, 3);
    return std::string(text, result.ptr);
}

// "m:ss", or "h:mm:ss" from an hour on, as a player shows a time.
std::string clock_text(double seconds) {
    const long total = std::lround(std::floor(std::max(0.0, seconds)));
    const auto two   = [](long v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    if (total >= 3600) {
        return std::to_string(total / 3600) + ":" + two(total / 60 % 60) + ":" + two(total % 60);
    }
    return std::to_string(total / 60) + ":" + two(total % 60);
}

// Each speaker's number: its place in order of first word. Looked up per word, so kept in a hash table.
using SpeakerIndex = std::unordered_map<std::string, size_t>;

// The speakers in order of their first word.
std::vector<std::string> speakers_of(const std::vector<DocumentWord> & words) {
    std::vector<std::string>        speakers;
    std::unordered_set<std::string> seen;
    for (const DocumentWord & word : words) {
        if (!word.who.empty() && seen.insert(word.who).second) {
            speakers.push_back(word.who);
        }
    }
    return speakers;
}

SpeakerIndex index_of(const std::vector<std::string> & speakers) {
    SpeakerIndex index;
    for (size_t i = 0; i < speakers.size(); i++) {
        index.emplace(speakers[i], i);
    }
    return index;
}

size_t speaker_index(const SpeakerIndex & speakers, const std::string & who) {
    const auto found = speakers.find(who);
    return found == speakers.end() ? speakers.size() : found->second;
}

// The shade of a word's confidence: 0 for none or sure enough (0.9 and over), else 1 (0.7 to 0.9), 2 (0.4 to
// 0.7) and 3 (below 0.4).
int confidence_shade(double conf) {
    return conf < 0 || conf >= 0.9 ? 0 : conf >= 0.7 ? 1 : conf >= 0.4 ? 2 : 3;
}

// One word's element, its flags and confidence shade as classes; its times are in the page's data, not
// repeated here.
std::string word_element(const DocumentWord & word) {
    std::string classes = word.added ? "a" : "";
    if (word.untimed) {
        classes += classes.empty() ? "u" : " u";
    }
    if (const int shade = confidence_shade(word.conf); shade > 0) {
        classes += (classes.empty() ? "c" : " c") + std::to_string(shade);
    }
    return (classes.empty() ? "<span>" : "<span class=\"" + classes + "\">") + html_escaped(one_line(word.text)) +
           "</span>";
}

bool any_confidence(const std::vector<DocumentWord> & words) {
    return std::any_of(words.begin(), words.end(), [](const DocumentWord & w) { return w.conf >= 0; });
}

// The head of a turn or paragraph: its speaker, when it has one, and its start time.
std::string block_head(const DocumentWord & first, const SpeakerIndex & speakers) {
    std::string out = "<section";
    if (!first.who.empty()) {
        out += " class=\"s" + std::to_string(speaker_index(speakers, first.who) % 6) + "\"";
    }
    out += "><h2>";
    if (!first.who.empty()) {
        out += "<b>" + html_escaped(one_line(first.who)) + "</b>";
    }
    return out + "<time>" + clock_text(first.start) + "</time></h2><p>";
}

// The words in turns (a change of speaker) and paragraphs (a pause); a turn opens with a head, and so does a
// paragraph when the words have no speakers.
std::string transcript(const std::vector<DocumentWord> & words, const SpeakerIndex & speakers) {
    std::string out;
    double      last_end  = 0;
    bool        any_timed = false;
    for (size_t i = 0; i < words.size(); i++) {
        const DocumentWord & word  = words[i];
        const bool           pause = !word.untimed && any_timed && word.start - last_end > paragraph_pause;
        if (i == 0) {
            out += block_head(word, speakers);
        } else if (word.who != words[i - 1].who || (pause && word.who.empty())) {
            out += "</p></section>\n" + block_head(word, speakers);
        } else if (pause) {
            out += "</p>\n<p>";
        } else {
            out += ' ';
        }
        out += word_element(word);
        if (!word.untimed) {
            last_end  = any_timed ? std::max(last_end, word.end) : word.end;
            any_timed = true;
        }
    }
    return words.empty() ? "<p class=\"none\">This document holds no words.</p>" : out + "</p></section>\n";
}

// The numbers the script needs: per word its times, speaker (-1 for none), flags (1 restored, 2 untimed,
// 4 speaker found in the audio) and,
// when the document has them, confidences (-1 for none). Only numbers: no text of the document goes into a
// script element, where escaping rules differ.
std::string page_data(const std::vector<DocumentWord> & words, const PageAudio & audio, const SpeakerIndex & speakers) {
    const bool  scored = any_confidence(words);
    std::string start, end, who, flags, conf, peaks;
    for (const DocumentWord & word : words) {
        const char * comma = start.empty() ? "" : ",";
        start += comma + seconds_text(word.start);
        end += comma + seconds_text(word.end);
        who += comma + (word.who.empty() ? std::string("-1") : std::to_string(speaker_index(speakers, word.who)));
        flags += comma + std::to_string((word.added ? 1 : 0) | (word.untimed ? 2 : 0) | (word.found ? 4 : 0));
        if (scored) {
            conf += comma + (word.conf < 0 ? std::string("-1") : seconds_text(word.conf));
        }
    }
    for (const float peak : audio.peaks) {
        peaks += (peaks.empty() ? "" : ",") + std::to_string(std::lround(peak * 1000));
    }
    return "{\"length\":" + seconds_text(audio.length) + ",\"start\":[" + start + "],\"end\":[" + end + "],\"who\":[" +
           who + "],\"flags\":[" + flags + "]" + (scored ? ",\"conf\":[" + conf + "]" : std::string()) +
           ",\"peaks\":[" + peaks + "]}";
}

// The legend: each speaker's colour, the two kinds of word styled apart, and the confidence shades when the
// document has confidences.
std::string legend(const std::vector<std::string> & speakers, bool scored) {
    std::string out = "<ul class=\"legend\">";
    for (size_t i = 0; i < speakers.size(); i++) {
        out += "<li class=\"s" + std::to_string(i % 6) + "\"><b>" + html_escaped(one_line(speakers[i])) + "</b></li>";
    }
    out += "<li><span class=\"a\">um</span> restored filler</li>"
           "<li><span class=\"u\">word</span> no real duration</li>";
    if (scored) {
        out += "<li class=\"shades\">sure <span class=\"c1\">&lt;0.9</span><span class=\"c2\">&lt;0.7</span>"
               "<span class=\"c3\">&lt;0.4</span></li>";
    }
    return out + "<li><span class=\"e\">word</span> corrected</li></ul>";
}

} // namespace

std::string html_page_text(const std::vector<DocumentWord> & words, const PageAudio & audio,
                           const std::string & title) {
    const std::vector<std::string> speakers = speakers_of(words);
    const bool                     scored   = any_confidence(words);
    const bool                     playable = !audio.link.empty() || !audio.data.empty();
    const std::string              name     = html_escaped(one_line(repair_utf8(title)));
    std::string                    out      = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    out += "<title>" + name + "</title>\n<style>\n" + review_page_style + "</style>\n</head>\n<body>\n";
    out += "<header>\n<div class=\"top\"><h1>" + name + "</h1><span class=\"count\">" + std::to_string(words.size()) +
           (words.size() == 1 ? " word" : " words") + "</span>";
    out += playable
               ? "<audio id=\"audio\" controls preload=\"auto\"" +
                     (audio.link.empty() ? std::string() : " src=\"" + html_escaped(audio.link) + "\"") + "></audio>"
               : std::string("<span class=\"noaudio\">no recording given</span>");
    out += "</div>\n<div class=\"strip\"><canvas id=\"strip\"></canvas><div id=\"playhead\"></div></div>\n";
    out += "<div class=\"under\">" + legend(speakers, scored) + "<p class=\"keys\">" +
           (playable ? "<kbd>Space</kbd> play / pause " : "") +
           "<kbd>\xE2\x86\x90</kbd> <kbd>\xE2\x86\x92</kbd> word before / after" +
           (playable ? ", click a word to hear it" : "") + "</p></div>\n";
    out += "<div class=\"edit\">";
    if (scored) {
        out += "<label><kbd>n</kbd> <kbd>N</kbd> next / previous below "
               "<input id=\"threshold\" type=\"number\" min=\"0\" max=\"1\" step=\"0.05\" value=\"0.5\"></label>";
    }
    out += "<span class=\"keys\"><kbd>Enter</kbd> correct \xC2\xB7 <kbd>Del</kbd> delete \xC2\xB7 <kbd>i</kbd> insert "
           "\xC2\xB7 "
           "<kbd>z</kbd> undo</span><span id=\"edits\"></span>"
           "<button id=\"discard\" type=\"button\" hidden>Discard</button>"
           "<button id=\"save\" type=\"button\" title=\"Saves NAME.corrected.json; to time its words anew: tavrik-asr "
           "--asr MODEL --aligner MODEL --audio RECORDING.wav --transcript NAME.corrected.json\">Save corrected "
           "words</button></div>\n</header>\n";
    const SpeakerIndex index = index_of(speakers);
    out += "<main id=\"text\">\n" + transcript(words, index) + "</main>\n";
    out += "<script type=\"application/json\" id=\"data\">" + page_data(words, audio, index) + "</script>\n";
    if (!audio.data.empty()) {
        // Base64 holds no "<", so the bytes cannot end the element early.
        out += "<script type=\"text/plain\" id=\"audio-data\" data-type=\"" + html_escaped(audio.mime_type) + "\">" +
               base64_text(audio.data) + "</script>\n";
    }
    out += "<script>\n" + std::string(review_page_script) + "</script>\n</body>\n</html>\n";
    return out;
}
