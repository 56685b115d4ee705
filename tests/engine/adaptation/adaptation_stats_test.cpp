#include "engine/adaptation/adaptation_stats.h"

#include "two_gaussians.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Each frame of a word adds its posteriors to the Gaussians' counts and its values, weighted, to their
// sums; words that cannot be aligned (outside the frames, fewer frames than states) add nothing.
TEST(AdaptationStats, FramesOfWordsGoToTheirGaussians) {
    const kelvo_asr::gaussian_model m        = two_gaussians(2);
    const std::vector<float>        features = { -5, -4, -6, 5, 6, 4, -5 };
    kelvo_asr::gaussian_stats       s        = kelvo_asr::empty_gaussian_stats(m);
    kelvo_asr::accumulate_words(m, features.data(), 7, { { { 0 }, 0, 5 } }, s);
    EXPECT_EQ(s.frames, 6);
    ASSERT_EQ(s.count.size(), 2u);
    EXPECT_NEAR(s.count[0], 3, 1e-3);
    EXPECT_NEAR(s.count[1], 3, 1e-3);
    EXPECT_NEAR(s.sum[0], -15, 1e-2);
    EXPECT_NEAR(s.sum[1], 15, 1e-2);

    const kelvo_asr::gaussian_stats before = s;
    kelvo_asr::accumulate_words(m, features.data(), 7,
                                { { { 0 }, 5, 7 }, { { 0, 1 }, 0, 2 }, { { 0 }, 3, 2 }, { {}, 0, 6 } }, s);
    EXPECT_EQ(s.frames, before.frames);
    EXPECT_EQ(s.count, before.count);
    EXPECT_EQ(s.sum, before.sum);

    // Two phones over the word: still every frame counted once.
    kelvo_asr::accumulate_words(m, features.data(), 7, { { { 0, 1 }, 0, 6 } }, s);
    EXPECT_EQ(s.frames, 13);
    EXPECT_NEAR(s.count[0] + s.count[1], 13, 1e-3);
}

// Statistics added piece by piece: an empty total takes the first as it is, later ones add up.
TEST(AdaptationStats, PiecesAddUp) {
    const kelvo_asr::gaussian_model m        = two_gaussians(2);
    const std::vector<float>        features = { -5, -5, 5, 5 };
    kelvo_asr::gaussian_stats       piece    = kelvo_asr::empty_gaussian_stats(m);
    kelvo_asr::accumulate_words(m, features.data(), 4, { { { 1 }, 0, 3 } }, piece);
    kelvo_asr::gaussian_stats total;
    kelvo_asr::add_stats(total, piece);
    EXPECT_EQ(total.count, piece.count);
    EXPECT_EQ(total.sum, piece.sum);
    EXPECT_EQ(total.frames, 4);
    kelvo_asr::add_stats(total, piece);
    EXPECT_EQ(total.frames, 8);
    EXPECT_DOUBLE_EQ(total.count[1], 2 * piece.count[1]);
    EXPECT_DOUBLE_EQ(total.sum[0], 2 * piece.sum[0]);
    // The same frames gathered in one go give the same counts.
    const kelvo_asr::gaussian_stats once =
        kelvo_asr::evidence_stats(m, { { features, 4, { { { 1 }, 0, 3 } } }, { features, 4, { { { 1 }, 0, 3 } } } });
    EXPECT_EQ(once.frames, total.frames);
    EXPECT_NEAR(once.count[0], total.count[0], 1e-9);
    EXPECT_NEAR(once.sum[1], total.sum[1], 1e-9);
}

} // namespace
