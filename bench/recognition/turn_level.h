// The level of the speech in a recording: the samples inside a turns file's turns.
#pragma once

#include "wav_io.h"

#include <string>

// Returns the RMS of the samples of `audio` inside the turns of the file `turns` (`start end ...` lines in
// seconds; other lines skipped), or -1 when the turns hold no samples or the file cannot be read.
double speech_rms_in_turns(const Pcm16 & audio, const std::string & turns);
