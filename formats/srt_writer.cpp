#include "formats/formats.h"

namespace {

// SubRip has no escapes: an arrow inside the text could read as a timing line, so a space breaks it up.
std::string srt_line(const std::string & line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line) {
        if (c == '>' && out.size() >= 2 && out.compare(out.size() - 2, 2, "--") == 0) {
            out += ' ';
        }
        out += c;
    }
    return out;
}

} // namespace

std::string srt_text(const std::vector<Cue> & cues) {
    std::string out;
    for (size_t i = 0; i < cues.size(); i++) {
        const Cue & cue = cues[i];
        if (i > 0) {
            out += '\n';
        }
        out += std::to_string(i + 1) + '\n';
        out += cue_timestamp(cue.start, ',') + " --> " + cue_timestamp(cue.end, ',') + '\n';
        for (const std::string & line : cue.lines) {
            out += srt_line(line) + '\n';
        }
    }
    return out;
}
