// The WAV reader on arbitrary bytes written to a file: it either refuses the file or returns a positive
// rate and mono samples that are all finite and inside [-1, 1].

#include "engine/kelvo_asr.h"
#include "fuzz_support.h"

#include <cmath>
#include <limits>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    static ScratchFile  file("audio");
    const std::string & path = file.write(data, size);

    std::vector<float> samples;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(path, samples, rate)) {
        return 0;
    }
    FUZZ_CHECK(rate >= 1);
    FUZZ_CHECK(samples.size() <= static_cast<size_t>(std::numeric_limits<int32_t>::max()));
    for (float v : samples) {
        FUZZ_CHECK(std::isfinite(v) && v >= -1.0f && v <= 1.0f);
    }
    return 0;
}
