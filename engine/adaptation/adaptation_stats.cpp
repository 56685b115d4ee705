// Viterbi alignment of a word's frames to its context-independent states, and Gaussian posteriors.

#include "engine/adaptation/adaptation_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvo_asr {

namespace {

// Posteriors below this are left out: they change nothing measurable and cost most of the time.
constexpr float min_posterior = 1e-4f;

float log_sum_exp(const float * v, size_t n) {
    const float top = *std::max_element(v, v + n);
    float       sum = 0;
    for (size_t i = 0; i < n; i++) {
        sum += std::exp(v[i] - top);
    }
    return top + std::log(sum);
}

// Log-likelihoods of every Gaussian of `codebook` for one feature vector: [stream][density].
void gaussian_scores(const gaussian_model & model, size_t codebook, const float * x, float * out) {
    const size_t n_streams = model.stream_len.size();
    for (size_t f = 0; f < n_streams; f++) {
        const size_t  len = model.stream_len[f];
        const float * o   = x + model.stream_offset[f];
        for (size_t d = 0; d < model.n_density; d++) {
            const size_t  at   = gaussian_offset(model, codebook, f, d);
            const float * mean = model.means.data() + at;
            const float * iv   = model.inverse_variances.data() + at;
            float         dist = 0;
            for (size_t j = 0; j < len; j++) {
                const float diff = o[j] - mean[j];
                dist += diff * diff * iv[j];
            }
            out[f * model.n_density + d] =
                model.log_norms[(codebook * n_streams + f) * model.n_density + d] - 0.5f * dist;
        }
    }
}

// Scores of every Gaussian of the word's phones for its frames `w.first` ... `w.last`: [frame][phone][stream][density].
void word_gaussian_scores(const gaussian_model & model, const float * features, const word_span & w,
                          std::vector<float> & scores) {
    const size_t n_phones  = w.phones.size();
    const size_t per_state = model.stream_len.size() * model.n_density;
    const size_t n_t       = static_cast<size_t>(w.last - w.first) + 1;
    scores.resize(n_t * n_phones * per_state);
    for (size_t t = 0; t < n_t; t++) {
        const float * x = features + (static_cast<size_t>(w.first) + t) * model.feature_len;
        for (size_t p = 0; p < n_phones; p++) {
            gaussian_scores(model, model.phone_codebook[w.phones[p]], x,
                            scores.data() + (t * n_phones + p) * per_state);
        }
    }
}

// Each frame's score under each state of the word, streams multiplied: each stream's mixture summed when
// `mixture`, else its best weighted Gaussian (the alignment's cheaper score). [frame][state].
std::vector<float> word_state_scores(const gaussian_model & model, const word_span & w, size_t n_t,
                                     const std::vector<float> & scores, bool mixture) {
    const size_t       n_streams = model.stream_len.size();
    const size_t       n_d       = model.n_density;
    const size_t       n_phones  = w.phones.size();
    const size_t       per_state = n_streams * n_d;
    const size_t       n_states  = n_phones * model.states_per_phone;
    const float        worst     = -std::numeric_limits<float>::infinity();
    std::vector<float> state_score(n_t * n_states);
    std::vector<float> weighted(n_d);
    for (size_t t = 0; t < n_t; t++) {
        for (size_t s = 0; s < n_states; s++) {
            const size_t  p   = s / model.states_per_phone;
            const size_t  sen = w.phones[p] * model.states_per_phone + s % model.states_per_phone;
            const float * g   = scores.data() + (t * n_phones + p) * per_state;
            float         sum = 0;
            for (size_t f = 0; f < n_streams; f++) {
                const float * lw = model.log_weights.data() + (sen * n_streams + f) * n_d;
                if (mixture) {
                    for (size_t d = 0; d < n_d; d++) {
                        weighted[d] = g[f * n_d + d] + lw[d];
                    }
                    sum += log_sum_exp(weighted.data(), n_d);
                    continue;
                }
                float top = worst;
                for (size_t d = 0; d < n_d; d++) {
                    top = std::max(top, g[f * n_d + d] + lw[d]);
                }
                sum += top;
            }
            state_score[t * n_states + s] = sum;
        }
    }
    return state_score;
}

} // namespace

