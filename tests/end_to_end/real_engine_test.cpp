// The tool with the real engine, on LibriVox recordings and on speech synthesised with espeak-ng.

#include "engine/audio/pause_cutter.h"
#include "engine/kelvo_asr.h"
#include "formats/formats.h"
#include "segments/segments.h"
#include "test_support.h"
#include "words/words.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <sstream>

namespace {

struct Clip {
    std::string path;
    std::string reference; // lower-case words
};

std::vector<Clip> librivox_clips() {
    std::vector<Clip> clips;
    for (const ReferenceText & t : read_reference_texts()) {
        clips.push_back({ testdata_dir() + "/librivox/" + t.id + ".wav", t.text });
    }
    return clips;
}

ProcessResult run_tool(const std::string & audio, const std::vector<std::string> & extra = {}) {
    std::vector<std::string> args = { asr_binary(), "--asr", model_dir(), "--aligner", model_dir(), "--audio", audio };
    args.insert(args.end(), extra.begin(), extra.end());
    return run_process(args);
}

std::string joined_text(const std::vector<DocumentWord> & words) {
    std::string text;
    for (const auto & w : words) {
        text += (text.empty() ? "" : " ") + w.text;
    }
    return text;
}

// The progress lines of one stage.
size_t count_lines(const std::string & err, const std::string & stage) {
    size_t n = 0;
    for (size_t at = 0; (at = err.find(" " + stage + "\n", at)) != std::string::npos; at++) {
        n++;
    }
    return n;
}

// Words are in time order and inside the recording; times are finite and start <= end unless untimed.
void expect_ordered(const std::vector<DocumentWord> & words, double duration) {
    double last = 0;
    for (const auto & w : words) {
        EXPECT_TRUE(std::isfinite(w.start) && std::isfinite(w.end));
        EXPECT_GE(w.start, last - 0.0005) << w.text;
        EXPECT_LE(w.start, w.end + 0.0005) << w.text;
        EXPECT_LE(w.end, duration + 0.0005) << w.text;
        last = w.start;
    }
}

std::vector<float> silence(double seconds) {
    return std::vector<float>(static_cast<size_t>(seconds * 16000), 0.0f);
}

// espeak-ng's reading of `text` between `lead` and `tail` seconds of silence, also written to DIR/a.wav;
// empty when it cannot be made.
std::vector<float> sentence_in_silence(const std::string & dir, const std::string & text, double lead, double tail) {
    std::vector<float> speech;
    int32_t            rate = 0;
    if (!synthesize_speech(text, "en-us", 150, dir + "/s.wav") ||
        !kelvo_asr::load_audio_file(dir + "/s.wav", speech, rate)) {
        return {};
    }
    std::vector<float> audio = silence(lead);
    audio.insert(audio.end(), speech.begin(), speech.end());
    const std::vector<float> after = silence(tail);
    audio.insert(audio.end(), after.begin(), after.end());
    if (!write_wav_pcm16(dir + "/a.wav", audio, 16000)) {
        return {};
    }
    return audio;
}

// Sample index of the first window of 10 ms whose RMS is above a small floor, at or after `from`.
size_t speech_onset(const std::vector<float> & s, size_t from) {
    for (size_t at = from; at + 160 <= s.size(); at += 160) {
        double e = 0;
        for (size_t k = 0; k < 160; k++) {
            e += static_cast<double>(s[at + k]) * s[at + k];
        }
        if (std::sqrt(e / 160) > 0.01) {
            return at;
        }
    }
    return s.size();
}

TEST(RealEngine, LibriVoxClipsGiveOrderedPlausibleWords) {
    auto clips = librivox_clips();
    ASSERT_EQ(clips.size(), 5u);
    double total_wer = 0;
    for (const auto & clip : clips) {
        ProcessResult r = run_tool(clip.path);
        ASSERT_EQ(r.status, 0) << r.out;
        auto words = document_words(r.out);
        ASSERT_TRUE(words.has_value()) << r.out;
        ASSERT_FALSE(words->empty());
        std::vector<float> samples;
        int32_t            rate = 0;
        ASSERT_TRUE(kelvo_asr::load_audio_file(clip.path, samples, rate));
        expect_ordered(*words, static_cast<double>(samples.size()) / rate);
        EXPECT_EQ(r.err, "progress 0.000 loading\nusing CPU\nprogress 0.000 transcribing\n"
                         "progress 0.600 aligning\nprogress 1.000 done\n");
        total_wer += word_error_rate(clip.reference, joined_text(*words));
    }
    EXPECT_LT(total_wer / 5, 0.45) << "most reference words are recognised";
}

TEST(RealEngine, SynthesisedSentenceStartsWhereTheSpeechStarts) {
    std::string              dir = make_temp_dir();
    const std::vector<float> audio =
        sentence_in_silence(dir, "the weather today is cold and windy near the river", 1.5, 1.0);
    ASSERT_FALSE(audio.empty());

    ProcessResult r = run_tool(dir + "/a.wav");
    ASSERT_EQ(r.status, 0) << r.out;
    auto words = document_words(r.out);
    ASSERT_TRUE(words.has_value() && !words->empty()) << r.out;
    expect_ordered(*words, audio.size() / 16000.0);
    const double onset = speech_onset(audio, 0) / 16000.0;
    EXPECT_NEAR(words->front().start, onset, 0.2) << joined_text(*words);
    // The model was trained on human speech: synthetic speech is recognised only in part, but what is
    // recognised lies inside the speech.
    const double speech_end = audio.size() / 16000.0 - 1.0; // before the second of silence
    for (const auto & w : *words) {
        EXPECT_GE(w.start, onset - 0.2) << w.text;
        EXPECT_LE(w.end, speech_end + 0.2) << w.text;
    }
}

TEST(RealEngine, OtherSampleRatesGiveOnlyTheAudioError) {
    std::string        dir = make_temp_dir();
    std::vector<float> tone(44100);
    for (size_t i = 0; i < tone.size(); i++) {
        tone[i] = 0.3f * static_cast<float>(std::sin(i * 0.05));
    }
    ASSERT_TRUE(write_wav_pcm16(dir + "/44k.wav", tone, 44100));
    ProcessResult r = run_tool(dir + "/44k.wav");
    EXPECT_EQ(r.out, "{\"error\":\"could not read the audio (it must be 16 kHz mono WAV)\"}\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
}

TEST(RealEngine, ModelFolderWithoutDictionaryNamesIt) {
    std::string   dir = make_temp_dir();
    ProcessResult r =
        run_process({ asr_binary(), "--asr", dir, "--aligner", model_dir(), "--audio", librivox_clips()[1].path });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("{\"error\":\"could not load the speech model: ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(dir), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "progress 0.000 loading\nusing CPU\n");
    EXPECT_TRUE(is_valid_json(r.out));
}

// About 90 s of LibriVox speech with pauses (the five clips three times over): several pieces, each
// recognised, words in order throughout.
TEST(RealEngine, LongRecordingIsTranscribedInPiecesOnOneTimeLine) {
    std::string                            dir = make_temp_dir();
    std::vector<float>                     audio;
    auto                                   clips = librivox_clips();
    std::vector<std::pair<double, double>> spoken; // where each clip lies in the recording
    while (audio.size() < 80u * 16000u) {
        for (const auto & clip : clips) {
            std::vector<float> s;
            int32_t            rate = 0;
            ASSERT_TRUE(kelvo_asr::load_audio_file(clip.path, s, rate));
            spoken.push_back({ audio.size() / 16000.0, (audio.size() + s.size()) / 16000.0 });
            audio.insert(audio.end(), s.begin(), s.end());
            auto pause = silence(0.8);
            audio.insert(audio.end(), pause.begin(), pause.end());
        }
    }
    ASSERT_TRUE(write_wav_pcm16(dir + "/long.wav", audio, 16000));
    std::vector<float> written;
    int32_t            rate = 0;
    ASSERT_TRUE(kelvo_asr::load_audio_file(dir + "/long.wav", written, rate));
    const size_t pieces = split_long_audio(written, 16000).size();
    ASSERT_GE(pieces, 3u);

    ProcessResult r = run_tool(dir + "/long.wav");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count_lines(r.err, "transcribing"), pieces);
    auto words = document_words(r.out);
    ASSERT_TRUE(words.has_value());
    expect_ordered(*words, audio.size() / 16000.0);
    // Every clip of the recording yields words, so no piece was lost and times did not drift.
    for (const auto & [from, to] : spoken) {
        size_t inside = 0;
        for (const auto & w : *words) {
            inside += (w.start >= from - 0.3 && w.end <= to + 0.3) ? 1 : 0;
        }
        EXPECT_GE(inside, 3u) << "clip at " << from << " s";
    }
}

// The engine decodes a segment's pieces on several threads; the document is the same, byte for byte,
// whatever the thread count, on 45 s of speech with pauses: two segments of three pieces each (a single clip
// is one piece, which any count decodes alone). One thread decodes every piece; an absurd count runs like
// any other, as many threads as there are processors (two on the test machine share three pieces, so that
// one decoder decodes two in a row).
TEST(RealEngine, SameDocumentForAnyThreadCount) {
    const std::string  dir   = make_temp_dir();
    auto               clips = librivox_clips();
    std::vector<float> audio;
    for (size_t k = 0; audio.size() < 45u * 16000u; k++) {
        std::vector<float> s;
        int32_t            rate = 0;
        ASSERT_TRUE(kelvo_asr::load_audio_file(clips[k % clips.size()].path, s, rate));
        audio.insert(audio.end(), s.begin(), s.end());
        auto pause = silence(k % 2 == 0 ? 0.9 : 0.4);
        audio.insert(audio.end(), pause.begin(), pause.end());
    }
    ASSERT_TRUE(write_wav_pcm16(dir + "/speech.wav", audio, 16000));
    std::vector<float> written;
    int32_t            rate = 0;
    ASSERT_TRUE(kelvo_asr::load_audio_file(dir + "/speech.wav", written, rate));
    const std::vector<Segment> segments = plan_segments({}, written, 16000);
    ASSERT_GE(segments.size(), 2u);
    for (const Segment & s : segments) {
        EXPECT_GE(kelvo_asr::cut_at_pauses(written.data() + s.start, s.end - s.start).size(), 3u) << s.start;
    }

    const char * const  threads[] = { "1", "1000000" };
    const ProcessResult first     = run_tool(dir + "/speech.wav", { "--threads", threads[0] });
    ASSERT_EQ(first.status, 0) << first.out;
    EXPECT_EQ(count_lines(first.err, "transcribing"), segments.size());
    ASSERT_TRUE(document_words(first.out).has_value());
    for (size_t t = 1; t < std::size(threads); t++) {
        const ProcessResult r = run_tool(dir + "/speech.wav", { "--threads", threads[t] });
        EXPECT_EQ(r.status, 0) << threads[t];
        EXPECT_EQ(r.out, first.out) << threads[t] << " threads";
    }
}

// Two espeak-ng voices take turns; the turns file says who speaks when.
TEST(RealEngine, TurnsLabelEveryWordWithItsSpeaker) {
    std::string                                     dir   = make_temp_dir();
    const std::vector<std::pair<char, std::string>> lines = {
        { 'P', "good morning doctor thank you for seeing me today" },
        { 'C', "good morning please sit down and tell me what is wrong" },
        { 'P', "my back has been hurting for three weeks now" },
        { 'C', "i see does it hurt more in the morning or at night" },
    };
    std::vector<float> audio = silence(0.5);
    std::string        turns;
    for (const auto & [who, text] : lines) {
        std::vector<float> s;
        int32_t            rate = 0;
        ASSERT_TRUE(synthesize_speech(text, who == 'P' ? "en-us" : "en-gb", 150, dir + "/t.wav"));
        ASSERT_TRUE(kelvo_asr::load_audio_file(dir + "/t.wav", s, rate));
        const size_t       begin = speech_onset(s, 0);
        std::ostringstream rec;
        rec.precision(3);
        rec << std::fixed << (audio.size() + begin) / 16000.0 << " " << (audio.size() + s.size()) / 16000.0 << " "
            << who << (who == 'P' ? "atient" : "arer") << "\n";
        turns += rec.str();
        audio.insert(audio.end(), s.begin(), s.end());
        auto pause = silence(0.7);
        audio.insert(audio.end(), pause.begin(), pause.end());
    }
    ASSERT_TRUE(write_wav_pcm16(dir + "/talk.wav", audio, 16000));
    ASSERT_TRUE(write_file(dir + "/turns.txt", turns));

    ProcessResult r = run_tool(dir + "/talk.wav", { "--turns", dir + "/turns.txt" });
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count_lines(r.err, "transcribing"), lines.size());
    auto words = document_words(r.out);
    ASSERT_TRUE(words.has_value());
    ASSERT_GE(words->size(), 20u);
    std::istringstream in(turns);
    std::vector<Turn>  spans;
    double             a, b;
    std::string        label;
    while (in >> a >> b >> label) {
        spans.push_back({ a, b, label[0] });
    }
    size_t right = 0;
    for (const auto & w : *words) {
        const double mid = (w.start + w.end) / 2;
        for (const auto & t : spans) {
            if (mid >= t.start - 0.2 && mid <= t.end + 0.2) {
                right += w.who == std::string(1, t.label) ? 1 : 0;
                break;
            }
        }
    }
    EXPECT_GE(right, words->size() * 95 / 100) << r.out;
}

// Two espeak-ng men's voices take turns and no turns file is given: the voices are found
// in the audio, each turn's words carry one speaker, a different one for each voice, and the document is
// the same for any thread count.
TEST(RealEngine, TwoSynthesisedVoicesAreFoundAsTwoSpeakers) {
    const std::string                                      dir   = make_temp_dir();
    const std::vector<std::pair<std::string, std::string>> lines = {
        { "en-us", "good morning doctor thank you for seeing me today at such short notice" },
        { "en-gb-scotland+m1", "good morning please sit down and tell me what seems to be the trouble" },
        { "en-us", "my back has been hurting for three weeks now and it is getting worse" },
        { "en-gb-scotland+m1", "i see does it hurt more in the morning or later in the evening" },
        { "en-us", "mostly in the morning when i get out of bed it is very stiff" },
        { "en-gb-scotland+m1", "all right let me have a look and then we can talk about what to do" },
    };
    std::vector<float>                     audio = silence(0.5);
    std::vector<std::pair<double, double>> spans;
    for (const auto & [voice, text] : lines) {
        std::vector<float> s;
        int32_t            rate = 0;
        ASSERT_TRUE(synthesize_speech(text, voice, 160, dir + "/t.wav"));
        ASSERT_TRUE(kelvo_asr::load_audio_file(dir + "/t.wav", s, rate));
        spans.emplace_back(audio.size() / 16000.0, (audio.size() + s.size()) / 16000.0);
        audio.insert(audio.end(), s.begin(), s.end());
        auto pause = silence(0.7);
        audio.insert(audio.end(), pause.begin(), pause.end());
    }
    ASSERT_TRUE(write_wav_pcm16(dir + "/talk.wav", audio, 16000));

    const ProcessResult r = run_tool(dir + "/talk.wav", { "--speakers", "auto", "--threads", "1" });
    ASSERT_EQ(r.status, 0) << r.out;
    // Each voice's pieces shared among decoders give the same document as one decoder.
    EXPECT_EQ(run_tool(dir + "/talk.wav", { "--speakers", "auto", "--threads", "3" }).out, r.out);
    auto words = document_words(r.out);
    ASSERT_TRUE(words.has_value());
    ASSERT_GE(words->size(), 60u);
    // The speaker of each turn is the one most of its words carry; every other turn alternates.
    std::vector<std::map<std::string, size_t>> heard(lines.size());
    for (const auto & w : *words) {
        const double mid = (w.start + w.end) / 2;
        for (size_t k = 0; k < spans.size(); k++) {
            if (mid >= spans[k].first && mid <= spans[k].second) {
                heard[k][w.who]++;
            }
        }
    }
    size_t                   agreeing = 0, total = 0;
    std::vector<std::string> turn_speaker;
    for (const auto & counts : heard) {
        auto best = std::max_element(counts.begin(), counts.end(),
                                     [](const auto & a, const auto & b) { return a.second < b.second; });
        ASSERT_NE(best, counts.end());
        turn_speaker.push_back(best->first);
        agreeing += best->second;
        for (const auto & [name, n] : counts) {
            total += n;
        }
    }
    EXPECT_EQ(turn_speaker, (std::vector<std::string>{ "S1", "S2", "S1", "S2", "S1", "S2" })) << r.out;
    EXPECT_GE(agreeing, total * 95 / 100) << r.out;
}

} // namespace

