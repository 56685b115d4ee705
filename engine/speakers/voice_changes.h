// Changes of voice inside a piece of speech: where a BIC test between the frames before and after a point
// says two Gaussians fit better than one. Private to the engine.

#pragma once

#include "engine/speakers/cepstra.h"
#include "engine/speakers/voice_finding.h"
#include "engine/speakers/voice_frames.h"
#include "engine/speakers/voice_gaussian.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvo_asr {

// Points of a piece (indices into its speech frames, frames of `c`) where the voice changes: the
// best-scoring candidates, none closer than the minimum stretch to another or to an end; in order.
std::vector<size_t> change_points(const voice_cepstra & c, const piece_frames & frames, const voice_vector & ridge,
                                  const voice_finding_settings & s);

} // namespace kelvo_asr
