// Each change of voice moved, within a few frames, to where the two voices' final models place it best.
// Private to the engine.

#pragma once

#include "engine/speakers/cepstra.h"
#include "engine/speakers/voice_finding.h"
#include "engine/speakers/voice_frames.h"
#include "engine/speakers/voice_gaussian.h"

#include <vector>

namespace kelvo_asr {

// Moves each change between two voice runs of `pieces` by at most `s.place_window` speech frames (and never
// past the middle of either run) to the split that the two voices' Gaussians, estimated from every frame
// they now hold, explain best; runs are left as they are when `s.place_window` is 0 or there is one voice.
void place_changes(const voice_cepstra & c, std::vector<piece_frames> & pieces, const voice_vector & ridge,
                   const voice_finding_settings & s);

} // namespace kelvo_asr
