// Clustering of stretches drawn from made-up Gaussian voices, where the right answer is known: the voices
// are told apart, their count is found by the stop rule (one voice stays one, three stay three), and a
// given count is kept.

#include "engine/speakers/voice_clustering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using kelvo_asr::frame_sums;
using kelvo_asr::n_voice_cepstra;

// A made-up voice: a mean and a mixing matrix that correlates its cepstra; each number gives another voice.
struct made_up_voice {
    std::vector<double>              mean;
    std::vector<std::vector<double>> mix;
};

made_up_voice voice(uint32_t which, double spread) {
    std::mt19937                     gen(which);
    std::normal_distribution<double> normal;
    made_up_voice                    v{ std::vector<double>(n_voice_cepstra),
                     std::vector<std::vector<double>>(n_voice_cepstra, std::vector<double>(n_voice_cepstra)) };
    for (int i = 0; i < n_voice_cepstra; i++) {
        v.mean[i] = spread * normal(gen);
        for (int j = 0; j < n_voice_cepstra; j++) {
            v.mix[i][j] = (i == j ? 1.0 : 0.0) + 0.3 * normal(gen);
        }
    }
    return v;
}

frame_sums stretch(const made_up_voice & v, int n_frames, std::mt19937 & gen) {
    std::normal_distribution<double> normal;
    frame_sums                       sums;
    std::vector<double>              z(n_voice_cepstra);
    float                            x[n_voice_cepstra];
    for (int f = 0; f < n_frames; f++) {
        for (double & zi : z) {
            zi = normal(gen);
        }
        for (int i = 0; i < n_voice_cepstra; i++) {
            double s = v.mean[i];
            for (int j = 0; j < n_voice_cepstra; j++) {
                s += v.mix[i][j] * z[j];
            }
            x[i] = static_cast<float>(s);
        }
        kelvo_asr::add_frame(sums, x);
    }
    return sums;
}

// Stretches of 1 to 3 s from `voices`, in the order `who` gives.
std::vector<frame_sums> conversation(const std::vector<made_up_voice> & voices, const std::vector<int> & who) {
    std::mt19937            gen(7);
    std::vector<frame_sums> out;
    for (size_t k = 0; k < who.size(); k++) {
        out.push_back(stretch(voices[static_cast<size_t>(who[k])], 100 + static_cast<int>(k % 3) * 100, gen));
    }
    return out;
}

kelvo_asr::voice_vector ridge() {
    kelvo_asr::voice_vector r{};
    r.fill(0.02);
    return r;
}

TEST(VoiceClustering, ThreeVoicesAreToldApartAndNumberedByFirstStretch) {
    const std::vector<made_up_voice> voices = { voice(1, 1.0), voice(2, 1.0), voice(3, 1.0) };
    const std::vector<int>           who    = { 2, 0, 2, 1, 0, 1, 2, 0, 1, 1, 2, 0 };
    const std::vector<int32_t> labels = kelvo_asr::cluster_stretches(conversation(voices, who), ridge(), { 1.3, 0 });
    // Voice 2 speaks first, so it is cluster 0; then voice 0, then voice 1.
    const std::vector<int32_t> expected = { 0, 1, 0, 2, 1, 2, 0, 1, 2, 2, 0, 1 };
    EXPECT_EQ(labels, expected);
}

TEST(VoiceClustering, OneVoiceStaysOne) {
    const std::vector<made_up_voice> voices = { voice(4, 1.0) };
    const std::vector<int32_t>       labels =
        kelvo_asr::cluster_stretches(conversation(voices, std::vector<int>(15, 0)), ridge(), { 1.3, 0 });
    EXPECT_EQ(labels, std::vector<int32_t>(15, 0));
}

TEST(VoiceClustering, AGivenCountIsKeptEvenAgainstTheStopRule) {
    const std::vector<made_up_voice> voices = { voice(1, 1.0), voice(2, 1.0), voice(3, 1.0) };
    const std::vector<int>           who    = { 0, 1, 2, 0, 1, 2, 0, 1, 2 };
    const auto                       sums   = conversation(voices, who);
    for (const int32_t n : { 1, 2, 3, 5 }) {
        const std::vector<int32_t> labels = kelvo_asr::cluster_stretches(sums, ridge(), { 1.3, n });
        EXPECT_EQ(*std::max_element(labels.begin(), labels.end()) + 1, n) << n;
    }
    // Past one block of stretches (clustered a block at a time first), a count is still kept exactly, even
    // one voice's stretches split into more clusters than the stop rule would leave.
    const auto many = conversation({ voice(7, 1.0) }, std::vector<int>(330, 0));
    for (const int32_t n : { 2, 5 }) {
        const std::vector<int32_t> labels = kelvo_asr::cluster_stretches(many, ridge(), { 1.3, n });
        EXPECT_EQ(*std::max_element(labels.begin(), labels.end()) + 1, n) << n << " of 330 stretches";
    }
    // More clusters asked for than stretches: each stretch is its own.
    EXPECT_EQ(kelvo_asr::cluster_stretches({ sums[0], sums[1] }, ridge(), { 1.3, 4 }), (std::vector<int32_t>{ 0, 1 }));
    EXPECT_TRUE(kelvo_asr::cluster_stretches({}, ridge(), { 1.3, 0 }).empty());
}

// The merge cost is symmetric and falls below zero only for the same voice.
TEST(VoiceClustering, MergeCostSeparatesSameFromOtherVoice) {
    std::mt19937        gen(11);
    const made_up_voice a  = voice(5, 1.0);
    const made_up_voice b  = voice(6, 1.0);
    const frame_sums    a1 = stretch(a, 300, gen), a2 = stretch(a, 300, gen), b1 = stretch(b, 300, gen);
    EXPECT_LT(kelvo_asr::merge_cost(a1, a2, ridge(), 1.3), 0.0);
    EXPECT_GT(kelvo_asr::merge_cost(a1, b1, ridge(), 1.3), 0.0);
    EXPECT_NEAR(kelvo_asr::merge_cost(a1, b1, ridge(), 1.3), kelvo_asr::merge_cost(b1, a1, ridge(), 1.3), 1e-6);
}

} // namespace
