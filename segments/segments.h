// segments: the optional input files and the plan of which stretches of the recording to transcribe.
//
// Nothing here fails or reports: an unreadable file is an empty one, and every input yields a plan.

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One accepted record of the turns file: a speaker turn, end > start, times in seconds.
struct Turn {
    double start;
    double end;
    char   label; // first byte of the record's label, case as written
};

// One record of the extra-words file: a word heard by another source, and when.
struct ExtraWord {
    double      time; // seconds from the start of the recording; any value, negative and NaN included
    std::string text; // the word exactly as written
};

// One stretch of the recording to transcribe: samples [start, end) of the whole recording.
struct Segment {
    int32_t start;
    int32_t end;
    char    label; // label of the turn it was cut from; 0 when planned without turns
};

// One piece of a split stretch: samples [start, end) relative to the stretch's first sample.
struct AudioPiece {
    int32_t start;
    int32_t end;
};

//
// Input files
//

// Reads (time, word) records in file order, numbers in the classic locale; stops at the first incomplete or
// malformed record (a number out of the double range, nan and inf included). An empty path touches no file;
// an unreadable file or a directory gives an empty list, and so does a FIFO that no process writes to, at once.
std::vector<ExtraWord> read_extra_words(const std::string & path);

// Reads (start, end, label) records in file order, keeping those with end > start; otherwise as
// read_extra_words. Only the first byte of a label is kept, whatever the label's length.
std::vector<Turn> read_turns(const std::string & path);

//
// Planning
//

// Cuts `samples` into consecutive pieces of at most 38 s, each cut in the middle of the quietest 50 ms
// window 22 to 38 s after the piece's start. Returns a tiling of 0 ... size in order; never empty. Reads the
// samples in place. A size beyond the 32-bit range counts as INT32_MAX; a rate <= 0 gives the one piece.
std::vector<AudioPiece> split_long_audio(std::span<const float> samples, int32_t rate);

// Plans the segments: without turns the whole recording split into pieces labelled 0; with turns each
// turn widened into the gaps to its file neighbours, clamped, dropped under 0.1 s and split. Returns the
// segments turn by turn in file order, every one inside 0 ... samples.size(). Sample positions beyond the
// 32-bit range saturate before the clamp; a turn with a NaN time yields no segment.
std::vector<Segment> plan_segments(const std::vector<Turn> & turns, std::span<const float> samples, int32_t rate);

// Plans the segments of a recording without turns but with known changes of voice (sample positions, in
// order): the whole recording cut at each change, every part split as without turns and labelled 0. Returns
// a tiling of 0 ... samples.size() (clamped as `plan_segments` clamps); changes outside it are ignored.
std::vector<Segment> plan_segments_at(const std::vector<int32_t> & changes, std::span<const float> samples,
                                      int32_t rate);
