// Building benchmark recordings: joining synthesised turns with pauses, and adding white noise.
#pragma once

#include <string>

// Joins the turns named in LIST (records `speaker wav words`, the words file holding `word start end ...`
// records in the turn's own time) into PREFIX.wav with 0.5 s of leading silence and pauses of 0.3 to 1.5 s
// of digital silence between turns, drawn from a generator seeded by PREFIX's file name. With timed, also
// writes PREFIX.ref, PREFIX.turns and PREFIX.extra; PREFIX.txt always. Gaps other than the default pauses
// (MIN_GAP .. MAX_GAP seconds, drawn the same way, from the last word of a turn to the first of the next;
// below 0 the turns overlap and their samples are added) make quick turn-taking. Returns an exit status.
int join_turns(const std::string & list, const std::string & prefix, bool timed, double min_gap = 0.3,
               double max_gap = 0.3);

// Writes OUT: the recording IN with white noise mixed in, its level SNR_DB under the level of the speech
// (the samples that TURNS marks as turns). The noise is the same on every run. Returns a process exit status.
// With `noise_wav`, that recording (looped) is the noise instead, brought to the same level.
int add_white_noise(const std::string & in, const std::string & turns, double snr_db, const std::string & out,
                    const std::string & noise_wav = "");
