// kelvo_asr: the speech engine behind the tool.
//
// Reads WAV files, recognises speech and force-aligns words against audio. The recogniser and the
// aligner are opaque objects; no type of the underlying decoder or audio library appears here.
//
// Conventions:
//   - calls that can fail return false (or a result whose `success` is false) and never throw;
//   - a failed object call leaves a lower-case English text in `last_error()` (or the result's `error`);
//   - sample pointers are borrowed for the length of the call and never kept;
//   - every time is in seconds from the first sample passed in, finite, and never negative.
//
// Threads: `transcribe` cuts its segment at pauses and decodes the pieces on up to `n_threads` threads,
// one decoder each, made from the loaded model on first need and kept until the model is replaced or the
// object destroyed. The threads live only for the length of the call. Their number is bounded by the
// processors this process may run on and by the number of pieces, so any count is safe to pass. The
// result is the same, byte for byte, for every thread count. `align` decodes on the calling thread.
// Adaptation: with `adapt`, the recogniser adapts its acoustic model to each voice, named by `speaker`,
// from its own words: once it has aligned enough of a voice's words it decodes that voice with a mean
// transform estimated from them, and refines the transform as more of the voice's words come in. A call
// with `listen_only` decodes only as much of the segment's start as the voice still needs and returns no
// words, so that a caller can let a voice be learned before its first words are decoded for the text. What
// is learned is kept until the model is loaded again; the result depends only on the calls made, in order.
// One object must not be used by two threads at once. The environment variable KELVO_USE_VRAM is
// accepted and has no effect: this engine has no GPU path.

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvo_asr {

//
// Audio
//

// Reads a WAV file (8/16/24/32-bit PCM, 32/64-bit float, plain or extensible) into mono samples in
// [-1, 1]: channels averaged, NaN read as 0 and infinities as +-1. Any sample rate is accepted and
// returned. Returns false, the outputs then holding nothing of use, for a missing, unreadable or
// non-WAV file, a directory, and a recording of more than 2^31 - 1 frames.
bool load_audio_file(const std::string & path, std::vector<float> & samples, int32_t & sample_rate);

//
// Vocabulary
//

// A line of a vocabulary text that was not used, and why.
struct vocabulary_warning {
    int32_t     line = 0; // from 1
    std::string reason;   // lower-case English, e.g. "unknown phone \"Q\""
};

struct vocabulary_result {
    int32_t                         n_entries = 0; // entries in use, duplicates merged
    std::vector<vocabulary_warning> skipped;       // lines not used, in line order
    bool                            success = false;
    std::string                     error; // what went wrong when `success` is false
};

//
// Speakers
//

// A stretch of a recording spoken by one voice: samples [start, end) from the first sample passed in.
struct voice_stretch {
    int32_t start = 0;
    int32_t end   = 0;
    int32_t voice = 0; // from 1, numbered in the order of the voices' first speech
};

struct speaker_params {
    int32_t n_speakers = 0; // above 0: this many voices (fewer when there are fewer stretches); else found
};

struct speaker_result {
    std::vector<voice_stretch> stretches; // in order, not overlapping; pauses belong to no stretch
    int32_t                    n_voices = 0;
    bool                       success  = false;
    std::string                error; // what went wrong when `success` is false
};

// Finds who spoke when in `n_samples` samples at 16 kHz, from the audio alone: speech is found, cut where
// the voice changes (at pauses or without one), and the stretches are clustered into voices, as many as
// the clustering finds unless `n_speakers` fixes the count. Runs on the calling thread; the result depends
// only on the samples and `params`. No stretches for no samples, silence or noise without speech; `success`
// is true for every input.
speaker_result find_speakers(const float * samples, int32_t n_samples, const speaker_params & params);

// Voices matched to times. Every rule takes `stretches` in order and not overlapping, as `find_speakers`
// gives them, and finds them by binary search; where no stretch meets the time asked about, the nearest
// one's voice is taken (of two as near, the earlier).

// The voice speaking at `sample` (a position in samples, fractional allowed); 0 when there are no stretches.
int32_t voice_at(const std::vector<voice_stretch> & stretches, double sample);

// The voice sharing the most samples with [start, end) (of two sharing as many, the earlier); 0 when there
// are no stretches.
int32_t main_voice(const std::vector<voice_stretch> & stretches, int32_t start, int32_t end);

// The stretches that meet [start, end), clipped to it, in samples from `start`; the nearest one, over the
// whole span, when none does; none when there are no stretches.
std::vector<voice_stretch> voices_within(const std::vector<voice_stretch> & stretches, int32_t start, int32_t end);

// Where the voice changes, in order: the middle of the gap between each two neighbouring stretches of
// different voices; with `min_pause` above 0, only where the gap holds at least that many samples.
std::vector<int32_t> voice_changes(const std::vector<voice_stretch> & stretches, int32_t min_pause = 0);

//
// Noise
//

// The background of a recording, from its 10 ms frame levels in dB.
struct noise_levels {
    double speech_over_floor_db = 0; // the loudest frames (a high percentile) over the quietest (a low one)
    double floor_spread_db      = 0; // how much the quietest frames vary: large for voices in the background
};

// Measures the background of `n_samples` samples at 16 kHz as noise suppression does (the same percentiles
// of the frame levels); both 0 for no samples. Never fails.
noise_levels measure_noise(const float * samples, int32_t n_samples);

//
// Pitch
//

// The voice's pitch over a stretch of speech, and how far it rises at the stretch's end.
struct pitch_result {
    std::vector<float> hz;       // one per 10 ms frame from the first sample; 0 where the frame is not voiced
    float              rise = 0; // semitones from the stretch's voiced middle to its last voiced frames; 0 when
                                 // too little of it is voiced to tell
    bool voiced = false;         // enough voiced frames, at the end and before it, for `rise` to mean anything
};

// Measures the pitch (60 to 400 Hz) of `n_samples` samples at 16 kHz, frame by frame, from the samples' own
// periodicity. Runs on the calling thread; the result depends only on the samples. Nothing voiced for no
// samples, silence or noise; never fails.
pitch_result measure_pitch(const float * samples, int32_t n_samples);

//
// Recognition
//

struct transcribe_params {
    int32_t     chunk_samples = 1024;     // accepted for callers that pass one; pieces are decoded whole
    std::string language;                 // language tag reported back; empty: the model's own tag
    int32_t     n_threads        = 4;     // threads that decode pieces at once; below 1 means 1; see Threads
    bool        keep_noise_words = false; // true: keep noise words ("[NOISE]", "<sil>") and hesitations in the text
    bool        print_log        = true;  // true: the decoder's log of this call goes to standard error
    bool        denoise          = true;  // true: the segment's noise is lowered first, as much as its level calls for
    bool        adapt            = false; // true: adapt the acoustic model to the voice; see Adaptation
    std::string speaker;                  // the voice's label; calls with the same label share one adaptation
    bool        listen_only     = false;  // true (with `adapt`): only learn the voice from the segment; no text
    bool        word_confidence = false;  // true: fill `word_confidence` and `word_posterior` of the result
    // Voices found over the samples passed in (times from the first of them), each adapted on its own: a
    // piece is decoded as the voice that speaks most of it. Empty: `speaker` names the segment's one voice.
    std::vector<voice_stretch> voices;
};

struct transcribe_result {
    std::string          text;        // recognised words joined by single spaces; empty for silence
    std::string          language;    // `params.language` when given, else the model's language tag
    std::vector<int32_t> word_frames; // first frame (10 ms each) of every word of `text`, in order
    bool                 success = false;
    std::string          error; // what went wrong when `success` is false
    // Why adaptation is off for the loaded model, on the first call with `adapt` after it was found off (the
    // model's features cannot be computed again, or a transform cannot be handed to the decoder library);
    // empty on every other call. Calls after it decode every voice with the model's own means.
    std::string adaptation_off;
    // Why the hesitation model is left out of the loaded model (it cannot be handed to the decoder library),
    // on the first call after it was; empty on every other call. Hesitations are then heard less well.
    std::string hesitations_off;
    // With `params.word_confidence`, one per word of `text` (else empty): the probability, in [0, 1], that
    // the word is right, and the decoder's own lattice posterior of the word it is calibrated from.
    std::vector<float> word_confidence;
    std::vector<float> word_posterior;
};

// One segment of a batch for `KelvoASR::transcribe_segments`: its samples (borrowed) and settings.
struct segment_request {
    const float *     samples   = nullptr;
    int32_t           n_samples = 0;
    transcribe_params params;
};

class KelvoASR {
  public:
    KelvoASR();
    ~KelvoASR();
    KelvoASR(const KelvoASR &)             = delete;
    KelvoASR & operator=(const KelvoASR &) = delete;

    // Loads the model folder at `path` (acoustic model, language model, dictionary); replaces a model
    // loaded before. Returns false and sets `last_error()` to a text naming what is missing and where.
    bool load_model(const std::string & path);

    // Recognises `n_samples` samples at 16 kHz: the segment is cut at its pauses, stretches without speech
    // are left out, and each piece is decoded as an utterance of its own, its cepstral mean taken from the
    // piece and its noise estimate from the piece and the 3 s of the segment before it. With `denoise`, a
    // segment whose noise floor lies close under its speech is first cleaned as a whole (the cut is made on
    // the samples as given); a clean one is decoded as it is. Hesitations ("um", "uh", "er", "ah", "hmm")
    // are recognised as such and left out of the text like noise words. `success` is false only when no
    // model is loaded or a decoder fails (a decoder that stopped on a fault is dropped); silence and noise
    // without speech give success with an empty text.
    transcribe_result transcribe(const float * samples, int32_t n_samples, const transcribe_params & params);

    // Recognises the segments as `transcribe` called on each in turn would, results in order, and the same
    // for any thread count: a segment waits only for the segments before it that adapt to one of its voices,
    // so that segments of other voices are decoded at the same time, on up to the first segment's
    // `n_threads` threads. After a failed segment, those after it fail with the same error.
    std::vector<transcribe_result> transcribe_segments(const std::vector<segment_request> & segments);

    // Makes the entries of a vocabulary text (UTF-8, one word or phrase of up to 6 words a line; after a
    // tab, a pronunciation in the model's phones for a one-word entry) recognisable and a little more
    // likely than the model alone makes them: new words are pronounced as given or as the speech
    // synthesiser reads them, a pronunciation given for a dictionary word is added to its own, and a
    // phrase makes its words likelier after each other. Replaces an earlier vocabulary; a text without
    // entries leaves none; `load_model` forgets it. Bad lines are skipped and listed. The decoders are made
    // anew. `success` is false only when no model is loaded or no decoder can be made.
    vocabulary_result set_vocabulary(const std::string & text);

    // The text of the last failure of `load_model`; empty before any failure.
    const std::string & last_error() const;

    struct impl;

  private:
    std::unique_ptr<impl> pimpl;
};

//
// Forced alignment
//

struct aligned_word {
    std::string text;  // the input word, exactly as given
    float       start; // seconds from the first sample passed in
    float       end;   // seconds from the first sample passed in; equal to `start` for an unplaced word
};

struct alignment_result {
    std::vector<aligned_word> words; // one per word of the text, in the same order
    bool                      success = false;
    std::string               error; // what went wrong when `success` is false
};

class ForcedAligner {
  public:
    ForcedAligner();
    ~ForcedAligner();
    ForcedAligner(const ForcedAligner &)             = delete;
    ForcedAligner & operator=(const ForcedAligner &) = delete;

    // Loads the model folder at `path` (acoustic model and dictionary); replaces a model loaded before.
    // Returns false and sets `last_error()` to a text naming what is missing and where.
    bool load_model(const std::string & path);

    // Aligns the space-separated words of `text` against `n_samples` samples at 16 kHz. Returns every
    // word, in order, with its own text; times are in order and 0 <= start <= end <= the segment's length.
    // A word that cannot be placed gets start == end at an interpolated position, a token with no sound
    // (a dash) start == end at its neighbour's boundary. `success` is false only when no model is loaded
    // or the decoder fails. `language` is accepted for symmetry with `transcribe` and not used. With
    // `denoise`, a noisy segment is cleaned first exactly as `transcribe` cleans it (a clean one is aligned
    // as it is); the placing of unspoken words still reads the samples as given. With `energy_edges`, a word
    // next to a pause has that edge moved onto the signal's sound; without, the edges are the decoder's.
    alignment_result align(const float * samples, int32_t n_samples, const std::string & text,
                           const std::string & language, bool denoise = false, bool energy_edges = true);

    // Adds the pronunciations a vocabulary text gives (see `KelvoASR::set_vocabulary`) to the aligner's
    // dictionary, so that those words are timed by the sounds given; other words of the text need nothing
    // here (words the dictionary lacks are pronounced by the synthesiser). Lines the model cannot use are
    // ignored; `load_model` forgets the additions. Returns false only when no model is loaded.
    bool add_vocabulary(const std::string & text);

    // The text of the last failure of `load_model`; empty before any failure.
    const std::string & last_error() const;

    struct impl;

  private:
    std::unique_ptr<impl> pimpl;
};

} // namespace kelvo_asr
