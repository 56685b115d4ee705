// The passes of recognition calls over segments' pieces: the pieces grouped by the voice that speaks them,
// each group decoded with every decoder set to its voice's means, and the voices' adaptation statistics
// gathered on the way. Private to the engine.

#pragma once

#include "engine/adaptation/speaker_adaptation.h"
#include "engine/audio/pause_cutter.h"
#include "engine/decoders/decoder_pool.h"
#include "engine/kelvo_asr.h"
#include "engine/piece_decoding.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo_asr {

// The pieces one voice speaks, and the name its adaptation is kept under.
struct voice_group {
    std::string         name;
    std::vector<size_t> pieces; // in order
};

// Groups the pieces by the found voice that speaks most of each (the nearest stretch's for a piece that
// meets none), in the order of the voices' first pieces; every piece in one group named `speaker` when no
// voices are given. Found voices are named apart from any one-byte turn label.
std::vector<voice_group> group_by_voice(const std::vector<speech_piece> & pieces, const std::string & speaker,
                                        const std::vector<voice_stretch> & voices);

// One segment of a batch: its samples and settings, and what its passes found.
struct segment_passes {
    const float *             samples   = nullptr;
    int32_t                   n_samples = 0;
    const transcribe_params * params    = nullptr;
    // Filled by run_segment_passes:
    std::vector<speech_piece>            pieces; // where the segment was cut
    std::vector<std::vector<heard_word>> heard;  // by piece; empty when nothing was decoded for the text
    job_outcome                          outcome;
};

// Runs every segment's passes as the calls would run one after the other: a listening segment decodes
// blocks of each voice's pieces from the start until the voice has a transform or its pieces end; any other
// decodes all its pieces into `heard`, each group with its voice's transform (when `adapt`), and gathers the
// voices' statistics. A segment starts once every segment before it that adapts to one of its voices has
// ended, so that each voice's passes come in the calls' order and the words are the same for any threads;
// segments of other voices are decoded at the same time, on up to the first segment's `n_threads` threads.
// After a failure no new pass starts; the failed segment's outcome says why, and the first failed segment
// is the last with an outcome of its own (later ones are left failed too).
void run_segment_passes(decoder_pool & pool, speaker_adaptation & adaptation, std::vector<segment_passes> & segments);

} // namespace kelvo_asr