gaussian_stats empty_gaussian_stats(const gaussian_model & model) {
    gaussian_stats s;
    s.count.assign(model.n_codebooks * model.stream_len.size() * model.n_density, 0.0);
    s.sum.assign(model.means.size(), 0.0);
    return s;
}

void add_stats(gaussian_stats & into, const gaussian_stats & more) {
    if (into.count.empty()) {
        into = more;
        return;
    }
    for (size_t i = 0; i < into.count.size() && i < more.count.size(); i++) {
        into.count[i] += more.count[i];
    }
    for (size_t i = 0; i < into.sum.size() && i < more.sum.size(); i++) {
        into.sum[i] += more.sum[i];
    }
    into.frames += more.frames;
}

void accumulate_words(const gaussian_model & model, const float * features, int32_t n_frames,
                      const std::vector<word_span> & words, gaussian_stats & stats) {
    const size_t       n_streams = model.stream_len.size();
    const size_t       n_d       = model.n_density;
    const size_t       per_state = n_streams * n_d;
    const float        worst     = -std::numeric_limits<float>::infinity();
    std::vector<float> scores;   // [frame][phone of the word][stream][density]
    std::vector<float> weighted; // one stream's scores plus a state's weights
    for (const word_span & w : words) {
        const size_t n_phones = w.phones.size();
        const size_t n_states = n_phones * model.states_per_phone;
        if (n_states == 0 || w.first < 0 || w.last >= n_frames || w.last < w.first) {
            continue;
        }
        const size_t n_t = static_cast<size_t>(w.last - w.first) + 1;
        if (n_t < n_states) {
            continue;
        }
        word_gaussian_scores(model, features, w, scores);
        // State scores for the alignment: each stream's best weighted Gaussian (the mixture's sum is left to
        // the posteriors below, which need it for one state a frame only).
        const std::vector<float> state_score = word_state_scores(model, w, n_t, scores, false);
        weighted.resize(n_d);
        // Left to right through the states, staying or moving on by one each frame.
        std::vector<float> best(n_states, worst);
        std::vector<char>  moved(n_t * n_states, 0);
        best[0] = state_score[0];
        for (size_t t = 1; t < n_t; t++) {
            for (size_t s = std::min(n_states - 1, t); s != static_cast<size_t>(-1); s--) {
                const float stay        = best[s];
                const float move        = s > 0 ? best[s - 1] : worst;
                moved[t * n_states + s] = move > stay ? 1 : 0;
                best[s]                 = std::max(stay, move) + state_score[t * n_states + s];
            }
        }
        if (!std::isfinite(best[n_states - 1])) {
            continue;
        }
        std::vector<size_t> path(n_t);
        size_t              s = n_states - 1;
        for (size_t t = n_t; t-- > 0;) {
            path[t] = s;
            if (t > 0 && moved[t * n_states + s] != 0) {
                s--;
            }
        }
        for (size_t t = 0; t < n_t; t++) {
            const size_t  p   = path[t] / model.states_per_phone;
            const size_t  sen = w.phones[p] * model.states_per_phone + path[t] % model.states_per_phone;
            const size_t  cb  = model.phone_codebook[w.phones[p]];
            const float * g   = scores.data() + (t * n_phones + p) * per_state;
            const float * x   = features + (static_cast<size_t>(w.first) + t) * model.feature_len;
            for (size_t f = 0; f < n_streams; f++) {
                const float * lw = model.log_weights.data() + (sen * n_streams + f) * n_d;
                for (size_t d = 0; d < n_d; d++) {
                    weighted[d] = g[f * n_d + d] + lw[d];
                }
                const double  total = log_sum_exp(weighted.data(), n_d);
                const size_t  len   = model.stream_len[f];
                const float * o     = x + model.stream_offset[f];
                for (size_t d = 0; d < n_d; d++) {
                    const float post = std::exp(weighted[d] - total);
                    if (post < min_posterior) {
                        continue;
                    }
                    stats.count[(cb * n_streams + f) * n_d + d] += post;
                    double * sum = stats.sum.data() + gaussian_offset(model, cb, f, d);
                    for (size_t j = 0; j < len; j++) {
                        sum[j] += post * o[j];
                    }
                }
            }
        }
        stats.frames += static_cast<int64_t>(n_t);
    }
}

