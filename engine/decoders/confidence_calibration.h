// The map from a word's lattice posterior to the probability that the word is right, fitted once on
// synthesised conversations (bench/recognition/confidence_bench.cpp) and kept here as constants.
// Needs no decoder type, so that the benchmark that fits it can use it too.

#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kelvo_asr {

// Returns the value at `x` of the map through `knots` (posterior, value), ordered by posterior: linear
// between knots, the first knot's value at or below the first posterior (and for NaN), the last's past the
// last; `x` itself when there are no knots.
template <typename Real> Real interpolate_knots(std::span<const std::pair<Real, Real>> knots, Real x) {
    if (knots.empty()) {
        return x;
    }
    if (!(x > knots.front().first)) {
        return knots.front().second;
    }
    for (size_t k = 1; k < knots.size(); k++) {
        if (x <= knots[k].first) {
            const Real span = knots[k].first - knots[k - 1].first;
            const Real t    = span > 0 ? (x - knots[k - 1].first) / span : Real(1);
            return knots[k - 1].second + t * (knots[k].second - knots[k - 1].second);
        }
    }
    return knots.back().second;
}

// What the decoder's lattice says about one recognised word (word_confidence.h gathers it). Posteriors are
// in [0, 1], scores natural logs.
struct word_evidence {
    float node_posterior   = 0; // of the best path's link through the word
    float word_posterior   = 0; // the most, over the word's frames, of the summed posterior of its links
    float mean_posterior   = 0; // the same summed posterior, averaged over the word's frames
    float competitor       = 0; // the most, over the word's frames, of any other word's summed posterior
    float filler           = 0; // the most, over the word's frames, of silence's and noise's summed posterior
    float acoustic         = 0; // acoustic score per frame
    float language         = 0; // language score
    float frames_per_phone = 0; // the word's frames over its phones
    float snr              = 0; // the segment's speech level over its noise floor, in dB
    float segment_mean     = 0; // the mean `word_posterior` of the segment's words
};

// Inputs of the confidence model, in its order: the logits of the three posteriors, the competitors' and
// silence's posteriors, the scores in tens of nats, the log of the frames per phone, and the segment's
// speech level over its noise floor in tens of dB (0 to 4), and the logit of the segment's mean posterior.
constexpr size_t evidence_inputs = 10;

// Returns the model's inputs for the evidence `e`.
std::array<double, evidence_inputs> confidence_inputs(const word_evidence & e);

// Returns the probability, in [0, 1], that a recognised word with evidence `e` is right: a logistic model of
// the evidence fitted once on the benchmark corpus, never 0 or 1.
float word_confidence(const word_evidence & e);

// One word's evidence with the word, as the confidence benchmark collects it.
struct recorded_evidence {
    std::string   word;
    word_evidence evidence;
};

// For the confidence benchmark: while `sink` is set (nullptr stops it), every word whose posterior is taken
// also has its evidence appended to it, from whichever thread decodes.
void record_word_evidence(std::vector<recorded_evidence> * sink);

// Returns the probability, in [0, 1], that a recognised word with lattice posterior `posterior` is right;
// monotone non-decreasing in `posterior`. A value outside [0, 1] (or NaN) is taken as the nearest end (0).
float calibrated_confidence(float posterior);

} // namespace kelvo_asr
