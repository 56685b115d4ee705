// transcript: a text the user already has, timed against the recording.
//
// The transcript is read as words (from plain text or from a words document of this tool), lined up with the
// recognised words, and force-aligned stretch by stretch between long runs of agreement. Words the audio does
// not hold are kept, untimed, between their neighbours.

#pragma once

#include "engine/kelvo_asr.h"
#include "output/output.h"
#include "segments/segments.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

//
// Reading
//

// One word of the transcript.
struct TranscriptWord {
    std::string text;          // as written, punctuation included
    std::string key;           // the match key, lower-cased; empty for a word with nothing to say
    char        who = 0;       // a one-byte speaker label; 0 when none
    std::string speaker;       // a longer speaker name; "" when none
    bool        added = false; // marked "added" in the document it came from
};

// A transcript read back: its words, or why it cannot be used.
struct TranscriptRead {
    std::vector<TranscriptWord> words;
    std::string                 error; // "" when `words` holds at least one word
};

// Reads a transcript: a words document when its first byte that is not white space is '{', else UTF-8 text
// whose lines may open with "LABEL:" (the speaker of that line and the lines after it). Bytes that are not
// UTF-8, invalid JSON, an error object and a transcript without words give `error`.
TranscriptRead read_transcript(std::string_view bytes);

//
// Lining up
//

// One recognised word, for lining the transcript up with the audio.
struct HeardWord {
    std::string key;         // the match key, lower-cased
    double      start   = 0; // seconds from the start of the recording
    size_t      segment = 0; // index of the segment it was heard in
};

// Where each transcript word goes: its segment, the recognised word it agrees with, and whether the audio
// seems to hold it at all.
struct TranscriptPlan {
    std::vector<size_t>  segment; // per transcript word; non-decreasing
    std::vector<int32_t> heard;   // per transcript word: index of the matching recognised word, or -1
    std::vector<bool>    anchor;  // per transcript word: part of a run of agreement long enough to trust
    std::vector<bool>    unheard; // per transcript word: left out of the aligner's text (no key, or no room for it)
};

// Returns a rough time, in seconds, that a word with match key `key` takes to say, from the key's length.
double spoken_seconds(const std::string & key);

// Returns how many of `words` [first, end) have something to say (a non-empty match key).
size_t keyed_between(const std::vector<TranscriptWord> & words, size_t first, size_t end);

// Returns the rough time, in seconds, that `words` [first, end) take to say (`spoken_seconds` of each key).
double rough_seconds(const std::vector<TranscriptWord> & words, size_t first, size_t end);

// Lines `words` up with `heard` (in recording order) over `segments`: matches by longest common subsequence of
// the keys, anchors runs of `min_run` or more consecutive matches (checked against the aligner's times), undoes
// lone matches that took a word of the wrong place, marks unmatched words with no room for them as unheard, and gives
// every word a segment (unmatched ones shared out by the recognised words around them).
TranscriptPlan plan_transcript(const std::vector<TranscriptWord> & words, const std::vector<HeardWord> & heard,
                               const std::vector<Segment> & segments, int32_t rate, size_t min_run = 3);

// True when lone match `match` of `plan`, after the unmatched words [first, match), starts early enough that
// the time from its recognised start to the next match's (or `until` seconds, with none) holds half the rough
// length of all the words from `first` up to that next match, and the recogniser heard at least as many words
// between it and that next match as are written there.
bool lone_match_stands_early(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                             const std::vector<HeardWord> & heard, size_t first, size_t match, double until);

// True when a turn or a sentence ends after word `i`: the next word has another speaker, the word closes a
// sentence (., ? or !), or it is the last word.
bool turn_or_sentence_ends(const std::vector<TranscriptWord> & words, size_t i);

// The written sentence (or turn) that holds word `i`: the words [first, end).
std::pair<size_t, size_t> sentence_around(const std::vector<TranscriptWord> & words, size_t i);

// True when word `i` is the only matched word of its written sentence and that sentence has three or more words
// to say.
bool only_match_of_sentence(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, size_t i);

// Marks unheard each whole sentence (three or more words to say) of a run of unmatched words that has no room
// between the recognised words around it, longest first, until the rest has room: a sentence the recording
// does not hold would otherwise draw the said words beside it off their speech.
void leave_out_unsaid_sentences(const std::vector<TranscriptWord> & words, const std::vector<HeardWord> & heard,
                                double recording_end, TranscriptPlan & plan);

