// Timing transcript words: the rules that move a drawn word onto its speech, and keeping the times in order.

#include "tests/transcript/transcript_test_words.h"
#include "transcript/transcript.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// 1 s at 16 kHz: a loud tone, with a stretch [from, to) as quiet as `floor` (a real pause, or noise as loud).
std::vector<float> tone_with_quiet(double from, double to, float floor) {
    std::vector<float> samples(16000);
    for (size_t i = 0; i < samples.size(); i++) {
        const double t = static_cast<double>(i) / 16000.0;
        samples[i] =
            static_cast<float>(t >= from && t < to ? floor * std::sin(9000.0 * t) : 0.5 * std::sin(1500.0 * t));
    }
    return samples;
}

TEST(TranscriptTimes, AWordOpeningATurnDrawnBeforeAPauseIsMovedAfterIt) {
    std::vector<TranscriptWord> words = transcript({ "queen.", "and", "where", "do", "bees", "go.", "home" });
    for (size_t i = 1; i < 6; i++) {
        words[i].who = 'C'; // the first and last words are another speaker's
    }
    const Stretch s{ 0, 160000, 0, 7 };
    StretchTimes  times{
        { 1.0, 1.3, 2.5, 2.8, 3.0, 3.3, 4.2 }, { 1.3, 1.4, 2.8, 3.0, 3.3, 3.6, 4.5 }, std::vector<bool>(7, true), 0
    };
    keep_turn_edges(words, s, times);
    EXPECT_NEAR(times.start[1], 2.4, 1e-9); // opens a turn: after the pause
    EXPECT_NEAR(times.end[1], 2.5, 1e-9);
    EXPECT_NEAR(times.start[4], 3.0, 1e-9); // "bees" opens nothing: it stays
    EXPECT_NEAR(times.start[5], 3.3, 1e-9); // closes a sentence, no pause before it: it stays

    // A word closing a sentence drawn against the next one, with a pause before it, goes back to the speech.
    times = {
        { 1.0, 1.3, 2.0, 2.3, 2.6, 3.4, 3.6 }, { 1.3, 1.6, 2.3, 2.6, 2.9, 3.6, 3.9 }, std::vector<bool>(7, true), 0
    };
    keep_turn_edges(words, s, times);
    EXPECT_NEAR(times.start[5], 2.9, 1e-9);
    EXPECT_NEAR(times.end[5], 3.1, 1e-9);
}

TEST(TranscriptTimes, AWordDrawnOverThePauseBeforeItStartsWhereItSounds) {
    // 1 s at 16 kHz: a faint pause up to `sound`, then a loud tone (or a pause as loud as the noise `floor`).
    auto recording = [](double sound, float floor) { return tone_with_quiet(0.0, sound, floor); };

    const std::vector<float> paused = recording(0.35, 0.0005f);
    EXPECT_NEAR(quiet_opening_end(paused, 16000, -1, 0.2, 0.8), 0.325, 0.006); // 150 ms of pause drawn into the word
    EXPECT_DOUBLE_EQ(quiet_opening_end(paused, 16000, -1, 0.28, 0.8), 0.28);   // 70 ms: a stop's closure, kept
    EXPECT_DOUBLE_EQ(quiet_opening_end(paused, 16000, -1, 0.4, 0.8), 0.4);     // starts on the sound
    EXPECT_DOUBLE_EQ(quiet_opening_end(paused, 16000, -1, 0.2, 0.3), 0.2);     // nothing but pause
    // In noise 28 dB below the word a pause lies at the noise floor, where a first sound (a hiss) may hide too:
    // only 0.2 s or more there is a pause, and only after a pause the aligner drew (not right after the word
    // before), and only where the word rises well above the noise.
    const std::vector<float> noisy = recording(0.35, 0.02f);
    EXPECT_NEAR(quiet_opening_end(noisy, 16000, -1, 0.1, 0.8), 0.325, 0.006);
    EXPECT_DOUBLE_EQ(quiet_opening_end(noisy, 16000, -1, 0.2, 0.8), 0.2);
    EXPECT_DOUBLE_EQ(quiet_opening_end(noisy, 16000, 0.05, 0.1, 0.8), 0.1);
    EXPECT_DOUBLE_EQ(quiet_opening_end(recording(0.35, 0.2f), 16000, -1, 0.1, 0.8), 0.1);
    EXPECT_NEAR(sound_before_start(paused, 16000, 0.1, 0.45, 0.8), 0.325, 0.006); // drawn late, after the pause
    EXPECT_DOUBLE_EQ(sound_before_start(paused, 16000, 0.3, 0.45, 0.8), 0.45);    // no pause before the sound
    StretchTimes times{ { 0.0, 0.2 }, { 0.2, 0.8 }, { true, true }, 0 };
    trim_quiet_starts(paused, 16000, times);
    EXPECT_DOUBLE_EQ(times.start[0], 0.0);
    EXPECT_NEAR(times.start[1], 0.325, 0.006);
}

