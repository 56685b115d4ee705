#include "transcript/transcript.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// How long a first sound lies under the noise before the word shows above it: an f, the weakest hiss, stays
// hidden whole, and so do a stop's closure and release after a vowel or a voiced glide (the quiet there is all the
// stop's); a vowel or a voiced glide rises out of the noise at once. Other first sounds (s, h, th, a stop after a
// word that ends in a stop or a hiss of its own) show in part or cannot be told from the word before, and stay.
constexpr double hidden_hiss_seconds   = 0.1;
constexpr double hidden_stop_seconds   = 0.1;
constexpr double hidden_voiced_seconds = 0.02;

// A quiet longer than this before a stop holds a pause too, whose end the closure's start cannot be told from.
constexpr double max_closure_seconds = 0.15;

// A start already this near where the rule puts it stays.
constexpr double min_move_seconds = 0.03;

// Letters read as a vowel or a voiced glide, and as a stop.
constexpr std::string_view voiced_letters = "aeiouwylrmn";
constexpr std::string_view stop_letters   = "bdgptkqc";

// Whether `text`, as written, ends in a vowel or a voiced glide with nothing written after it (no comma, no
// sentence's end): a silent e after a stop ("made") ends in the stop.
bool ends_voiced(std::string_view text) {
    if (text.empty() || voiced_letters.find(static_cast<char>(std::tolower(static_cast<unsigned char>(text.back())))) ==
                            std::string_view::npos) {
        return false;
    }
    return !(text.size() > 2 && text.back() == 'e' &&
             stop_letters.find(static_cast<char>(std::tolower(static_cast<unsigned char>(text[text.size() - 2])))) !=
                 std::string_view::npos);
}

// How long `key`'s first sound lies under the noise, after the word written `before` ("" when none is placed),
// told from their spelling; negative when that is not known.
double hidden_seconds(std::string_view key, std::string_view before) {
    if (key.starts_with("f") || key.starts_with("ph")) {
        return hidden_hiss_seconds;
    }
    if (opens_with_stop(key) && ends_voiced(before)) {
        return hidden_stop_seconds;
    }
    if (!key.empty() && voiced_letters.find(key[0]) != std::string_view::npos) {
        return hidden_voiced_seconds;
    }
    return -1;
}

} // namespace

bool opens_with_stop(std::string_view key) {
    if (key.empty() || stop_letters.find(key[0]) == std::string_view::npos) {
        return false;
    }
    const char next = key.size() > 1 ? key[1] : '\0';
    if (next == 'h' || next == 'n' || (key[0] == 'c' && std::string_view("eiy").find(next) != std::string_view::npos)) {
        return false;
    }
    return true;
}

double noise_onset_start(std::span<const float> samples, int32_t rate, std::string_view key, std::string_view before,
                         double start, double end) {
    const NoiseAround around = noise_around(samples, rate, start, end);
    const double      hidden = hidden_seconds(key, before);
    if (!around.in_noise || hidden < 0) {
        return start;
    }
    const double                from  = around.from;
    const double                hop   = around.hop;
    const size_t                at    = around.at;
    const std::vector<double> & db    = around.db;
    const double                noise = around.noise;
    if (db[at] > noise) {
        return start; // drawn on sound
    }
    const size_t onset = around.onset;
    const size_t dip   = around.dip;
    if (onset == db.size()) {
        return start; // nothing of the word above the noise
    }
    if (opens_with_stop(key) && static_cast<double>(onset - dip) * hop > max_closure_seconds) {
        return start;
    }
    const double moved =
        std::max(from + static_cast<double>(dip) * hop, from + static_cast<double>(onset) * hop - hidden);
    return std::fabs(moved - start) < min_move_seconds ? start : moved;
}

void trim_noise_onsets(const std::vector<TranscriptWord> & words, const Stretch & s, std::span<const float> samples,
                       int32_t rate, StretchTimes & times) {
    for (size_t k = 0; k < times.placed.size(); k++) {
        if (!times.placed[k]) {
            continue;
        }
        const bool          before = k > 0 && times.placed[k - 1];
        const std::string   none;
        const std::string & written = before ? words[s.first + k - 1].text : none;
        const double        start =
            noise_onset_start(samples, rate, words[s.first + k].key, written, times.start[k], times.end[k]);
        // Never back over the whole of the word before (it was drawn in the quiet too: its place is unsure).
        if (start == times.start[k] || (before && start <= times.start[k - 1] + min_move_seconds)) {
            continue;
        }
        times.start[k] = start;
        if (before && times.end[k - 1] > start) {
            times.end[k - 1] = start;
        }
    }
}
