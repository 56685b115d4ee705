// The parts of a model folder: acoustic model, language model and pronunciation dictionary.
// Private to the engine.

#pragma once

#include <string>

namespace kelvo_asr {

// The files of one model folder. An empty path means that part was not found.
struct model_files {
    std::string acoustic_model; // folder holding mdef, means, ...
    std::string language_model; // *.lm.bin, *.lm or *.DMP
    std::string dictionary;     // *.dict
    std::string language_tag;   // name of the acoustic model folder, e.g. "en-us"
};

// Finds the acoustic model, language model and dictionary in `folder`. Returns false with `error` set
// when the folder cannot be read; missing parts are left empty.
bool find_model_files(const std::string & folder, model_files & files, std::string & error);

// Checks that the parts needed are present and carry their formats' headers; false with a text naming
// the first missing or unreadable part and `folder`.
bool check_model_files(const model_files & files, const std::string & folder, bool need_language_model,
                       std::string & error);

} // namespace kelvo_asr