double words_log_likelihood(const gaussian_model & model, const piece_evidence & piece, int64_t & frames) {
    const float        worst = -std::numeric_limits<float>::infinity();
    std::vector<float> scores;
    double             total = 0;
    for (const word_span & w : piece.words) {
        const size_t n_states = w.phones.size() * model.states_per_phone;
        if (n_states == 0 || w.first < 0 || w.last >= piece.n_frames || w.last < w.first) {
            continue;
        }
        const size_t n_t = static_cast<size_t>(w.last - w.first) + 1;
        if (n_t < n_states) {
            continue;
        }
        word_gaussian_scores(model, piece.features.data(), w, scores);
        const std::vector<float> state_score = word_state_scores(model, w, n_t, scores, true);
        std::vector<float>       best(n_states, worst);
        best[0] = state_score[0];
        for (size_t t = 1; t < n_t; t++) {
            for (size_t s = std::min(n_states - 1, t); s != static_cast<size_t>(-1); s--) {
                best[s] = std::max(best[s], s > 0 ? best[s - 1] : worst) + state_score[t * n_states + s];
            }
        }
        if (std::isfinite(best[n_states - 1])) {
            total += best[n_states - 1];
            frames += static_cast<int64_t>(n_t);
        }
    }
    return total;
}

gaussian_stats evidence_stats(const gaussian_model & scoring, const std::vector<piece_evidence> & pieces) {
    gaussian_stats stats = empty_gaussian_stats(scoring);
    for (const piece_evidence & p : pieces) {
        accumulate_words(scoring, p.features.data(), p.n_frames, p.words, stats);
    }
    return stats;
}

std::vector<mllr_stream_stats> transform_stats(const gaussian_model & model, const gaussian_stats & stats) {
    const size_t                   n_streams = model.stream_len.size();
    std::vector<mllr_stream_stats> out;
    for (size_t f = 0; f < n_streams; f++) {
        out.push_back(empty_stream_stats(model.stream_len[f]));
    }
    for (size_t cb = 0; cb < model.n_codebooks; cb++) {
        for (size_t f = 0; f < n_streams; f++) {
            for (size_t d = 0; d < model.n_density; d++) {
                const double c = stats.count[(cb * n_streams + f) * model.n_density + d];
                if (c > 0) {
                    const size_t at = gaussian_offset(model, cb, f, d);
                    add_gaussian(out[f], c, stats.sum.data() + at, model.means.data() + at,
                                 model.variances.data() + at);
                }
            }
        }
    }
    return out;
}

gaussian_model transformed_model(const gaussian_model & model, const std::vector<mllr_stream_transform> & transforms) {
    gaussian_model out = model;
    for (size_t cb = 0; cb < model.n_codebooks; cb++) {
        for (size_t f = 0; f < model.stream_len.size() && f < transforms.size(); f++) {
            const mllr_stream_transform & t   = transforms[f];
            const size_t                  len = model.stream_len[f];
            if (t.dim != len) {
                continue;
            }
            for (size_t d = 0; d < model.n_density; d++) {
                const size_t  at  = gaussian_offset(model, cb, f, d);
                const float * in  = model.means.data() + at;
                float *       res = out.means.data() + at;
                for (size_t i = 0; i < len; i++) {
                    double v = t.b[i];
                    for (size_t j = 0; j < len; j++) {
                        v += t.a[i * len + j] * in[j];
                    }
                    res[i] = static_cast<float>(v);
                }
            }
        }
    }
    return out;
}

} // namespace kelvo_asr
