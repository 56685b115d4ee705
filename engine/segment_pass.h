// The state of one segment between its recognition passes, and the steps that set up each pass: which
// voices' adaptation it may touch, the listening blocks, the order its pieces are decoded in and the means
// each is decoded with. Private to the engine's batch of passes.

#pragma once

#include "engine/recognition_passes.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace kelvo_asr {

// Some pieces of one voice in a pass, decoded with the voice's means (its transform when `as_voice`), their
// statistics gathered into `gathering` when it is set.
struct voice_run {
    const std::vector<size_t> * pieces = nullptr;
    std::string                 name;
    bool                        as_voice  = false;
    stats_pass *                gathering = nullptr;
};

// Where a segment stands in the batch.
enum class segment_stage {
    waiting,  // not begun
    busy,     // one thread prepares it or ends its pass
    decoding, // its pass's pieces are handed out
    ended,
};

// A segment's state between its passes: owned by the thread that holds the batch's lock, or by the one
// thread that marked it busy.
struct segment_state {
    segment_passes *         segment = nullptr;
    std::vector<std::string> voices; // whose adaptation it may read or change
    segment_stage            stage = segment_stage::waiting;
    std::vector<voice_group> groups;
    std::vector<int16_t>     pcm; // cleaned once, so that every piece sees the same samples
    bool                     listening = false;
    std::vector<size_t>      next; // by group: the first piece not listened to yet
    // The pass under way:
    std::deque<stats_pass>                  passes;
    std::vector<std::vector<size_t>>        blocks;
    std::vector<voice_run>                  runs;
    std::vector<size_t>                     order;  // longest pieces first, run after run
    std::vector<size_t>                     run_of; // by piece
    std::vector<std::string>                keys;   // by run: which means ("" the model's own)
    std::vector<std::shared_ptr<ps_mllr_t>> means;  // by run; empty when the decoders are left as they are
    size_t                                  handed   = 0;
    size_t                                  finished = 0;
};

// The voices whose adaptation a segment may touch: none when it does not adapt.
std::vector<std::string> voices_of(const transcribe_params & params);

// Whether the two segments may touch the adaptation of one same voice.
bool share_a_voice(const segment_state & a, const segment_state & b);

// The next listening blocks of the segment: for every voice that still needs words, its next pieces from
// where it stopped, as many as the voice still needs; none when no voice does.
void next_blocks(segment_state & s, const speaker_adaptation & adaptation);

// Every run's pieces in one pass, run after run, each run's longest pieces first, so that the threads
// finish close together; the means of each run are taken now, as its voice stands.
void start_pass(segment_state & s, speaker_adaptation & adaptation);

// The statistics of a finished piece, from the decoder that decoded it.
evidence_outcome gather(const voice_run & run, const speaker_adaptation & adaptation, ps_decoder_t * ps, size_t k,
                        const piece_audio & audio, const std::vector<heard_word> & heard);

} // namespace kelvo_asr