TEST(TranscriptTimes, AVowelsOpeningPauseIsLeftToThePauseHoweverShort) {
    // 1 s at 16 kHz: a pause up to 0.35 s (faint, or as loud as noise 28 dB below the word), then a loud tone.
    auto recording = [](float floor) { return tone_with_quiet(0.0, 0.35, floor); };

    const std::vector<float> paused = recording(0.0005f);
    EXPECT_NEAR(vowel_opening_end(paused, 16000, 0.3, 0.8), 0.325, 0.006);       // 50 ms of pause drawn into it
    EXPECT_DOUBLE_EQ(quiet_opening_end(paused, 16000, -1, 0.3, 0.8), 0.3);       // any word: could be a closure
    EXPECT_DOUBLE_EQ(vowel_opening_end(paused, 16000, 0.33, 0.8), 0.33);         // 20 ms: as drawn
    EXPECT_DOUBLE_EQ(vowel_opening_end(recording(0.02f), 16000, 0.3, 0.8), 0.3); // in noise: not a pause
}

TEST(TranscriptTimes, RecognisedWordsThatSqueezeSaidWordsGiveTheFirstAlignmentBack) {
    const std::vector<TranscriptWord> words = transcript({ "boats", "had", "to", "tie", "up", "along" });
    const Stretch                     s{ 0, 160000, 0, 6 };
    const StretchTimes                written{
        { 1.0, 1.5, 1.7, 1.85, 2.1, 2.25 }, { 1.5, 1.7, 1.85, 2.1, 2.25, 2.5 }, std::vector<bool>(6, true), 0
    };
    // Drawn late behind a misheard match: "tie" and "up" squeezed to 60 ms.
    StretchTimes times{
        { 1.0, 1.6, 1.8, 2.1, 2.16, 2.25 }, { 1.5, 1.8, 2.1, 2.16, 2.22, 2.5 }, std::vector<bool>(6, true), 0
    };
    keep_unsqueezed(words, s, written, times);
    EXPECT_EQ(times.start, written.start);
    EXPECT_EQ(times.end, written.end);
    // One word squeezed is what a written word the audio lacks costs: the check's times stay.
    times = { { 1.0, 1.5, 1.7, 2.04, 2.1, 2.25 }, { 1.5, 1.7, 2.04, 2.1, 2.25, 2.5 }, std::vector<bool>(6, true), 0 };
    const StretchTimes checked = times;
    keep_unsqueezed(words, s, written, times);
    EXPECT_EQ(times.start, checked.start);
    EXPECT_EQ(times.end, checked.end);
}

TEST(TranscriptTimes, OnlyALongUnmatchedWordDrawnAtFewFramesIsLeftOut) {
    // "window" (rough 0.43 s) and "harbour" matched nothing heard; "tie" (three letters) neither.
    const std::vector<TranscriptWord> words = transcript({ "boats", "window", "tie", "harbour", "pleased" });
    TranscriptPlan                    plan;
    plan.heard = { 0, -1, -1, -1, 1 };
    const Stretch s{ 0, 160000, 0, 5 };
    // "window" 0.15 s and "tie" 0.06 s, squeezed; "harbour" 0.25 s, over half its rough length.
    StretchTimes times{ { 1.0, 1.5, 1.65, 1.71, 1.96 }, { 1.5, 1.65, 1.71, 1.96, 2.4 }, std::vector<bool>(5, true), 0 };
    leave_out_squeezed_words(words, plan, s, times);
    EXPECT_EQ(times.placed, (std::vector<bool>{ true, false, true, true, true }));
    // A matched word keeps its place however short: the recogniser heard it there.
    plan.heard = { 0, 1, -1, -1, 2 };
    times.placed.assign(5, true);
    leave_out_squeezed_words(words, plan, s, times);
    EXPECT_EQ(times.placed, std::vector<bool>(5, true));
}