// A name the model lacks is heard, and timed, only with a vocabulary naming it; a bad line of the list is
// reported and the run goes on.
TEST(RealEngine, NameIsHeardOnlyWithTheVocabulary) {
    std::string              dir = make_temp_dir();
    const std::vector<float> audio =
        sentence_in_silence(dir, "please ask doctor kelthorpe to call me tomorrow", 0.5, 0.5);
    ASSERT_FALSE(audio.empty());
    ASSERT_TRUE(write_file(dir + "/v.txt", "Kelthorpe\nbrisvane\tB R IH QQ\n"));

    const auto name = [](const std::vector<DocumentWord> & words) {
        return std::find_if(words.begin(), words.end(), [](const DocumentWord & w) {
            return to_lower(make_match_key(w.text)) == "kelthorpe"; // as written: a capital, a mark
        });
    };
    ProcessResult without = run_tool(dir + "/a.wav", { "--threads", "1" });
    ASSERT_EQ(without.status, 0) << without.out;
    auto plain = document_words(without.out);
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(name(*plain), plain->end()) << joined_text(*plain);

    ProcessResult with = run_tool(dir + "/a.wav", { "--threads", "1", "--vocabulary", dir + "/v.txt" });
    ASSERT_EQ(with.status, 0) << with.out;
    EXPECT_NE(with.err.find("vocabulary line 2 skipped: unknown phone \"QQ\"\n"), std::string::npos) << with.err;
    auto words = document_words(with.out);
    ASSERT_TRUE(words.has_value());
    const auto found = name(*words);
    ASSERT_NE(found, words->end()) << joined_text(*words);
    EXPECT_GT(found->end - found->start, 0.2) << joined_text(*words);
    expect_ordered(*words, audio.size() / 16000.0);
}

