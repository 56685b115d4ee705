// The folder engine/adaptation/: adapting the acoustic model's means to each voice: the Gaussians read
// from the model, statistics from the recogniser's own words, and the mean transforms solved from them.
//
// Adaptation of the acoustic model to each voice: statistics gathered from the recogniser's own words,
// one mean transform per speaker label, and the decoders set to the transform of the voice they decode.
// Private to the engine.

#pragma once

#include "engine/adaptation/adaptation_stats.h"
#include "engine/adaptation/gaussian_model.h"
#include "engine/adaptation/held_back_check.h"
#include "engine/adaptation/mllr_solve.h"
#include "engine/audio/pause_cutter.h"
#include "engine/decoders/decoder_pool.h"

#include <pocketsphinx.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kelvo_asr {

// When a voice gets a transform, and how strongly it is held to the identity.
namespace adaptation_rule {
constexpr int64_t min_frames      = 1000;  // aligned frames of words (10 ms each) before a voice has a transform
constexpr double  prior_frames    = 100;   // the identity's weight, in frames of statistics
constexpr int64_t max_frames      = 30000; // frames after which a voice's transform is left as it is
constexpr int     listened_solves = 2;     // solves on the listened words, each under the transform before it
} // namespace adaptation_rule

// A recognised word of a piece: its dictionary entry (alternative pronunciations keep their suffix) and
// its frames first ... last in the piece.
struct word_frames {
    std::string entry;
    int32_t     first = 0;
    int32_t     last  = 0;
};

// What is known of one voice.
struct voice_state {
    gaussian_stats                     learned;               // from passes that only listen
    std::vector<piece_evidence>        listened;              // their pieces, until the voice has a transform
    gaussian_stats                     heard;                 // from the words returned to the caller
    std::vector<mllr_stream_transform> transform;             // empty while the voice has none
    int32_t                            version           = 0; // changes whenever `transform` does
    int64_t                            solved_frames     = 0; // frames of the statistics it was solved from
    bool                               solved_from_heard = false;
    bool                               declined          = false; // its first transform failed the held-back check
};

// The adaptation of one loaded model.
struct speaker_adaptation {
    gaussian_model                     model;
    bool                               available = false;    // the model's files could be read for adaptation
    std::string                        off_reason;           // why it is not available, once known
    bool                               off_reported = false; // `off_reason` was handed to a caller
    std::shared_ptr<ps_mllr_t>         identity;             // the model's own means, made when prepared
    std::map<std::string, voice_state> voices;
    int32_t installed_version = -1; // -1: every decoder holds the model's own means; else not known
};

// Reads the Gaussians of the acoustic model `folder` into `adaptation`, forgetting every voice; leaves it
// unavailable (adaptation then does nothing), with `off_reason` set, when the files are of a kind it cannot
// use or when the decoder settings `config` compute features that cannot be computed again exactly per piece
// (a cepstral mean or gain carried from one utterance to the next, a feature transform).
void prepare_adaptation(speaker_adaptation & adaptation, const std::string & folder, cmd_ln_t * config);

// The reason features made with the decoder settings `config` cannot be computed again exactly for one piece
// of speech; empty when they can.
std::string feature_rebuild_obstacle(cmd_ln_t * config);

// What `piece_evidence_of` found.
enum class evidence_outcome {
    gathered, // `evidence` holds the piece (no words when none is made of speech phones)
    none,     // the features do not match the decoder's frames, or the library refused: no evidence
    faulted,  // the decoder stopped on a fault: it must be dropped
};

// The evidence of one decoded piece from the decoder `ps` that just decoded it: the piece's features
// computed again exactly as the decoder computed them (the same `warm_up` first), and `words` as phones.
// Never faults the process.
evidence_outcome piece_evidence_of(ps_decoder_t * ps, const gaussian_model & model, const int16_t * pcm,
                                   size_t n_samples, const int16_t * warm_up, size_t n_warm_up,
                                   const std::vector<word_frames> & words, piece_evidence & evidence);

// The library's transform holding `transforms` (one class, every stream), handed over as a model text
// (model_text_file.h) and read in the classic locale; nullptr with `why_not` set when it cannot be handed
// over or the library refuses it.
ps_mllr_t * make_mllr(const std::vector<mllr_stream_transform> & transforms, std::string & why_not);