// The whole sentences (three or more words to say, opening at a sentence's or turn's start) inside the words
// [first, end), each as [first, last), in order.
std::vector<std::pair<size_t, size_t>> whole_sentences_within(const std::vector<TranscriptWord> & words, size_t first,
                                                              size_t end);

// The longest whole sentence (three or more words to say) inside the words [first, end), as [first, last); an
// empty range when there is none.
std::pair<size_t, size_t> longest_sentence_within(const std::vector<TranscriptWord> & words, size_t first, size_t end);

// True when the unmatched words [first, end) take longer to say (their rough length) than the time from the end of
// the recognised word matched before them to the start of the one matched after (`until` seconds with none), and
// without the sentence [sentence_first, sentence_end) among them would fit, the recogniser having heard no more
// words between those matches than the rest of the run holds: a sentence the audio lacks.
bool fits_only_without(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                       const std::vector<HeardWord> & heard, size_t first, size_t end, size_t sentence_first,
                       size_t sentence_end, double until);

// True when word `i`'s match, not anchored and the only one of its written sentence, lies beside speech the
// transcript lacks (two or more recognised words beyond the written ones up to a neighbouring match), and
// without it that speech lies between two written sentences (see gap_between_sentences): a common word heard
// inside that speech, which would draw its sentence there.
bool match_hides_sentence_gap(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                              const std::vector<HeardWord> & heard, size_t i);

// True when word `i`'s match, not anchored, and the match written beside it in its sentence (nothing to say between
// them, no turn or sentence end) are heard with two or more recognised words between them, `i` the later of the two
// or the earlier beside an anchored one: speech the transcript lacks cannot lie between two such words, so the
// match is a common word heard in other speech.
bool match_heard_apart_in_sentence(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, size_t i);

// Recognised words [heard_from, heard_to) that no written word stands for, and the first written word after them.
struct SentenceGap {
    size_t heard_from = 0;
    size_t heard_to   = 0; // == heard_from when there is no gap
    size_t word       = 0;
};

// For the unmatched written words [first, end) between two matched ones (neither side opening or closing a
// sentence), beside the recognised words [j_first, j_end) between those, with a sentence end inside: the words
// up to the first sentence end are said from the start, over as many recognised words as their rough length
// spans, and the rest up to the match after; the recognised words between (two or more) are speech the transcript
// lacks. Each side needs three or more words to say.
SentenceGap gap_between_sentences(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                                  const std::vector<HeardWord> & heard, size_t first, size_t end, size_t j_first,
                                  size_t j_end);

//
// Timing
//

// One call of the aligner: samples [from, to) of the recording and the transcript words [first, last).
struct Stretch {
    int32_t from             = 0;
    int32_t to               = 0;
    size_t  first            = 0;
    size_t  last             = 0;
    bool    unwritten_before = false; // speech the transcript lacks between two of its sentences ends at `from`
    bool    unwritten_after  = false; // such speech starts at `to`
};

// Cuts segment `index`'s transcript words (those of `plan.segment` equal to it) into stretches: the whole
// segment, less each hole of two or more recognised words that no transcript word stands for (speech the
// transcript lacks), so that no word is drawn over one; a few unmatched words beside such speech that open (or
// close) a sentence keep only the recognised words at its end (or start) that their time takes. Empty when the
// segment has no words.
std::vector<Stretch> plan_stretches(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                                    const std::vector<HeardWord> & heard, const Segment & segment, size_t index,
                                    int32_t rate);

// Cuts `whole` before each run of anchors (a little ahead of where its first word was heard), for a stretch the
// aligner cannot place whole; pieces shorter than 0.3 s are not cut off.
std::vector<Stretch> split_at_anchors(const TranscriptPlan & plan, const std::vector<HeardWord> & heard,
                                      const Stretch & whole, int32_t rate);

// How far a timed word may start before the timed word ahead of it ends, in seconds.
inline constexpr double transcript_overlap_seconds = 0.01;

// Matched words on each side whose median lead over the recogniser's starts is a word's usual lead (the
// recogniser's starts run early by an amount that drifts along a stretch).
inline constexpr size_t transcript_lead_window = 8;

// The median of `leads` (the upper middle one of an even count); 0 when there are none.
double median_lead(std::vector<double> leads);

// The aligner's times for one stretch's words.
struct StretchTimes {
    std::vector<double> start; // per word of the stretch, seconds from the start of the recording
    std::vector<double> end;
    std::vector<bool>   placed;
    size_t              misses = 0; // words not placed (or left out), and anchored words placed far off
};

