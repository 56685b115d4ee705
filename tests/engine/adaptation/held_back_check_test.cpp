#include "engine/adaptation/held_back_check.h"

#include "two_gaussians.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A piece of `n_words` words of 10 frames each (five near -5, five near +5), the first `n_shifted` words'
// frames moved by `shift`.
kelvo_asr::piece_evidence piece(int n_words, int n_shifted, float shift) {
    kelvo_asr::piece_evidence p;
    for (int w = 0; w < n_words; w++) {
        const float moved = w < n_shifted ? shift : 0.0f;
        for (int t = 0; t < 10; t++) {
            const float wobble = (t % 2 == 0 ? 0.3f : -0.3f);
            p.features.push_back((t < 5 ? -5.0f : 5.0f) + moved + wobble);
        }
        p.words.push_back({ { 0 }, w * 10, w * 10 + 9 });
    }
    p.n_frames = n_words * 10;
    return p;
}

// A voice that keeps its shift gains on the held-back words; one whose held-back words are not like the
// words the transform was learnt from loses; with one word there is nothing to hold back.
TEST(HeldBackCheck, GainsOnlyWhereTheTransformCarriesOver) {
    const kelvo_asr::gaussian_model m      = two_gaussians(1);
    int64_t                         frames = 0;

    // 60 words: the first 40 learn, the last 20 (200 frames) are held back, spread over two pieces.
    const double kept = kelvo_asr::held_back_gain(m, { piece(30, 30, 1.0f), piece(30, 30, 1.0f) }, frames);
    EXPECT_EQ(frames, 200);
    EXPECT_GT(kept, 0.2);

    const double lost = kelvo_asr::held_back_gain(m, { piece(30, 30, 1.0f), piece(30, 10, 1.0f) }, frames);
    EXPECT_EQ(frames, 200);
    EXPECT_LT(lost, -0.2);

    EXPECT_EQ(kelvo_asr::held_back_gain(m, { piece(1, 1, 1.0f) }, frames), 0);
    EXPECT_EQ(frames, 0);
}

} // namespace
