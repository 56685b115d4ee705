// The run with the user's own transcript: every segment is recognised first, the transcript is lined up with
// what was heard, and then each segment's share of it is force-aligned stretch by stretch.

#include "cli/cli.h"
#include "engine/kelvo_asr.h"
#include "output/output.h"
#include "transcript/transcript.h"
#include "words/words.h"

#include <algorithm>
#include <cstdio>

namespace {

// The recognised words of one segment, with the times at which the recogniser heard them start.
void add_heard_words(const kelvo_asr::transcribe_result & result, const Segment & segment, size_t index, int32_t rate,
                     std::vector<HeardWord> & heard) {
    const std::vector<std::string> tokens = split_tokens(result.text);
    const double                   offset = static_cast<double>(segment.start) / static_cast<double>(rate);
    const double length = static_cast<double>(segment.end - segment.start) / static_cast<double>(rate);
    for (size_t k = 0; k < tokens.size(); k++) {
        std::string key = to_lower(make_match_key(tokens[k]));
        if (key.empty()) {
            continue;
        }
        // Frames are 10 ms; without them the words are spread evenly over the segment.
        const double at = k < result.word_frames.size()
                              ? 0.01 * static_cast<double>(result.word_frames[k])
                              : length * static_cast<double>(k) / static_cast<double>(tokens.size());
        heard.push_back({ std::move(key), offset + at, index });
    }
}

} // namespace

int run_with_transcript(const RunOptions & opts, const std::vector<TranscriptWord> & transcript,
                        std::span<const float> samples, int32_t rate, kelvo_asr::KelvoASR & asr,
                        kelvo_asr::ForcedAligner & aligner, const std::vector<Segment> & segments,
                        const std::vector<kelvo_asr::voice_stretch> &                        voices,
                        const std::function<kelvo_asr::transcribe_params(const Segment &)> & segment_params) {
    const std::string transcribing = "transcription failed: ";
    const std::string aligning     = "alignment failed: ";
    const std::string stopped_run  = "the decoder library stopped the run";
    const std::string ran_out      = "the decoder library ran out of memory";

    // Recognition takes the first 60 % of the progress, as it takes about that share of a plain run.
    const size_t           n = segments.size();
    std::vector<HeardWord> heard;
    std::string            language;
    for (size_t j = 0; j < n; j++) {
        const Segment & segment = segments[j];
        report_progress(0.6 * static_cast<double>(j) / static_cast<double>(n), "transcribing");
        kelvo_asr::transcribe_params params = segment_params(segment);
        params.word_confidence              = false; // the words are the transcript's, not the recogniser's
        kelvo_asr::transcribe_result result;
        {
            const StopReportScope scope(transcribing + stopped_run, transcribing + ran_out);
            result = asr.transcribe(samples.data() + segment.start, segment.end - segment.start, params);
        }
        if (!result.adaptation_off.empty()) {
            std::fprintf(stderr, "adaptation off: %s\n", result.adaptation_off.c_str());
        }
        if (!result.success) {
            return report_error(transcribing + result.error);
        }
        language = result.language;
        add_heard_words(result, segment, j, rate, heard);
    }

    const TranscriptPlan   plan = plan_transcript(transcript, heard, segments, rate);
    std::vector<TimedWord> timed_words;
    for (size_t j = 0; j < n; j++) {
        report_progress(0.6 + 0.4 * static_cast<double>(j) / static_cast<double>(n), "aligning");
        std::string error;
        bool        aligned = false;
        {
            const StopReportScope scope(aligning + stopped_run, aligning + ran_out);
            aligned = align_transcript_segment(transcript, plan, heard, segments[j], j, samples, rate, language,
                                               opts.denoise, !opts.turns.empty(), aligner, timed_words, error);
        }
        if (!aligned) {
            return report_error(error);
        }
    }
    // Without segments (a recording too short or silent) the words are all there, and none is timed.
    for (size_t i = timed_words.size(); i < transcript.size(); i++) {
        timed_words.push_back({ transcript[i].text, 0, 0, transcript[i].added, transcript[i].who, true, 0,
                                no_confidence, transcript[i].speaker });
    }

    const size_t unplaced = settle_transcript_times(timed_words);
    if (unplaced > 0) {
        std::fprintf(stderr, "transcript words not placed: %zu\n", unplaced);
    }
    const bool named = std::any_of(transcript.begin(), transcript.end(),
                                   [](const TranscriptWord & w) { return w.who != 0 || !w.speaker.empty(); });
    if (opts.speakers && !named) {
        label_speakers(timed_words, voices, rate);
    }
    write_words_document(timed_words);
    return 0;
}