// Aligns stretch `s`'s words that have something to say and are not `left_out` over samples [from, to); the
// others stay unplaced, as do words drawn far beyond their length. Returns false with `error` when the aligner
// fails.
bool align_stretch(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                   const std::vector<bool> & left_out, const std::vector<HeardWord> & heard, const Stretch & s,
                   int32_t from, int32_t to, std::span<const float> samples, int32_t rate, const std::string & language,
                   bool denoise, kelvo_asr::ForcedAligner & aligner, StretchTimes & times, std::string & error);

// What a matched word the check against the recognised words leaves unplaced costs, in seconds, and the most a
// placed one costs.
inline constexpr double transcript_unplaced_cost = 0.5;

// How much nearer the heard alignment must put a disagreeing place's matched words to be kept.
inline constexpr double transcript_prefer_margin_seconds = 0.03;

// The recognised words aligned over the stretch in place of the written ones: each matched written word gets
// the time of the recognised word it matches, and the unmatched written words between two matched ones get
// the times of the unmatched recognised words there when as many were heard as written, one for one.
bool align_heard(const TranscriptPlan & plan, const std::vector<HeardWord> & heard, const Stretch & s, size_t index,
                 std::span<const float> samples, int32_t rate, const std::string & language, bool denoise,
                 kelvo_asr::ForcedAligner & aligner, StretchTimes & times, std::string & error);

// The places where the written words and the recognised ones disagree (unmatched words on either side):
// each as the transcript words [first, last), from the matched word before it to the matched word after it,
// places that share a matched word taken as one.
std::vector<std::pair<size_t, size_t>> disagreeing_regions(const TranscriptPlan & plan, const Stretch & s);

// A place where the heard alignment was kept: transcript words [first, last).
struct KeptRegion {
    size_t              first = 0;
    size_t              last  = 0;
    std::vector<double> expected; // per word of the region: where a matched word should start (heard + lead)
};

// What the matched words of region `r` cost in `v` (positions of the region), as prefer_nearer_to_heard counts.
double region_cost(const TranscriptPlan & plan, const KeptRegion & r, const StretchTimes & v, size_t offset);

// Keeps the heard alignment in each region where it puts the region's matched words nearer where the
// recogniser heard them, against the usual lead of the aligner's start over the recogniser's among the
// stretch's matched words around them. Returns the regions where it was kept.
std::vector<KeptRegion> prefer_nearer_to_heard(const TranscriptPlan & plan, const std::vector<HeardWord> & heard,
                                               const std::vector<std::pair<size_t, size_t>> & regions,
                                               const Stretch & s, const StretchTimes & heard_times,
                                               StretchTimes & times);

// True when noise fills the pauses of samples [s.from, s.to): its quietest 10 ms frame lies within 40 dB of its
// loudest. False when the stretch holds no whole frame.
bool pauses_hold_noise(std::span<const float> samples, int32_t rate, const Stretch & s);

// Checks `times` of stretch `s` (of segment `index`) against the recognised words: aligns those instead, and
// where the written and recognised words disagree keeps whichever alignment puts the matched words around
// the place nearer where they were heard (matched words beside it drawn far off go with it), and there draws the
// written words again over the span the recognised ones take; written words still unplaced there are aligned on
// their own between their placed neighbours. A place that loses words (but one drawn at the aligner's fewest
// frames) keeps the first alignment (in quiet, unless it gains more than they cost), and in quiet the words beside
// each place are fitted to it (fit_region_edges). Returns false with `error` when the aligner fails.
bool check_against_heard(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                         const std::vector<HeardWord> & heard, const Stretch & s, size_t index,
                         std::span<const float> samples, int32_t rate, const std::string & language, bool denoise,
                         kelvo_asr::ForcedAligner & aligner, StretchTimes & times, std::string & error);

// Gives each run of words of stretch `s` that `times` draws otherwise than `written` (the first alignment, before
// the check against the recognised words) its times in `written` again when `times` draws two or more words more
// of the run squeezed (under 0.35 of their rough length, or unplaced): one squeezed word is what a written word
// the audio lacks costs, more are said words drawn off their speech after a misheard match.
void keep_unsqueezed(const std::vector<TranscriptWord> & words, const Stretch & s, const StretchTimes & written,
                     StretchTimes & times);

// Unplaces each word of stretch `s` that matched no recognised word, has five letters or more and is drawn under
// 0.45 of its rough length: a said word that long takes its time even where the recogniser missed it, while a
// written word the audio lacks gets the aligner's fewest frames between its neighbours.
void leave_out_squeezed_words(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, const Stretch & s,
                              StretchTimes & times);

