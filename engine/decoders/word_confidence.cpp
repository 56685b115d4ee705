// Word posteriors from the decoder's lattice, and their calibration.

#include "engine/decoders/word_confidence.h"

#include <algorithm>
#include <cmath>

namespace kelvo_asr {

float word_posterior(ps_decoder_t * ps, ps_seg_t * seg) {
    // The best path's segments carry the posterior that the lattice search leaves on its links
    // (forward-backward, acoustic scores scaled down); it is a log in the decoder's own base.
    int32        ascr     = 0;
    int32        lscr     = 0;
    int32        lback    = 0;
    const int32  log_prob = ps_seg_prob(seg, &ascr, &lscr, &lback);
    const double p        = logmath_exp(ps_get_logmath(ps), log_prob);
    return static_cast<float>(std::clamp(std::isfinite(p) ? p : 0.0, 0.0, 1.0));
}

} // namespace kelvo_asr
