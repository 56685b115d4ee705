// Frame levels are computed again for each pass over them (a frame's level is 160 multiplications), and the
// percentiles found by radix selection, so that no per-frame value is kept.

#include "engine/speakers/voice_frames.h"

#include "engine/audio/kth_smallest.h"
#include "engine/audio/pause_cutter.h"
#include "engine/speakers/cepstra.h"

#include <algorithm>
#include <utility>

namespace kelvo_asr {

int32_t frame_at(const piece_frames & p, frame_walk & w, size_t i) {
    while (i < w.first) {
        w.run--;
        w.first -= static_cast<size_t>(p.runs[w.run].end - p.runs[w.run].first);
    }
    while (i >= w.first + static_cast<size_t>(p.runs[w.run].end - p.runs[w.run].first)) {
        w.first += static_cast<size_t>(p.runs[w.run].end - p.runs[w.run].first);
        w.run++;
    }
    return p.runs[w.run].first + static_cast<int32_t>(i - w.first);
}

std::vector<voice_run> joined(const std::vector<voice_run> & voices, size_t n_frames) {
    std::vector<voice_run> out;
    for (size_t k = 0; k < voices.size(); k++) {
        if (voices[k].from >= (k + 1 < voices.size() ? voices[k + 1].from : n_frames)) {
            continue; // empty
        }
        if (out.empty() || out.back().voice != voices[k].voice) {
            out.push_back(voices[k]);
        }
    }
    if (!out.empty()) {
        out.front().from = 0;
    }
    return out;
}

size_t voice_run_end(const piece_frames & p, size_t k) {
    return k + 1 < p.voices.size() ? p.voices[k + 1].from : p.n_frames;
}

std::vector<piece_frames> speech_frames(const float * samples, int32_t n_samples, double margin_db,
                                        double margin_share) {
    std::vector<piece_frames> out;
    const int32_t             n_frames = voice_frame_count(n_samples);
    if (n_frames == 0) {
        return out;
    }
    const auto replay = [&](const auto & sink) {
        for (int32_t f = 0; f < n_frames; f++) {
            sink(frame_level_db(samples, n_samples, f));
        }
    };
    const auto               last = static_cast<double>(n_frames - 1);
    const std::vector<float> at =
        kth_smallest<float>(replay, { static_cast<size_t>(pause_rule::floor_percentile / 100.0 * last),
                                      static_cast<size_t>(pause_rule::loud_percentile / 100.0 * last) });
    const double floor     = at[0];
    const double loud      = at[1];
    const double margin    = std::min(margin_db, margin_share * (loud - floor));
    const double threshold = std::max(floor + margin, loud - pause_rule::speech_range_db);
    for (const speech_piece & p : cut_at_pauses(samples, n_samples)) {
        piece_frames pf;
        const auto   end = static_cast<int32_t>(std::min<int64_t>(
            n_frames, (static_cast<int64_t>(p.end) + pause_rule::frame_samples - 1) / pause_rule::frame_samples));
        for (int32_t f = p.start / pause_rule::frame_samples; f < end; f++) {
            if (frame_level_db(samples, n_samples, f) > threshold) {
                if (pf.runs.empty() || pf.runs.back().end != f) {
                    pf.runs.push_back({ f, f });
                }
                pf.runs.back().end = f + 1;
                pf.n_frames++;
            }
        }
        if (pf.n_frames > 0) {
            pf.voices.push_back({ 0, 0 });
            out.push_back(std::move(pf));
        }
    }
    return out;
}

} // namespace kelvo_asr