TEST(TranscriptTimes, APlaceDrawnAgainCountsOnlySaidWordsLostAndPullsInTheWordsBesideIt) {
    // "of a thunder bicycle window outside": the inserted "thunder" and "window" matched nothing heard.
    const std::vector<TranscriptWord> words = transcript({ "of", "a", "thunder", "bicycle", "window", "outside" });
    TranscriptPlan                    plan;
    plan.heard = { 0, -1, -1, 1, -1, 2 };
    const Stretch s{ 0, 160000, 0, 6 };
    // The first alignment drew "thunder" and "window" at the aligner's fewest frames, "bicycle" late behind them.
    const StretchTimes written{
        { 1.0, 1.13, 1.16, 1.32, 1.88, 2.03 }, { 1.13, 1.16, 1.32, 1.88, 2.03, 2.5 }, std::vector<bool>(6, true), 0
    };
    StretchTimes times{
        { 1.0, 1.13, 0, 1.22, 0, 2.03 }, { 1.11, 1.16, 0, 1.94, 0, 2.5 }, { true, true, false, true, false, true }, 0
    };
    EXPECT_EQ(region_words_lost(words, plan, s, 0, 6, written, times), 0u);
    // "a" is short: drawn at few frames it may be said, so losing it counts; a word more placed makes up for it.
    times.placed[1] = false;
    EXPECT_EQ(region_words_lost(words, plan, s, 0, 6, written, times), 1u);
    times.placed[4] = true;
    EXPECT_EQ(region_words_lost(words, plan, s, 0, 6, written, times), 0u);

    // The place [1, 4) drawn again: "of" ran on over its first word, and "window", drawn against "bicycle" at
    // first, starts where "bicycle" now ends; the pull back goes no further than 0.15 s.
    times          = written;
    times.start[1] = 1.08;
    times.end[3]   = 1.80;
    fit_region_edges(s, 1, 4, written, times);
    EXPECT_DOUBLE_EQ(times.end[0], 1.08);
    EXPECT_DOUBLE_EQ(times.start[4], 1.80);
    times        = written;
    times.end[3] = 1.70;
    fit_region_edges(s, 1, 4, written, times);
    EXPECT_DOUBLE_EQ(times.start[4], 1.88);
    // A word after that the first alignment drew after a pause keeps its start.
    StretchTimes paused = written;
    paused.start[4]     = 1.95;
    times               = paused;
    times.end[3]        = 1.80;
    fit_region_edges(s, 1, 4, paused, times);
    EXPECT_DOUBLE_EQ(times.start[4], 1.95);
    // The place's last word, drawn over the start of the word after, ends there.
    times        = written;
    times.end[3] = 1.95;
    fit_region_edges(s, 1, 4, written, times);
    EXPECT_DOUBLE_EQ(times.end[3], 1.88);
}

TEST(TranscriptTimes, InNoiseAWordsHiddenFirstSoundIsTakenFromTheWordBefore) {
    // 1 s at 16 kHz: a loud tone with a stretch as quiet as the noise, `floor`, over [from, 0.4).
    auto recording = [](double from, float floor) { return tone_with_quiet(from, 0.4, floor); };

    const std::vector<float> noisy = recording(0.3, 0.02f);
    EXPECT_NEAR(hidden_onset_start(noisy, 16000, 0.37, 0.8), 0.335, 0.006);                // drawn inside the quiet
    EXPECT_DOUBLE_EQ(hidden_onset_start(noisy, 16000, 0.42, 0.8), 0.42);                   // drawn on the sound
    EXPECT_DOUBLE_EQ(hidden_onset_start(recording(0.3, 0.0005f), 16000, 0.37, 0.8), 0.37); // quiet: a real pause
    EXPECT_DOUBLE_EQ(hidden_onset_start(recording(0.1, 0.02f), 16000, 0.37, 0.8), 0.37);   // too long for one sound
    // The quiet is the word's own first sound, not a pause: none after a word written with a comma.
    const Stretch s{ 0, 16000, 0, 2 };
    StretchTimes  times{ { 0.0, 0.37 }, { 0.37, 0.8 }, { true, true }, 0 };
    trim_hidden_onsets(transcript({ "say", "fish" }), s, noisy, 16000, times);
    EXPECT_NEAR(times.start[1], 0.335, 0.006);
    EXPECT_NEAR(times.end[0], 0.335, 0.006);
    times = { { 0.0, 0.37 }, { 0.37, 0.8 }, { true, true }, 0 };
    trim_hidden_onsets(transcript({ "say,", "fish" }), s, noisy, 16000, times);
    EXPECT_DOUBLE_EQ(times.start[1], 0.37);
}

