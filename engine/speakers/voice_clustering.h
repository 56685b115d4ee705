// Bottom-up clustering of speech stretches into voices: the pair whose merge costs the least likelihood,
// against a BIC penalty for the parameters a merge saves, is merged until every merge costs more than it
// saves, or until a given number of voices is left. A long recording is clustered a block of stretches at a
// time first, and the blocks' voices then together. Private to the engine.

#pragma once

#include "engine/speakers/voice_gaussian.h"

#include <cstdint>
#include <vector>

namespace kelvo_asr {

// How clusters are merged.
struct clustering_rule {
    double  penalty = 1.0; // weight of the BIC penalty: higher merges more
    int32_t n_fixed = 0;   // above 0: merge until this many clusters are left, whatever the penalty says
};

// The BIC change of merging two clusters: above 0 when two Gaussians explain their frames better than one
// by more than the penalty for the parameters of the second.
double merge_cost(const frame_sums & a, const frame_sums & b, const voice_vector & ridge, double penalty);

// The cluster of each of `stretches` (each holding frames), clusters numbered from 0 in the order of their
// first stretch. Deterministic: ties go to the lowest indices.
std::vector<int32_t> cluster_stretches(const std::vector<frame_sums> & stretches, const voice_vector & ridge,
                                       const clustering_rule & rule);

} // namespace kelvo_asr