// Solves the voice's transform again from its statistics: those of its returned words once they cover as
// much as those it listened to, else the latter; no transform below adaptation_rule::min_frames. Solves
// only when the statistics changed source or grew by half since the last solve, so that a long recording
// costs few solves and few changes of the decoders' means. The first transform, from the listened words,
// is refined by gathering their statistics again under it (adaptation_rule::listened_solves in all), and
// kept only when a transform learnt without the last listened words gains on them (held_back_gain): else the
// voice is declined, keeps the model's own means for good and gathers nothing more.
void update_voice(const gaussian_model & model, voice_state & voice);

// True when the model's files could be read for adaptation and the decoders still take transforms.
bool adaptation_on(const speaker_adaptation & adaptation);

// Why adaptation is off, the first time it is asked after it was found off; empty otherwise (said once per
// model).
std::string take_off_reason(speaker_adaptation & adaptation);

// True when the voice named `voice` has a transform.
bool voice_has_transform(const speaker_adaptation & adaptation, const std::string & voice);

// True when the voice named `voice` has a transform or was declined one: it listens no more.
bool voice_settled(const speaker_adaptation & adaptation, const std::string & voice);

// Frames of aligned words the voice `voice` still needs for its first transform from passes that only
// listen.
int64_t frames_to_learn(const speaker_adaptation & adaptation, const std::string & voice);

// Forgets which decoders hold which transform: to call when every decoder is fresh (a fresh decoder holds
// the model's own means; a freed decoder's address may come back for a new one).
void forget_decoders(speaker_adaptation & adaptation);

// The means the voice `name` is decoded with, as the library takes them: its transform when `as_voice` and it
// has one (`own` false), else the model's own means (`own` true). A transform that cannot be made turns
// adaptation off, with `off_reason`, so that every decoder decodes alike. nullptr when the model's own means are
// missing.
std::shared_ptr<ps_mllr_t> voice_means(speaker_adaptation & adaptation, const std::string & name, bool as_voice,
                                       bool & own);

// Sets the one decoder `d` to `mllr` (from voice_means). Fails when the library refuses or `mllr` is null;
// `faulted` when the decoder stopped on a fault and must be dropped.
job_outcome set_decoder_means(ps_decoder_t * d, const std::shared_ptr<ps_mllr_t> & mllr);

// Records that the decoders may hold other means than the model's own, so that each is set before it decodes.
void forget_installed_means(speaker_adaptation & adaptation);

// One pass's gathering of a voice's statistics over some of a segment's pieces: each piece's statistics
// are added to the voice's in the pass's order as soon as every piece before is added, then let go, so that
// a long call holds a few pieces' statistics and the sums are the same for any threads.
struct stats_pass {
    std::string                   voice;
    bool                          listening = false; // a pass that only listens: the pieces' evidence is kept
    std::optional<gaussian_model> adapted;           // the means the pieces are decoded with, when not the model's
    std::vector<size_t>           which;             // the pieces, in the pass's order
    std::vector<size_t>           position;          // of each piece in `which`
    std::vector<char>             finished;          // by position
    size_t                        folded = 0;        // positions added to the voice's statistics
    std::vector<gaussian_stats>   stats;             // by piece, until added
    std::vector<piece_evidence>   evidence;          // by piece
    gaussian_stats *              into = nullptr;    // the voice's statistics
    std::mutex                    mutex;
};

// Starts a pass that only listens to the pieces `which` (of `n_pieces`) of the voice `voice`, decoded
// with the model's own means.
void start_listening(stats_pass & pass, speaker_adaptation & adaptation, const std::string & voice,
                     const std::vector<size_t> & which, size_t n_pieces);

// Starts a pass over the pieces `which` (of `n_pieces`) whose words go to the caller, decoded with the
// voice's transform; false, with nothing to gather, once the voice's transform has settled.
bool start_hearing(stats_pass & pass, speaker_adaptation & adaptation, const std::string & voice,
                   const std::vector<size_t> & which, size_t n_pieces);

// Gathers the statistics of piece `k` of the pass from the decoder `ps` that just decoded it (its
// `audio`, its `words`) and adds every finished piece's in order. Safe to call from the pass's threads at
// once. Never faults the process.
evidence_outcome gather_piece(stats_pass & pass, const speaker_adaptation & adaptation, ps_decoder_t * ps, size_t k,
                              const piece_audio & audio, const std::vector<word_frames> & words);

// Ends a pass: the voice's transform is solved again from what it gathered when that calls for it.
void end_pass(stats_pass & pass, speaker_adaptation & adaptation);

} // namespace kelvo_asr
