// A pool of decoders and the threads that use them for one call.

#include "engine/decoders/decoder_pool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <system_error>
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

job_outcome run_jobs(decoder_pool & pool, int32_t n_threads, const std::vector<size_t> & order,
                     const std::function<job_outcome(ps_decoder_t *, size_t)> & job) {
    const size_t wanted = usable_threads(n_threads, order.size());
    while (pool.decoders.size() < wanted && pool.make) {
        ps_decoder_t * d = pool.make();
        if (d == nullptr) {
            break; // fewer decoders than threads asked for: the others do the work
        }
        pool.decoders.push_back(d);
    }
    if (pool.decoders.empty()) {
        return { false, false, "no decoder could be made for the speech model" };
    }
    const size_t n_workers = std::min(wanted, pool.decoders.size());

    std::atomic<size_t>      next{ 0 };
    std::atomic<bool>        stop{ false };
    std::vector<job_outcome> failures(order.size());
    std::vector<char>        faulted(n_workers, 0); // one byte per worker: written by its own thread
    auto                     work = [&](size_t worker) {
        for (size_t k = next++; k < order.size() && !stop; k = next++) {
            job_outcome outcome;
            try {
                outcome = job(pool.decoders[worker], order[k]);
            } catch (const std::bad_alloc &) {
                outcome = { false, false, "the recogniser ran out of memory" };
            }
            if (!outcome.ok) {
                faulted[worker] = outcome.faulted ? 1 : 0;
                failures[k]     = outcome;
                stop            = true;
                return;
            }
        }
    };

    std::vector<std::thread> threads;
    for (size_t w = 1; w < n_workers; w++) {
        try {
            threads.emplace_back(work, w);
        } catch (const std::system_error &) {
            break; // the system refuses more threads: those started and this one do the work
        }
    }
    work(0);
    for (std::thread & t : threads) {
        t.join();
    }

    // Faulted decoders leave the pool, unfreed.
    std::vector<ps_decoder_t *> kept;
    for (size_t w = 0; w < pool.decoders.size(); w++) {
        if (w >= n_workers || faulted[w] == 0) {
            kept.push_back(pool.decoders[w]);
        }
    }
    pool.decoders = std::move(kept);
    for (const job_outcome & f : failures) {
        if (!f.ok) {
            return f;
        }
    }
    return {};
}

} // namespace kelvo_asr