namespace {

TEST(RealEngine, TranscriptWithAMissingAndAnExtraSentenceKeepsEveryWordInItsPlace) {
    // Three sentences said; the transcript has a sentence nobody said between the first two and lacks the third.
    const std::string  dir      = make_temp_dir();
    const char *       said[]   = { "the weather today is cold and windy near the river",
                                    "my brother bought a new car last summer",
                                    "we will meet again at the station tomorrow morning" };
    const std::string  extra    = "nobody ever spoke these particular words aloud";
    std::vector<float> audio    = silence(0.5);
    double             third_at = 0;
    for (const char * text : said) {
        std::vector<float> speech;
        int32_t            rate = 0;
        ASSERT_TRUE(synthesize_speech(text, "en-us", 150, dir + "/s.wav") &&
                    kelvo_asr::load_audio_file(dir + "/s.wav", speech, rate));
        third_at = speech_onset(speech, 0) / 16000.0 + audio.size() / 16000.0;
        audio.insert(audio.end(), speech.begin(), speech.end());
        const std::vector<float> pause = silence(0.8);
        audio.insert(audio.end(), pause.begin(), pause.end());
    }
    ASSERT_TRUE(write_wav_pcm16(dir + "/a.wav", audio, 16000));
    ASSERT_TRUE(
        write_file(dir + "/t.txt", std::string("P: ") + said[0] + ".\nC: " + extra + ".\nP: " + said[1] + ".\n"));

    const ProcessResult r = run_tool(dir + "/a.wav", { "--transcript", dir + "/t.txt" });
    ASSERT_EQ(r.status, 0) << r.out;
    const auto words = document_words(r.out);
    ASSERT_TRUE(words.has_value()) << r.out;
    std::vector<std::string> expected;
    for (const std::string & line : { std::string(said[0]), extra, std::string(said[1]) }) {
        std::istringstream in(line);
        for (std::string w; in >> w;) {
            expected.push_back(w);
        }
    }
    expected[9] += '.';
    expected[16] += '.';
    expected.back() += '.';
    ASSERT_EQ(words->size(), expected.size()) << r.out;

    size_t untimed = 0, extra_untimed = 0, said_timed = 0;
    double last_end = 0;
    for (size_t k = 0; k < words->size(); k++) {
        const DocumentWord & w = (*words)[k];
        EXPECT_EQ(w.text, expected[k]);
        EXPECT_EQ(w.who, k >= 10 && k < 17 ? "C" : "P") << w.text;
        untimed += w.untimed ? 1 : 0;
        const bool is_extra = k >= 10 && k < 17;
        extra_untimed += is_extra && w.untimed ? 1 : 0;
        said_timed += !is_extra && !w.untimed ? 1 : 0;
        if (!w.untimed) {
            EXPECT_GE(w.start, last_end - 0.0105) << w.text; // never drawn back over the word ahead
            last_end = w.end;
        }
    }
    EXPECT_GE(extra_untimed, 6u) << r.out;
    EXPECT_GE(said_timed, 16u) << r.out; // of 18
    // The second sentence is not drawn over the third, which the transcript lacks.
    EXPECT_LE(last_end, third_at + 0.1) << r.out;
    EXPECT_NE(r.err.find("transcript words not placed: " + std::to_string(untimed) + "\n"), std::string::npos) << r.err;
}

} // namespace
