// Every speech frame relabelled by a Viterbi pass over smoothed per-voice likelihoods, which also moves
// the changes of voice to where the voices' models place them. Private to the engine.

#pragma once

#include "engine/speakers/cepstra.h"
#include "engine/speakers/voice_finding.h"
#include "engine/speakers/voice_frames.h"
#include "engine/speakers/voice_gaussian.h"

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// Relabels every speech frame with the voices `active` (others take no frames), by a Viterbi pass over
// each piece's smoothed likelihoods with a cost for each change of voice.
void resegment(const voice_cepstra & c, std::vector<piece_frames> & pieces, const std::vector<int32_t> & active,
               const std::vector<voice_gaussian> & models, const voice_finding_settings & s);

} // namespace kelvo_asr
