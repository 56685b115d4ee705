// A pool of decoders, and how many threads may use them.

#include "engine/decoders/decoder_pool.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace kelvo_asr {

namespace {

size_t processors_available() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<size_t>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace

void release_pool(decoder_pool & pool) {
    for (ps_decoder_t * d : pool.decoders) {
        if (d != nullptr) {
            ps_free(d);
        }
    }
    pool.decoders.clear();
    pool.make = nullptr;
}

size_t usable_threads(int32_t n_threads, size_t n_jobs) {
    const size_t asked = n_threads > 1 ? static_cast<size_t>(n_threads) : 1;
    return std::max<size_t>(1, std::min({ asked, n_jobs, processors_available() }));
}

} // namespace kelvo_asr
