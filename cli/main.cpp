// tavrik-asr: a speech recording in, one JSON words document (or one error object) out.

#include "cli/cli.h"
#include "engine/kelvo_asr.h"
#include "output/output.h"
#include "segments/segments.h"
#include "transcript/transcript.h"
#include "words/words.h"
#include "written/written.h"

#include "ggml-backend.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr int32_t required_rate = 16000;

// Seconds of audio per recognition call, at least one segment: enough for turns of different voices to be
// decoded side by side, little enough that progress lines and alignment follow the recognition.
constexpr int64_t call_seconds = 60;

const char * const usage_text = "usage: tavrik-asr --asr <model> --aligner <model> --audio <16 kHz mono wav>";
const char * const audio_text = "could not read the audio (it must be 16 kHz mono WAV)";

// The device line: the first GPU that ggml knows of, else the CPU. Only reported, never kept.
void report_device() {
    ggml_backend_dev_t gpu = ggml_backend_dev_by_type(GGML_BACKEND_DEVICE_TYPE_GPU);
    if (gpu != nullptr) {
        std::fprintf(stderr, "using GPU: %s (%s)\n", ggml_backend_dev_name(gpu), ggml_backend_dev_description(gpu));
    } else {
        std::fprintf(stderr, "using CPU\n");
    }
}

// The engine says once why adaptation (the words are then those of the model's own means) or the hesitation
// model is off.
void report_off_notes(const kelvo_asr::transcribe_result & result) {
    if (!result.adaptation_off.empty()) {
        std::fprintf(stderr, "adaptation off: %s\n", result.adaptation_off.c_str());
    }
    if (!result.hesitations_off.empty()) {
        std::fprintf(stderr, "hesitations off: %s\n", result.hesitations_off.c_str());
    }
}

