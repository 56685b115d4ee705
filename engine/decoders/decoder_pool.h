// Recognition decoders made from one loaded model and shared out to threads: every decoder is used by
// one thread at a time, and threads live only for the length of one call. Private to the engine.

#pragma once

#include <pocketsphinx.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvo_asr {

// Decoders for one model. A decoder that stopped on a fault is dropped without being freed: its state is
// unknown, and freeing it could fault again.
struct decoder_pool {
    std::vector<ps_decoder_t *>     decoders; // owned; freed by `release_pool`
    std::function<ps_decoder_t *()> make;     // makes one more decoder, nullptr when it cannot
};

// Frees every decoder of `pool` and forgets how to make more.
void release_pool(decoder_pool & pool);

// The number of threads that serve `n_threads` asked for `n_jobs` jobs: at most one per job and at most
// one per processor this process may run on; at least 1.
size_t usable_threads(int32_t n_threads, size_t n_jobs);

// What one job reports: false on failure, with `faulted` set when the decoder stopped on a fault and
// must be dropped.
struct job_outcome {
    bool        ok      = true;
    bool        faulted = false;
    std::string error;
};

} // namespace kelvo_asr
