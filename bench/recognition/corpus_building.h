// Building benchmark recordings: joining synthesised turns with pauses, and adding white noise.
#pragma once

#include <string>

// Joins the turns named in LIST (records `speaker wav words`, the words file holding `word start end ...`
// records in the turn's own time) into PREFIX.wav with 0.5 s of leading silence and pauses of 0.3 to 1.5 s
// of digital silence between turns, drawn from a generator seeded by PREFIX's file name. With timed, also
// writes PREFIX.ref, PREFIX.turns and PREFIX.extra; PREFIX.txt always. Returns a process exit status.
int join_turns(const std::string & list, const std::string & prefix, bool timed);

// Adds white noise from a fixed-seed generator to IN, SNR_DB below the RMS of the samples inside the
// turns of TURNS, and writes OUT. Returns a process exit status.
int add_white_noise(const std::string & in, const std::string & turns, double snr_db, const std::string & out);
