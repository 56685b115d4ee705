// A model for adaptation tests: one codebook of two one-value Gaussians far apart (at -5 and +5, unit
// variance) shared by `phones` phones of two states each, every state weighting them alike, so that a frame's
// posterior goes to the nearer one.
#pragma once

#include "engine/adaptation/gaussian_model.h"

#include <cmath>
#include <string>

inline kelvo_asr::gaussian_model two_gaussians(size_t phones) {
    kelvo_asr::gaussian_model m;
    m.n_codebooks       = 1;
    m.n_density         = 2;
    m.stream_len        = { 1 };
    m.stream_offset     = { 0 };
    m.feature_len       = 1;
    m.means             = { -5, 5 };
    m.variances         = { 1, 1 };
    m.inverse_variances = { 1, 1 };
    m.log_norms         = { 0, 0 };
    m.states_per_phone  = 2;
    for (size_t p = 0; p < phones; p++) {
        m.phones.push_back(std::string(1, static_cast<char>('A' + p)));
        m.phone_codebook.push_back(0);
    }
    m.log_weights.assign(phones * 2 * 2, std::log(0.5f)); // phones x 2 states x 2 Gaussians
    return m;
}
