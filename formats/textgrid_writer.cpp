#include "formats/formats.h"

#include <algorithm>
#include <charconv>

namespace {

struct Interval {
    double      xmin = 0;
    double      xmax = 0;
    std::string text;
};

struct Point {
    double      time = 0;
    std::string mark;
};

// One speaker's words as Praat shows them: intervals that tile the whole length, and points.
struct SpeakerTiers {
    std::string           who;
    std::vector<Interval> intervals;
    std::vector<Point>    points;
};

// The shortest text that reads back as the same double, whatever the locale.
std::string number_text(double value) {
    char       text[64];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    return std::string(text, result.ptr);
}

// A Praat string: in double quotes, each quote doubled.
std::string quoted(const std::string & text) {
    std::string out = "\"";
    for (char c : one_line(text)) {
        out += c == '"' ? "\"\"" : std::string(1, c);
    }
    return out + '"';
}

// Lays one speaker's words (in order of start) out over [0, length]. A word gets an interval from its start
// (or the previous word's end, when they overlap) to its end; a word with no time left of its own, untimed
// or covered by the word before, becomes a point at its start.
SpeakerTiers lay_out(const std::string & who, const std::vector<const DocumentWord *> & words, double length) {
    SpeakerTiers tiers{ who, {}, {} };
    double       cursor = 0;
    for (const DocumentWord * word : words) {
        const double start = std::max(word->start, cursor);
        if (word->untimed || word->end <= start) {
            tiers.points.push_back({ std::clamp(word->start, 0.0, length), word->text });
            continue;
        }
        if (start > cursor) {
            tiers.intervals.push_back({ cursor, start, "" });
        }
        tiers.intervals.push_back({ start, word->end, word->text });
        cursor = word->end;
    }
    if (cursor < length || tiers.intervals.empty()) {
        tiers.intervals.push_back({ cursor, length, "" });
    }
    return tiers;
}

// The header lines every tier starts with.
std::string tier_header(size_t number, const char * tier_class, const std::string & name, double length) {
    return "    item [" + std::to_string(number) + "]:\n        class = \"" + tier_class +
           "\"\n        name = " + quoted(name) + "\n        xmin = 0\n        xmax = " + number_text(length) + '\n';
}

} // namespace

std::string textgrid_text(const std::vector<DocumentWord> & words, double length) {
    // The speakers in order of their first word; every word without a speaker goes to one "words" tier.
    std::vector<std::string>                       speakers;
    std::vector<std::vector<const DocumentWord *>> spoken;
    for (const DocumentWord & word : words) {
        length          = std::max({ length, word.start, word.end });
        const auto   at = std::find(speakers.begin(), speakers.end(), word.who);
        const size_t k  = static_cast<size_t>(at - speakers.begin());
        if (at == speakers.end()) {
            speakers.push_back(word.who);
            spoken.emplace_back();
        }
        spoken[k].push_back(&word);
    }
    // Praat cannot open a TextGrid without tiers: an empty document still gets one, empty throughout.
    if (speakers.empty()) {
        speakers.emplace_back();
        spoken.emplace_back();
    }

    std::vector<SpeakerTiers> laid_out;
    size_t                    tier_count = 0;
    for (size_t k = 0; k < speakers.size(); k++) {
        std::stable_sort(spoken[k].begin(), spoken[k].end(),
                         [](const DocumentWord * a, const DocumentWord * b) { return a->start < b->start; });
        laid_out.push_back(lay_out(speakers[k], spoken[k], length));
        tier_count += laid_out.back().points.empty() ? 1 : 2;
    }

    std::string out =
        "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = " + number_text(length) +
        "\ntiers? <exists>\nsize = " + std::to_string(tier_count) + "\nitem []:\n";
    size_t number = 0;
    for (const SpeakerTiers & tiers : laid_out) {
        const std::string name = tiers.who.empty() ? "words" : tiers.who;
        out += tier_header(++number, "IntervalTier", name, length);
        out += "        intervals: size = " + std::to_string(tiers.intervals.size()) + '\n';
        for (size_t i = 0; i < tiers.intervals.size(); i++) {
            const Interval & interval = tiers.intervals[i];
            out += "        intervals [" + std::to_string(i + 1) +
                   "]:\n            xmin = " + number_text(interval.xmin) +
                   "\n            xmax = " + number_text(interval.xmax) +
                   "\n            text = " + quoted(interval.text) + '\n';
        }
        if (tiers.points.empty()) {
            continue;
        }
        out += tier_header(++number, "TextTier", name + " untimed", length);
        out += "        points: size = " + std::to_string(tiers.points.size()) + '\n';
        for (size_t i = 0; i < tiers.points.size(); i++) {
            out += "        points [" + std::to_string(i + 1) +
                   "]:\n            number = " + number_text(tiers.points[i].time) +
                   "\n            mark = " + quoted(tiers.points[i].mark) + '\n';
        }
    }
    return out;
}