// The whole run. Objects are declared in creation order, so that every return releases them in reverse:
// the word list first, the aligner before the recogniser, the samples and options last.
int run(int argc, const char * const * argv) {
    const RunOptions opts = scan_options(argc, argv);
    if (opts.asr.empty() || opts.aligner.empty() || opts.audio.empty()) {
        return report_error(usage_text);
    }

    std::vector<float> samples;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(opts.audio, samples, rate) || rate != required_rate) {
        return report_error(audio_text);
    }

    // Read before the models load, so that a vocabulary that cannot be read costs no loading time.
    std::string vocabulary;
    if (!opts.vocabulary.empty() && !read_vocabulary_file(opts.vocabulary, vocabulary)) {
        return report_error("could not read the vocabulary: " + opts.vocabulary);
    }
    TranscriptRead transcript;
    if (!opts.transcript.empty()) {
        std::string bytes;
        if (!read_vocabulary_file(opts.transcript, bytes)) {
            return report_error("could not read the transcript: cannot read " + opts.transcript);
        }
        transcript = read_transcript(bytes);
        if (!transcript.error.empty()) {
            return report_error("could not read the transcript: " + transcript.error);
        }
    }

    report_progress(0.0, "loading");
    ggml_backend_load_all();
    if (std::getenv("KELVO_USE_VRAM") == nullptr) {
        setenv("KELVO_USE_VRAM", "1", 1);
    }
    report_device();

    // The engine checks the model files before its library reads them; a damage no check foresees, or memory
    // running out, can still make the library end the process, which then leaves the scope's text as the
    // run's error object. Every call into the engine runs inside one.
    const std::string stopped     = "the decoder library stopped the run while reading the model in ";
    const std::string no_memory   = "the decoder library ran out of memory while reading the model in ";
    const std::string ran_out     = "the decoder library ran out of memory";
    const std::string stopped_run = "the decoder library stopped the run";
    preread_file(opts.asr);
    kelvo_asr::KelvoASR asr;
    {
        const std::string     what = "could not load the speech model: ";
        const StopReportScope scope(what + stopped + opts.asr + " (are its files damaged?)",
                                    what + no_memory + opts.asr);
        if (!asr.load_model(opts.asr)) {
            return report_error(what + asr.last_error());
        }
    }
    preread_file(opts.aligner);
    kelvo_asr::ForcedAligner aligner;
    {
        const std::string     what = "could not load the aligner: ";
        const StopReportScope scope(what + stopped + opts.aligner + " (are its files damaged?)",
                                    what + no_memory + opts.aligner);
        if (!aligner.load_model(opts.aligner)) {
            return report_error(what + aligner.last_error());
        }
    }
    if (!vocabulary.empty()) {
        const std::string                  what = "could not use the vocabulary: ";
        const StopReportScope              scope(what + stopped_run, what + ran_out);
        const kelvo_asr::vocabulary_result used = asr.set_vocabulary(vocabulary);
        for (const kelvo_asr::vocabulary_warning & w : used.skipped) {
            std::fprintf(stderr, "vocabulary line %d skipped: %s\n", static_cast<int>(w.line), w.reason.c_str());
        }
        if (!used.success) {
            return report_error(what + used.error);
        }
        aligner.add_vocabulary(vocabulary);
    }

    std::vector<ExtraWord> extra_words;
    if (!opts.extra_words.empty()) {
        extra_words = read_extra_words(opts.extra_words);
    }
    std::vector<Segment> segments;
    {
        std::vector<Turn> turns;
        if (!opts.turns.empty()) {
            turns = read_turns(opts.turns);
        }
        segments = plan_segments(turns, samples, rate);
    } // the turns are needed only for planning

    // Without a turns file, the voices are found in the audio: each is adapted to on its own, and with
    // --speakers each word is labelled with its voice. A recording of one voice is decoded as before.
    std::vector<kelvo_asr::voice_stretch> voices;
    // Clamped as the segment planner clamps it: no segment reaches past the first 2^31 - 1 samples.
    const auto n_samples =
        static_cast<int32_t>(std::min(samples.size(), static_cast<size_t>(std::numeric_limits<int32_t>::max())));
    if (opts.turns.empty() && (opts.adapt || opts.speakers)) {
        kelvo_asr::speaker_params found_params;
        found_params.n_speakers               = opts.n_speakers;
        const kelvo_asr::speaker_result found = kelvo_asr::find_speakers(samples.data(), n_samples, found_params);
        if (!found.success) {
            return report_error("speaker finding failed: " + found.error);
        }
        voices = found.stretches;
    }
    // Doubtful voices (one reader cut into many, a voice of a few seconds, speech over babble) are not
    // adapted to: transforms learned from them lost to the model's own means. With a turns file the user's
    // labels are trusted, as before.
    VoicePlan plan = VoicePlan::none;
    if (opts.adapt) {
        plan = opts.turns.empty() ? plan_voice_adaptation(voices, kelvo_asr::measure_noise(samples.data(), n_samples))
                                  : VoicePlan::as_one;
    }
    const bool adapting        = plan != VoicePlan::none;
    const bool adapt_per_voice = plan == VoicePlan::each_voice;
    if (adapt_per_voice) {
        // Each found voice's turns are segments of their own, as a turns file makes them: a voice's transform
        // is then refined after each of its turns, and no piece of one voice is decoded as the other's.
        segments = plan_segments_at(segment_cuts(voices), samples, rate);
    }

    // Each voice (a turn label, a found voice, or the whole recording) is learned from the start of its
    // first segments before any of its words are decoded for the text; the engine skips voices it knows.
    auto segment_params = [&](const Segment & segment, bool listen_only) {
        kelvo_asr::transcribe_params params;
        params.chunk_samples    = 1024;
        params.language         = opts.language;
        params.n_threads        = opts.threads;
        params.keep_noise_words = false;
        params.print_log        = false;
        params.denoise          = opts.denoise;
        params.adapt            = adapting;
        params.speaker          = segment.label == 0 ? std::string() : std::string(1, segment.label);
        params.listen_only      = listen_only;
        params.word_confidence  = opts.confidence && !listen_only;
        if (adapt_per_voice) {
            params.voices = voices_within(voices, segment);
        }
        return params;
    };
    const std::string transcribing = "transcription failed: ";
    const std::string aligning     = "alignment failed: ";
    // Segments of different voices are decoded at once by the engine; each voice's come in order. The
    // segments [first, end) make one call.
    auto requests = [&](bool listen_only, size_t first, size_t end) {
        std::vector<kelvo_asr::segment_request> batch;
        for (size_t j = first; j < end; j++) {
            const Segment & segment = segments[j];
            batch.push_back(
                { samples.data() + segment.start, segment.end - segment.start, segment_params(segment, listen_only) });
        }
        return batch;
    };
    if (adapting) {
        std::vector<kelvo_asr::transcribe_result> learned;
        {
            const StopReportScope scope(transcribing + stopped_run, transcribing + ran_out);
            learned = asr.transcribe_segments(requests(true, 0, segments.size()));
        }
        for (const kelvo_asr::transcribe_result & result : learned) {
            report_off_notes(result);
            if (!result.success) {
                return report_error(transcribing + result.error);
            }
        }
    }

    if (!opts.transcript.empty()) {
        return run_with_transcript(opts, transcript.words, samples, rate, asr, aligner, segments, voices,
                                   [&](const Segment & segment) { return segment_params(segment, false); });
    }

    std::vector<TimedWord> timed_words;
    const size_t           n = segments.size();
    // The segments are recognised a few at a time, so that each progress line still comes when its segment
    // is reached and the words of a long recording are aligned as they come.
    std::vector<kelvo_asr::transcribe_result> heard_batch;
    size_t                                    batch_first = 0;
    for (size_t j = 0; j < n; j++) {
        const Segment & segment = segments[j];
        report_progress(static_cast<double>(j) / static_cast<double>(n), "transcribing");
        if (j == batch_first + heard_batch.size()) {
            batch_first = j;
            const StopReportScope scope(transcribing + stopped_run, transcribing + ran_out);
            size_t                end   = j;
            int64_t               audio = 0;
            while (end < n && (end == j || audio < call_seconds * rate)) {
                audio += segments[end].end - segments[end].start;
                end++;
            }
            heard_batch = asr.transcribe_segments(requests(false, j, end));
        }
        const kelvo_asr::transcribe_result & heard = heard_batch[j - batch_first];
        report_off_notes(heard);
        if (!heard.success) {
            return report_error(transcribing + heard.error);
        }

        SegmentWords words = build_segment_words(heard.text, heard.word_confidence);
        if (!extra_words.empty()) {
            restore_fillers(words, extra_words, segment, rate);
        }
        std::string error;
        bool        aligned = false;
        {
            const StopReportScope scope(aligning + stopped_run, aligning + ran_out);
            aligned = align_segment(segment, samples, rate, j, n, words, heard.language, aligner, timed_words, error,
                                    opts.denoise);
        }
        if (!aligned) {
            return report_error(error);
        }
    }

    if (opts.speakers) {
        label_speakers(timed_words, voices, rate);
    }
    // Capitals, sentence marks and names, once every segment's words and times are known; never on a user's
    // transcript, whose words are written as the user wrote them.
    if (!opts.plain_words && opts.transcript.empty()) {
        write_as_people_do(timed_words, segments, samples, rate, read_name_list(vocabulary));
    }
    // A document cut short (a full disk) must not end as a success. A reader that went away is the caller's
    // choice, and the status still tells how the run went.
    errno = 0;
    write_words_document(timed_words);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno;
        if (error != EPIPE) {
            std::fprintf(stderr, "could not write the words document: %s\n",
                         error != 0 ? std::strerror(error) : "write error");
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char ** argv) {
    // A caller that stops reading a stream must not kill the run: a write to a pipe nobody reads then fails
    // and is ignored like any failed write, and the run still ends with its own exit status.
    std::signal(SIGPIPE, SIG_IGN);
    // Out of memory (or any other unexpected failure) still ends with one JSON text and status 1.
    // Nothing of the words document has been written when one can be thrown.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        return report_error("the run ran out of memory");
    } catch (const std::exception & e) {
        return report_error(std::string("internal error: ") + e.what());
    }
}