// True when word `i` matched no recognised word, has five letters or more and is drawn from `start` to `end`
// (seconds) under 0.45 of its rough length: the aligner's fewest frames for a written word the audio lacks.
bool drawn_as_unsaid(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, size_t i, double start,
                     double end);

// How many fewer words of [first, last) of stretch `s` `times` places than `written` (0 when not fewer), leaving
// out of `written`'s count the words it drew as unsaid (drawn_as_unsaid): those are left out anyway.
size_t region_words_lost(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan, const Stretch & s,
                         size_t first, size_t last, const StretchTimes & written, const StretchTimes & times);

// Fits the words beside place [first, last) of stretch `s`, drawn again by the check against the recognised words:
// the placed word ahead ends where the place's first word starts, and the place's last word where the word after
// starts, when they overlap; a word after that the first alignment (`written`) drew against the place's last word
// starts where that word now ends, when it ends 0.15 s or less before.
void fit_region_edges(const Stretch & s, size_t first, size_t last, const StretchTimes & written, StretchTimes & times);

// Moves a placed word of stretch `s` that opens a turn or sentence, drawn against the placed word before it with a
// pause of 0.3 s or more after it, to end where the word after the pause starts; likewise a word that closes
// one, drawn against the word after it, to start where the word before the pause ends. Unplaced words between
// are skipped (a left-out sentence does not hide a turn). Lengths are kept.
void keep_turn_edges(const std::vector<TranscriptWord> & words, const Stretch & s, StretchTimes & times);

// Where a word drawn from `start` to `end` (seconds) begins to sound: when it opens with a pause (a stretch of
// 0.1 s or more far quieter than its loudest part, or in noise at the noise floor, which the aligner drew into
// it), a little before the sound after the pause; else `start`. The noise floor is only judged for a word drawn
// 0.1 s or more after the end of the word before it, `after` (negative when there is none).
double quiet_opening_end(std::span<const float> samples, int32_t rate, double after, double start, double end);

// Where a word drawn from `start` to `end`, after a pause that begins at `after`, begins to sound: when its
// sound runs back from `start` (0.15 s at most) into the pause, a little before the sound's beginning; else
// `start`.
double sound_before_start(std::span<const float> samples, int32_t rate, double after, double start, double end);

// Levels in dB of the 10 ms frames of `samples` over [from, to) seconds, one frame every `hop` seconds; frames
// reaching past the samples are left out.
std::vector<double> frame_levels(std::span<const float> samples, int32_t rate, double from, double to, double hop);

// Where a word that opens with a vowel, drawn from `start` to `end`, begins to sound: no closure comes before a
// vowel, so when every frame from `start` to its sound lies 40 dB or more below its loudest (30 ms or more of
// them), a little before that sound; else `start`.
double vowel_opening_end(std::span<const float> samples, int32_t rate, double start, double end);

// Moves the start of each placed word of `times` that opens with a pause, or whose sound began in the pause
// before it, to where its sound begins.
void trim_quiet_starts(std::span<const float> samples, int32_t rate, StretchTimes & times);

// The levels around a word drawn from `start`: frames every `hop` seconds from up to 1 s before it (frame 0 at
// `from`), and whether noise fills the pauses there with the word standing above it; only then is `noise` (the level
// at or below which a frame is taken for noise) worth reading.
struct NoiseAround {
    double              from = 0;
    double              hop  = 0;
    size_t              at   = 0; // the frame at `start`
    std::vector<double> db;
    double              noise    = 0;
    bool                in_noise = false;
    size_t              dip      = 0; // the first frame of the run at or below `noise` that reaches back from `at`
    size_t              onset    = 0; // the first frame from `at` on above `noise`; db.size() when none
};

// Reads the levels around a word drawn from `start` to `end` (1.5 s of it at most) for the rules on starts in noise,
// and the run of frames at the noise floor around its drawn start.
NoiseAround noise_around(std::span<const float> samples, int32_t rate, double start, double end);

// Where a word drawn from `start` to `end` begins when noise hides its first sound (a hiss or a closure at the
// noise floor): when `start` lies at the floor within 0.15 s after louder sound, halfway back to where the floor
// began (the quiet may hold the end of the word before too); else `start`. Quiet recordings keep `start`.
double hidden_onset_start(std::span<const float> samples, int32_t rate, double start, double end);

