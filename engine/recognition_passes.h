// The passes of one recognition call over a segment's pieces: the pieces grouped by the voice that speaks
// them, each group decoded with every decoder set to its voice's means, and the voices' adaptation
// statistics gathered on the way. Private to the engine.

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

// A segment as one call decodes it: its pieces, its cleaned samples, and the call's settings.
struct segment_call {
    const std::vector<speech_piece> & pieces;
    const std::vector<int16_t> &      pcm;
    const transcribe_params &         params;
};

// Decodes blocks of each voice's pieces from the start until the voice has a transform or its pieces end,
// only to learn the voices' transforms.
job_outcome listen_to_voices(decoder_pool & pool, speaker_adaptation & adaptation, const segment_call & call,
                             const std::vector<voice_group> & groups);

// Decodes every group's pieces into `heard` (by piece), with the decoders set to the group's voice's
// transform and the voice's statistics gathered when `adapting`.
job_outcome recognize_voices(decoder_pool & pool, speaker_adaptation & adaptation, const segment_call & call,
                             const std::vector<voice_group> & groups, bool adapting,
                             std::vector<std::vector<heard_word>> & heard);

} // namespace kelvo_asr
