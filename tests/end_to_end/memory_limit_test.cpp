// Runs under an address-space limit, as a batch host or a container sets one: wherever the memory runs out
// (the model checks, the decoder library while it loads either model, the first segment's decoding), the
// run ends with one JSON text and status 0 or 1, and a sound model folder is never called damaged.

#include "test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(MemoryLimit, EveryLimitGivesOneJsonTextAndNeverCallsASoundModelDamaged) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit here";
#endif
    const std::string audio = testdata_dir() + "/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";
    // Limits in MiB from a sweep of this clip: the speech model's load runs out at the lowest, the
    // aligner's in the middle, the first segment's decoding and statistics around 170-180.
    for (const int mib : { 48, 110, 150, 164, 172, 174, 176, 180 }) {
        SCOPED_TRACE("ulimit -v " + std::to_string(mib * 1024));
        const ProcessResult r = run_process(
            { "/bin/sh", "-c", "ulimit -v " + std::to_string(mib * 1024) + " && exec \"$@\"", "sh", asr_binary(),
              "--asr", model_dir(), "--aligner", model_dir(), "--audio", audio, "--threads", "1" });
        EXPECT_TRUE(is_valid_json(r.out)) << r.status << " " << r.out;
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
        if (r.status == 0) {
            EXPECT_EQ(r.out.rfind("{\"words\":", 0), 0u) << r.out;
        } else {
            EXPECT_EQ(r.out.rfind("{\"error\":\"", 0), 0u) << r.out;
            EXPECT_NE(r.out.find("ran out of memory"), std::string::npos) << r.out;
        }
        EXPECT_EQ(r.out.find("damaged"), std::string::npos) << r.out;
    }
}

} // namespace
