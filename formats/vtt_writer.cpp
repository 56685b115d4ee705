#include "formats/formats.h"

namespace {

// WebVTT text with its three markup characters written as character references.
std::string vtt_escape(const std::string & text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string vtt_text(const std::vector<Cue> & cues) {
    std::string out = "WEBVTT\n";
    for (const Cue & cue : cues) {
        out += '\n';
        out += cue_timestamp(cue.start, '.') + " --> " + cue_timestamp(cue.end, '.') + '\n';
        const bool voice = !cue.who.empty();
        if (voice) {
            out += "<v " + vtt_escape(one_line(cue.who)) + '>';
        }
        for (size_t k = 0; k < cue.lines.size(); k++) {
            if (k > 0) {
                out += '\n';
            }
            out += vtt_escape(cue.lines[k]);
        }
        out += voice ? "</v>\n" : "\n";
    }
    return out;
}