TEST(TranscriptTimes, InNoiseAWordDrawnInTheFloorStartsWhereItsFirstSoundHides) {
    // 1 s at 16 kHz: a loud tone with a stretch as quiet as `floor` (noise 28 dB below, or a real pause) over
    // [from, 0.45).
    auto recording = [](float floor, double from = 0.3) { return tone_with_quiet(from, 0.45, floor); };

    const std::vector<float> noisy = recording(0.02f);
    EXPECT_NEAR(noise_onset_start(noisy, 16000, "fish", "", 0.42, 0.8), 0.345, 0.006); // an f hides 0.1 s
    EXPECT_NEAR(noise_onset_start(noisy, 16000, "fish", "", 0.31, 0.8), 0.345, 0.006); // drawn too early
    EXPECT_NEAR(noise_onset_start(noisy, 16000, "and", "", 0.33, 0.8), 0.425, 0.006);  // a vowel shows at once
    EXPECT_NEAR(noise_onset_start(noisy, 16000, "cake", "the", 0.42, 0.8), 0.345, 0.006);
    // A stop after a stop, and a hiss that may show: the quiet may be the word before's, or the sound's own.
    EXPECT_DOUBLE_EQ(noise_onset_start(noisy, 16000, "cake", "bat", 0.42, 0.8), 0.42);
    EXPECT_DOUBLE_EQ(noise_onset_start(noisy, 16000, "cake", "made", 0.42, 0.8), 0.42);
    EXPECT_DOUBLE_EQ(noise_onset_start(noisy, 16000, "cake", "the,", 0.42, 0.8), 0.42);
    EXPECT_DOUBLE_EQ(noise_onset_start(noisy, 16000, "sun", "the", 0.42, 0.8), 0.42);
    // A quiet longer than a closure holds a pause too; an f hides as long after one.
    const std::vector<float> paused = recording(0.02f, 0.2);
    EXPECT_DOUBLE_EQ(noise_onset_start(paused, 16000, "cake", "the", 0.42, 0.8), 0.42);
    EXPECT_NEAR(noise_onset_start(paused, 16000, "fish", "the", 0.42, 0.8), 0.345, 0.006);
    EXPECT_DOUBLE_EQ(noise_onset_start(noisy, 16000, "fish", "", 0.46, 0.8), 0.46);              // on sound
    EXPECT_DOUBLE_EQ(noise_onset_start(noisy, 16000, "fish", "", 0.36, 0.8), 0.36);              // near enough
    EXPECT_DOUBLE_EQ(noise_onset_start(recording(0.0005f), 16000, "fish", "", 0.42, 0.8), 0.42); // quiet
    // The word before ends where the moved word starts, but a word is never moved back over the whole of it.
    const Stretch s{ 0, 16000, 0, 2 };
    StretchTimes  times{ { 0.0, 0.42 }, { 0.42, 0.8 }, { true, true }, 0 };
    trim_noise_onsets(transcript({ "say", "fish" }), s, noisy, 16000, times);
    EXPECT_NEAR(times.start[1], 0.345, 0.006);
    EXPECT_NEAR(times.end[0], 0.345, 0.006);
    times = { { 0.33, 0.42 }, { 0.42, 0.8 }, { true, true }, 0 };
    trim_noise_onsets(transcript({ "say", "fish" }), s, noisy, 16000, times);
    EXPECT_DOUBLE_EQ(times.start[1], 0.42);
}

TEST(TranscriptTimes, AVoicelessStopAfterAPauseStartsWithItsSilentClosure) {
    // 1 s at 16 kHz: a loud tone with a pause as quiet as `floor` (a real pause, or noise 28 dB below) over
    // [from, 0.45); the stop's release is at 0.445 (the first frame half over the tone).
    auto recording = [](float floor, double from) { return tone_with_quiet(from, 0.45, floor); };

    const std::vector<float> quiet = recording(0.0005f, 0.2);
    EXPECT_NEAR(stop_closure_start(quiet, 16000, "cake", 0.2, 0.43, 0.8), 0.38, 0.006);  // drawn at the release
    EXPECT_NEAR(stop_closure_start(quiet, 16000, "cake", 0.2, 0.47, 0.8), 0.38, 0.006);  // drawn on its sound
    EXPECT_NEAR(stop_closure_start(quiet, 16000, "cake", 0.39, 0.43, 0.8), 0.39, 0.006); // not over the word before
    EXPECT_NEAR(stop_closure_start(recording(0.02f, 0.2), 16000, "cake", 0.2, 0.43, 0.8), 0.38, 0.006); // in noise
    // A voiced stop's closure is heard; a quiet no longer than a closure is the stop's own (the noise rule's).
    EXPECT_DOUBLE_EQ(stop_closure_start(quiet, 16000, "gate", 0.2, 0.43, 0.8), 0.43);
    EXPECT_DOUBLE_EQ(stop_closure_start(recording(0.02f, 0.35), 16000, "cake", 0.35, 0.43, 0.8), 0.43);
    EXPECT_DOUBLE_EQ(stop_closure_start(recording(0.0005f, 0.4), 16000, "cake", 0.4, 0.43, 0.8), 0.43);
}

