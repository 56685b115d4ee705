// The suppressor is the signal library's preprocessor with only its denoiser on, run over the whole segment
// once, so that every piece sees the same cleaned samples whatever thread decodes it.

#include "engine/audio/noise_suppressor.h"
#include "engine/audio/samples.h"
#include "engine/kelvo_asr.h"

#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace kelvo_asr {

namespace {

struct preprocessor_free {
    void operator()(SpeexPreprocessState * st) const { speex_preprocess_state_destroy(st); }
};

void set_option(SpeexPreprocessState * st, int request, int value) {
    speex_preprocess_ctl(st, request, &value);
}

} // namespace

double noise_reduction_db(const sound_levels & levels) {
    using namespace suppression_rule;
    const double gap = levels.speech_db - levels.floor_db;
    if (!(gap < clean_snr_db)) {
        return 0.0; // also for NaN levels
    }
    const double share = std::min(1.0, (clean_snr_db - gap) / (clean_snr_db - full_snr_db));
    return max_reduce_db * share;
}

std::vector<int16_t> suppress_noise(const std::vector<int16_t> & pcm, double reduce_db) {
    using namespace suppression_rule;
    const auto level = static_cast<int>(std::lround(std::min(reduce_db, max_reduce_db)));
    if (pcm.empty() || level <= 0) {
        return pcm;
    }
    const std::unique_ptr<SpeexPreprocessState, preprocessor_free> st(
        speex_preprocess_state_init(frame_samples, sample_rate));
    if (!st) {
        return pcm;
    }
    // Gain control, voice detection and dereverberation are off from the start; setting voice detection
    // at all prints a warning on standard error, which belongs to the tool's progress lines.
    set_option(st.get(), SPEEX_PREPROCESS_SET_DENOISE, 1);
    set_option(st.get(), SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, -level);

    const size_t             f = frame_samples;
    std::vector<spx_int16_t> frame(f);
    // Settling: the opening frames are run through and their output dropped.
    const size_t n_warm = std::min(pcm.size(), static_cast<size_t>(warm_up_samples)) / f * f;
    for (size_t at = 0; at < n_warm; at += f) {
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(at), f, frame.begin());
        speex_preprocess_run(st.get(), frame.data());
    }
    // The output lags the input by one frame: one frame more is fed (zeros after the end) and the first
    // frame out dropped.
    std::vector<int16_t> out(pcm.size() + 2 * f);
    for (size_t at = 0; at < pcm.size() + f; at += f) {
        std::fill(frame.begin(), frame.end(), 0);
        if (at < pcm.size()) {
            std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(at), std::min(f, pcm.size() - at), frame.begin());
        }
        speex_preprocess_run(st.get(), frame.data());
        std::copy(frame.begin(), frame.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return { out.begin() + static_cast<std::ptrdiff_t>(f), out.begin() + static_cast<std::ptrdiff_t>(f + pcm.size()) };
}

std::vector<int16_t> clean_segment(const float * samples, int32_t n_samples, bool denoise) {
    std::vector<int16_t> pcm = to_pcm16(samples, n_samples);
    if (denoise) {
        const sound_levels levels =
            measure_levels(samples, n_samples, suppression_rule::floor_percentile, pause_rule::loud_percentile);
        pcm = suppress_noise(pcm, noise_reduction_db(levels));
    }
    add_noise_floor(pcm);
    return pcm;
}

noise_levels measure_noise(const float * samples, int32_t n_samples) {
    if (samples == nullptr || n_samples <= 0) {
        return {};
    }
    const sound_levels levels =
        measure_levels(samples, n_samples, suppression_rule::floor_percentile, pause_rule::loud_percentile);
    const sound_levels quiet = measure_levels(samples, n_samples, pause_rule::floor_percentile, 50);
    return { levels.speech_db - levels.floor_db, quiet.floor_db - levels.floor_db };
}

} // namespace kelvo_asr
