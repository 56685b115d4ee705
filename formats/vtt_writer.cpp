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

// The cue's lines with each word less sure than `min_conf` in a `doubt` class. Each line is its words joined
// by single spaces, so the words are taken from the cue's list in order until the line is full.
std::vector<std::string> marked_lines(const Cue & cue, double min_conf) {
    std::vector<std::string> lines;
    size_t                   w = 0;
    for (const std::string & line : cue.lines) {
        std::string marked;
        for (size_t used = 0; used < line.size() && w < cue.words.size(); w++) {
            const bool doubt = w < cue.conf.size() && cue.conf[w] >= 0 && cue.conf[w] < min_conf;
            marked += (used > 0 ? " " : "") +
                      (doubt ? "<c.doubt>" + vtt_escape(cue.words[w]) + "</c>" : vtt_escape(cue.words[w]));
            used += (used > 0 ? 1 : 0) + cue.words[w].size();
        }
        lines.push_back(marked);
    }
    return lines;
}

} // namespace

std::string vtt_text(const std::vector<Cue> & cues, double min_conf) {
    std::string out = "WEBVTT\n";
    for (const Cue & cue : cues) {
        out += '\n';
        out += cue_timestamp(cue.start, '.') + " --> " + cue_timestamp(cue.end, '.') + '\n';
        const bool voice = !cue.who.empty();
        if (voice) {
            out += "<v " + vtt_escape(one_line(cue.who)) + '>';
        }
        const bool                     mark  = min_conf >= 0 && cue.words.size() == cue.conf.size();
        const std::vector<std::string> lines = mark ? marked_lines(cue, min_conf) : cue.lines;
        for (size_t k = 0; k < lines.size(); k++) {
            if (k > 0) {
                out += '\n';
            }
            out += mark ? lines[k] : vtt_escape(lines[k]);
        }
        out += voice ? "</v>\n" : "\n";
    }
    return out;
}