TEST(TranscriptTimes, InNoiseAWordDrawnInsideAPauseIsSaidAfterIt) {
    // 1 s at 16 kHz: noise at `floor` (28 dB below the tone when 0.02, or a real pause) until a loud tone at 0.6.
    auto recording = [](float floor) { return tone_with_quiet(0.0, 0.6, floor); };

    const std::vector<float> noisy = recording(0.02f);
    EXPECT_NEAR(sound_after_floor(noisy, 16000, 0.3, 0.36), 0.595, 0.006);
    EXPECT_LT(sound_after_floor(noisy, 16000, 0.62, 0.8), 0.0);              // drawn on sound
    EXPECT_LT(sound_after_floor(noisy, 16000, 0.5, 0.55), 0.0);              // sound right after it: no pause drawn
    EXPECT_LT(sound_after_floor(recording(0.0005f), 16000, 0.3, 0.36), 0.0); // quiet
}

TEST(TranscriptTimes, NoiseIsToldByWhatFillsThePauses) {
    // 1 s at 16 kHz: a loud tone over [0.5, 1), before it `floor` (a pause or noise, 20 dB below when 0.05).
    auto recording = [](float floor) {
        std::vector<float> samples(16000);
        for (size_t i = 0; i < samples.size(); i++) {
            const double t = static_cast<double>(i) / 16000.0;
            samples[i]     = static_cast<float>((t < 0.5 ? floor : 0.5) * std::sin(1500.0 * t));
        }
        return samples;
    };
    EXPECT_FALSE(pauses_hold_noise(recording(0.0f), 16000, { 0, 16000, 0, 0 }));
    EXPECT_FALSE(pauses_hold_noise(recording(0.004f), 16000, { 0, 16000, 0, 0 })); // 42 dB below: quiet
    EXPECT_TRUE(pauses_hold_noise(recording(0.05f), 16000, { 0, 16000, 0, 0 }));
    // Reaching past the recording's end, only its whole frames count; none at all tells nothing.
    EXPECT_TRUE(pauses_hold_noise(recording(0.05f), 16000, { 0, 20000, 0, 0 }));
    EXPECT_FALSE(pauses_hold_noise(recording(0.05f), 16000, { 15995, 20000, 0, 0 }));
}

TEST(TranscriptTimes, OverlapsAreCutAndUntimedWordsSitBetweenTheirNeighbours) {
    std::vector<TimedWord> words = {
        { "lost", 9, 9, false, 0, true },   { "a", 1.0, 1.5, false, 0, false },  { "b", 1.495, 2.0, false, 0, false },
        { "c", 1.8, 2.4, false, 0, false }, { "d", 1.9, 1.95, false, 0, false }, { "skipped", 0, 0, false, 0, true },
        { "e", 3.0, 3.5, false, 0, false }, { "tail", 0, 0, false, 0, true },
    };
    EXPECT_EQ(settle_transcript_times(words), 4u);
    const double expected[][2] = { { 1.0, 1.0 }, { 1.0, 1.5 }, { 1.495, 2.0 }, { 2.0, 2.4 },
                                   { 2.4, 2.4 }, { 2.4, 2.4 }, { 3.0, 3.5 },   { 3.5, 3.5 } };
    for (size_t k = 0; k < words.size(); k++) {
        EXPECT_DOUBLE_EQ(words[k].start, expected[k][0]) << k;
        EXPECT_DOUBLE_EQ(words[k].end, expected[k][1]) << k;
    }
    EXPECT_TRUE(words[4].untimed); // wholly inside the word ahead of it
}

} // namespace
