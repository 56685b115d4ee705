// output: timed words from the aligner, and the JSON words document.

#pragma once

#include "engine/kelvo_asr.h"
#include "segments/segments.h"
#include "words/words.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

// One output word, times in seconds from the start of the recording.
struct TimedWord {
    std::string text; // the display word, or the aligner's own text when the word counts differ
    double      start;
    double      end;
    bool        added;          // a filler restored from the extra words
    char        who;            // the segment's label byte; 0 without turns
    bool        untimed;        // the aligner gave the word less than a millisecond
    int32_t     speaker = 0;    // k for the found speaker "Sk"; 0 when not labelled
    float       conf    = -1;   // the probability that the word is right, in [0, 1]; negative: not scored
    std::string speaker_name{}; // a speaker named by the user's transcript; printed instead of "Sk" when not empty
};

// Force-aligns one segment's match keys and appends one TimedWord per aligned word to `timed_words`.
// A segment without keys adds nothing and reports nothing. Returns false, with the error message in
// `error`, when the aligner fails. With `denoise` the aligner hears the segment cleaned as the recogniser did.
bool align_segment(const Segment & segment, std::span<const float> samples, int32_t rate, size_t index, size_t count,
                   const SegmentWords & words, const std::string & language, kelvo_asr::ForcedAligner & aligner,
                   std::vector<TimedWord> & timed_words, std::string & error, bool denoise = false);

// The stretches of `voices` that meet `segment`, clipped to it, in samples from its first sample; the
// nearest one, over the whole segment, when none does.
std::vector<kelvo_asr::voice_stretch> voices_within(const std::vector<kelvo_asr::voice_stretch> & voices,
                                                    const Segment &                               segment);

// Labels every word with the voice speaking at its middle (the nearest stretch's when none is), the voices
// numbered from 1 in the order of their first word. Leaves the words unlabelled when there are no stretches.
void label_speakers(std::vector<TimedWord> & timed_words, const std::vector<kelvo_asr::voice_stretch> & voices,
                    int32_t rate);

// Reports progress "done", then prints the words document as one line on standard output. Times are written
// with three decimals and every digit before the point; a time that is not finite is written as null. A
// word with a confidence (`conf` not negative) gets "conf" last, with two decimals, clamped into [0, 1]. A
// word with a confidence (`conf` not negative) gets "conf" last, with two decimals, clamped into [0, 1].
void write_words_document(const std::vector<TimedWord> & timed_words);