// Moves the start of each placed word of stretch `s`, drawn against a placed word written with no pause after it
// (no comma, no sentence's end), back to where its hidden first sound begins, and ends the word before it there.
void trim_hidden_onsets(const std::vector<TranscriptWord> & words, const Stretch & s, std::span<const float> samples,
                        int32_t rate, StretchTimes & times);

// Whether `key` opens with a stop, told from its spelling (not "ch", "th", "ph", nor a silent k or g).
bool opens_with_stop(std::string_view key);

// Where a word `key` drawn from `start` to `end`, after the placed word written `before` ("" when none), begins in
// noise when `start` lies at the noise floor: its first sound hides under the noise for a while before the word
// shows above it (0.1 s for an f, and for a stop after a vowel or a voiced glide; 20 ms for a vowel or a voiced
// glide), so that long before the word's first frame above the noise, but never before the quiet there began;
// `start` for other first sounds, when that is within 30 ms of it, when `start` lies on sound, or in quiet.
double noise_onset_start(std::span<const float> samples, int32_t rate, std::string_view key, std::string_view before,
                         double start, double end);

// Moves the start of each placed word of stretch `s` drawn inside the noise floor to `noise_onset_start`, and
// ends the word before it there when it reached further.
void trim_noise_onsets(const std::vector<TranscriptWord> & words, const Stretch & s, std::span<const float> samples,
                       int32_t rate, StretchTimes & times);

// Where a word `key` opening with a voiceless stop (p, t, k), drawn from `start` to `end`, begins after a pause:
// its closure is silent and lies at the pause's end, 65 ms before its release (its first sound: within 30 dB of its
// loudest frame in quiet, above the noise floor in noise), never before `after` (the end of the placed word before,
// negative when none) nor after `start`. `start` when no pause (0.1 s, in noise 0.15 s) comes before the release,
// when the move is under 30 ms, and for other first sounds (a voiced stop's closure is heard).
double stop_closure_start(std::span<const float> samples, int32_t rate, std::string_view key, double after,
                          double start, double end);

// Moves the start of each placed word of stretch `s` to `stop_closure_start`.
void trim_stop_closures(const std::vector<TranscriptWord> & words, const Stretch & s, std::span<const float> samples,
                        int32_t rate, StretchTimes & times);

// Where sound begins after a word drawn from `start` to `end` wholly inside the noise floor, when the floor goes on
// 0.1 s or more after it; negative when the word has sound, in quiet, or with no sound after it.
double sound_after_floor(std::span<const float> samples, int32_t rate, double start, double end);

// Draws again each placed word of stretch `s` that `sound_after_floor` finds in a pause (the word after it placed),
// with the words after it up to the first gap of 0.1 s drawn between two of them, over the audio from a little before
// the sound after the pause to that gap: a soundless word is said after the pause, and the words after it were drawn
// over its sound. Kept when every word placed before is placed again. Returns false with `error` when the aligner
// fails.
bool redraw_floor_words(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                        const std::vector<HeardWord> & heard, const Stretch & s, std::span<const float> samples,
                        int32_t rate, const std::string & language, bool denoise, kelvo_asr::ForcedAligner & aligner,
                        StretchTimes & times, std::string & error);

// Force-aligns segment `index`'s transcript words stretch by stretch (unheard and soundless words left out of
// the text), retries a stretch that leaves words unplaced or anchors far from where they were heard on a
// window 1 s wider (within the segment; a stretch at the segment's edge also past that edge, no word drawn
// wholly beyond it) and then piece by piece between its anchors, keeping the try that misses fewest, and
// appends one TimedWord per word. Words that stay
// unplaced are untimed, between their neighbours. Returns false with `error` when the aligner fails. `labels` gives
// `who` from the segment instead of the transcript.
bool align_transcript_segment(const std::vector<TranscriptWord> & words, const TranscriptPlan & plan,
                              const std::vector<HeardWord> & heard, const Segment & segment, size_t index,
                              std::span<const float> samples, int32_t rate, const std::string & language, bool denoise,
                              bool labels, kelvo_asr::ForcedAligner & aligner, std::vector<TimedWord> & timed_words,
                              std::string & error);

// Keeps the times in order across the whole list: a timed word that starts more than 10 ms before the timed
// word ahead of it ends is cut to start there (untimed when nothing is left), and every untimed word is put
// at the end of the timed word ahead of it. Returns the number of untimed words.
size_t settle_transcript_times(std::vector<TimedWord> & timed_words);
