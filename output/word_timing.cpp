#include "cli/cli.h"
#include "output/output.h"

bool align_segment(const Segment & segment, std::span<const float> samples, int32_t rate, size_t index, size_t count,
                   const SegmentWords & words, const std::string & language, kelvo_asr::ForcedAligner & aligner,
                   std::vector<TimedWord> & timed_words, std::string & error, bool denoise) {
    const double offset = static_cast<double>(segment.start) / static_cast<double>(rate);

    std::string text;
    for (const std::string & key : words.keys) {
        if (!text.empty()) {
            text += ' ';
        }
        text += key;
    }
    if (text.empty()) {
        return true;
    }

    const double step = 1.0 / static_cast<double>(count);
    report_progress(step * 0.6 + static_cast<double>(index) / static_cast<double>(count), "aligning");

    const kelvo_asr::alignment_result result =
        aligner.align(samples.data() + segment.start, segment.end - segment.start, text, language, denoise);
    if (!result.success) {
        error = "alignment failed: " + result.error;
        return false;
    }

    // The aligner's words map back onto the display words by position, and only when the counts agree.
    const bool same = result.words.size() == words.display.size();
    for (size_t k = 0; k < result.words.size(); k++) {
        const kelvo_asr::aligned_word & aligned = result.words[k];
        TimedWord                       word;
        word.text    = same ? words.display[k] : aligned.text;
        word.start   = static_cast<double>(aligned.start) + offset;
        word.end     = static_cast<double>(aligned.end) + offset;
        word.added   = same ? static_cast<bool>(words.added[k]) : false;
        word.who     = segment.label;
        word.untimed = static_cast<double>(aligned.end - aligned.start) < 0.001;
        word.conf    = same && words.confidence.size() == words.display.size() ? words.confidence[k] : no_confidence;
        timed_words.push_back(std::move(word));
    }
    return true;
}
