// The speech frames of each piece of a recording and the voice of each, kept as runs, so that memory grows
// with the number of runs rather than with the recording's frames; and walking them in order. Private to the
// engine.

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvo_asr {

// Frames [first, end) of the recording.
struct frame_run {
    int32_t first = 0;
    int32_t end   = 0;
};

// The voice of a piece's speech frames from index `from` up to the next voice run's.
struct voice_run {
    size_t  from  = 0;
    int32_t voice = 0;
};

// The speech frames of one piece, in order, and their voices; speech frames are named by their index
// 0 .. n_frames - 1 among the piece's speech frames.
struct piece_frames {
    std::vector<frame_run> runs; // runs of consecutive speech frames, in order
    size_t                 n_frames = 0;
    std::vector<voice_run> voices; // the first from 0, each from later than the last, neighbours different
};

// A place among a piece's speech frames: the run and the index of its first frame.
struct frame_walk {
    size_t run   = 0;
    size_t first = 0;
};

// The frame of speech frame `i` (below p.n_frames) of `p`; constant time when `i` moves by little from the
// last call with the same `w`.
int32_t frame_at(const piece_frames & p, frame_walk & w, size_t i);

// Runs of voices `voices` of `n_frames` speech frames in order (from values not falling, the first 0) with
// empty runs dropped and neighbours of the same voice joined.
std::vector<voice_run> joined(const std::vector<voice_run> & voices, size_t n_frames);

// The index where the voice run at `k` of `p` ends.
size_t voice_run_end(const piece_frames & p, size_t k);

// Speech frames of each piece the recogniser would cut `n_samples` samples into: those above both the
// recording's noise floor plus a margin and its loud level less the pause rule's speech range. The margin is
// `margin_db`, or `margin_share` of the span from the floor to the loud level where that is less, so that
// speech in loud noise keeps enough frames. Pieces without speech frames are left out; every voice is 0.
std::vector<piece_frames> speech_frames(const float * samples, int32_t n_samples, double margin_db,
                                        double margin_share);

} // namespace kelvo_asr
