// The passes of recognition calls: each pass decodes some of a segment's pieces on as many threads as the
// batch allows, all of them under their voice's means, so that the words are the same whichever decoder,
// thread or order decodes a piece. Passes of segments that adapt to no common voice run at the same time:
// a thread that runs out of one segment's pieces goes on with the next segment's.

#include "engine/recognition_passes.h"

#include "engine/audio/noise_suppressor.h"
#include "engine/decoders/decoder_config.h"
#include "engine/decoders/decoder_guard.h"
#include "engine/segment_pass.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace kelvo_asr {

namespace {

// Segments begun and not yet ended at once, at most: each holds its cleaned samples.
constexpr size_t max_open_segments = 3;

// One batch: the segments, the lock over their stages and the adaptation's voices, and the threads' work.
struct batch {
    decoder_pool &                        pool;
    speaker_adaptation &                  adaptation;
    std::deque<segment_state>             states; // in place: a pass's statistics do not move
    std::mutex                            lock;
    std::condition_variable               changed;
    bool                                  stop        = false;
    size_t                                first_open  = 0; // segments before it have ended
    size_t                                open        = 0; // segments begun and not ended
    bool                                  means_moved = false;
    std::function<ps_decoder_t *()>       make;
    std::deque<std::pair<size_t, size_t>> returned; // pieces handed to a thread that had no decoder

    // Ends the segment `i` with `outcome` (failed: no new pass starts).
    void end_segment(size_t i, const job_outcome & outcome) {
        segment_state & s  = states[i];
        s.segment->outcome = outcome;
        s.stage            = segment_stage::ended;
        open--;
        s.pcm = {};
        s.passes.clear();
        if (!outcome.ok) {
            stop = true;
        }
        while (first_open < states.size() && states[first_open].stage == segment_stage::ended) {
            first_open++;
        }
    }

    // A segment begins once every segment before it that shares a voice with it has ended, begun or not,
    // and while few enough are open.
    bool may_begin(size_t i) const {
        if (open >= max_open_segments) {
            return false;
        }
        for (size_t j = first_open; j < i; j++) {
            if (states[j].stage != segment_stage::ended && share_a_voice(states[j], states[i])) {
                return false;
            }
        }
        return true;
    }

    // Prepares the segment `i`, marked busy by the caller, with `held` locked: cut, grouped and cleaned, its
    // first pass started, or ended when there is nothing to decode.
    void prepare(size_t i, std::unique_lock<std::mutex> & held) {
        segment_state &           s      = states[i];
        segment_passes &          seg    = *s.segment;
        const transcribe_params & params = *seg.params;
        held.unlock();
        // The cut is made on the samples as given: on cleaned ones it came out no better.
        seg.pieces = cut_at_pauses(seg.samples, seg.n_samples);
        s.groups   = group_by_voice(seg.pieces, params.speaker, params.voices);
        held.lock();
        s.listening = params.listen_only;
        if (params.listen_only) {
            const bool learned = std::all_of(s.groups.begin(), s.groups.end(),
                                             [&](const voice_group & g) { return voice_settled(adaptation, g.name); });
            if (!params.adapt || !adaptation_on(adaptation) || learned) {
                end_segment(i, {}); // nothing left to learn
                return;
            }
        }
        if (seg.pieces.empty()) {
            end_segment(i, {}); // noise without speech
            return;
        }
        held.unlock();
        s.pcm = clean_segment(seg.samples, seg.n_samples, params.denoise);
        held.lock();
        if (s.listening) {
            // Every voice that still needs words listens to its next block in the same pass: all are decoded
            // with the model's own means, and each voice's blocks and statistics are what they would be on
            // its own.
            s.next.assign(s.groups.size(), 0);
            next_blocks(s, adaptation);
            for (size_t b = 0; b < s.blocks.size(); b++) {
                start_listening(s.passes[b], adaptation, s.runs[b].name, s.blocks[b], seg.pieces.size());
                s.runs[b].gathering = &s.passes[b];
            }
        } else {
            // Every voice's pieces in one pass, each decoded with its voice's transform as it stood before the
            // segment; each voice's statistics are its own, so the transforms come out as if the voices took
            // turns.
            const bool adapting = params.adapt && adaptation_on(adaptation);
            seg.heard.assign(seg.pieces.size(), {});
            s.passes.resize(s.groups.size());
            s.runs.clear();
            for (size_t g = 0; g < s.groups.size(); g++) {
                const bool gather = adapting && start_hearing(s.passes[g], adaptation, s.groups[g].name,
                                                              s.groups[g].pieces, seg.pieces.size());
                s.runs.push_back({ &s.groups[g].pieces, s.groups[g].name, adapting, gather ? &s.passes[g] : nullptr });
            }
        }
        if (s.runs.empty()) {
            end_segment(i, {});
            return;
        }
        start_pass(s, adaptation);
    }

    // Ends the pass of the segment `i`, marked busy by the caller, with `held` locked: the voices' transforms
    // are solved again, and the next listening pass starts or the segment ends.
    void end_pass_of(size_t i, std::unique_lock<std::mutex> & held) {
        segment_state & s = states[i];
        held.unlock();
        // Only this segment's voices are touched: no other segment that adapts to them is open.
        for (const voice_run & run : s.runs) {
            if (run.gathering != nullptr) {
                end_pass(*run.gathering, adaptation);
            }
        }
        held.lock();
        if (!s.listening || stop) {
            end_segment(i, {});
            return;
        }
        next_blocks(s, adaptation);
        if (s.blocks.empty()) {
            end_segment(i, {});
            return;
        }
        for (size_t b = 0; b < s.blocks.size(); b++) {
            start_listening(s.passes[b], adaptation, s.runs[b].name, s.blocks[b], s.segment->pieces.size());
            s.runs[b].gathering = &s.passes[b];
        }
        start_pass(s, adaptation);
    }

    // Decodes piece `k` of the segment `i` with `ps`, which holds the means `held_means` (updated).
    job_outcome decode(size_t i, size_t k, ps_decoder_t * ps, std::string & held_means) {
        segment_state &   s   = states[i];
        const size_t      r   = s.run_of[k];
        const voice_run & run = s.runs[r];
        if (!s.means.empty() && held_means != s.keys[r]) {
            held_means      = "?"; // unknown until set
            job_outcome set = set_decoder_means(ps, s.means[r]);
            if (!set.ok) {
                return set;
            }
            held_means = s.keys[r];
        }
        const segment_passes &    seg   = *s.segment;
        const piece_audio         audio = audio_of(s.pcm, seg.pieces[k]);
        std::vector<heard_word>   local;
        std::vector<heard_word> & words = s.listening ? local : s.segment->heard[k];
        words.clear();
        job_outcome done = decode_piece(ps, audio, seg.params->keep_noise_words, seg.params->word_confidence, words);
        if (done.ok && run.gathering != nullptr &&
            gather(run, adaptation, ps, k, audio, words) == evidence_outcome::faulted) {
            return job_outcome{ false, true, decoder_fault_text };
        }
        return done;
    }

    // One thread's work: worker 0 uses the pool's first decoder, the others make their own on first need.
    void work(size_t worker) {
        ps_decoder_t *               ps = nullptr;
        std::string                  held_means;
        std::unique_lock<std::mutex> held(lock);
        if (worker < pool.decoders.size()) {
            ps         = pool.decoders[worker];
            held_means = adaptation.installed_version == -1 ? std::string() : "?";
        }
        for (;;) {
            if (stop) {
                return;
            }
            // The earliest segment's pieces first; then a segment to prepare.
            size_t i    = states.size();
            size_t k    = 0;
            bool   part = false; // a piece to decode (else a segment to prepare)
            if (!returned.empty() && ps != nullptr) {
                std::tie(i, k) = returned.front();
                returned.pop_front();
                part = true;
            }
            for (size_t j = first_open; !part && j < states.size(); j++) {
                segment_state & s = states[j];
                if (s.stage == segment_stage::decoding && s.handed < s.order.size()) {
                    i    = j;
                    k    = s.order[s.handed++];
                    part = true;
                } else if (s.stage == segment_stage::waiting && may_begin(j)) {
                    i       = j;
                    s.stage = segment_stage::busy;
                    open++;
                    break;
                }
            }
            if (i == states.size()) {
                if (first_open == states.size()) {
                    return;
                }
                changed.wait(held);
                continue;
            }
            if (!part) {
                prepare(i, held);
                changed.notify_all();
                continue;
            }
            if (ps == nullptr) {
                held.unlock();
                ps_decoder_t * made = make ? make() : nullptr;
                held.lock();
                if (made == nullptr) {
                    // The others do the work.
                    returned.emplace_back(i, k);
                    changed.notify_all();
                    return;
                }
                pool.decoders.push_back(made);
                ps = made;
            }
            held.unlock();
            job_outcome outcome;
            try {
                outcome = decode(i, k, ps, held_means);
            } catch (const std::bad_alloc &) {
                outcome = { false, false, "the recogniser ran out of memory" };
            }
            held.lock();
            if (held_means != std::string()) {
                means_moved = true;
            }
            segment_state & s = states[i];
            s.finished++;
            if (!outcome.ok) {
                if (outcome.faulted) {
                    std::erase(pool.decoders, ps); // dropped unfreed: its state is unknown
                }
                if (s.stage != segment_stage::ended) {
                    end_segment(i, outcome);
                }
                changed.notify_all();
                return;
            }
            if (stop) {
                changed.notify_all();
                return;
            }
            if (s.finished == s.order.size()) {
                s.stage = segment_stage::busy;
                end_pass_of(i, held);
            }
            changed.notify_all();
        }
    }
};

} // namespace

void run_segment_passes(decoder_pool & pool, speaker_adaptation & adaptation, std::vector<segment_passes> & segments) {
    if (segments.empty()) {
        return;
    }
    batch b{ pool, adaptation, {}, {}, {}, false, 0, 0, false, pool.make, {} };
    for (segment_passes & seg : segments) {
        segment_state & s = b.states.emplace_back();
        s.segment         = &seg;
        s.voices          = voices_of(*seg.params);
        if (adaptation_on(adaptation)) {
            for (const std::string & v : s.voices) {
                adaptation.voices[v]; // made now, so that the voices' map keeps its shape while threads read it
            }
        }
    }
    if (pool.decoders.empty() && pool.make) {
        ps_decoder_t * first = pool.make();
        if (first != nullptr) {
            pool.decoders.push_back(first);
        }
    }
    if (pool.decoders.empty()) {
        for (segment_passes & seg : segments) {
            seg.outcome = { false, false, "no decoder could be made for the speech model" };
        }
        return;
    }
    const size_t n_threads = usable_threads(segments.front().params->n_threads, static_cast<size_t>(-1));
    route_decoder_log(segments.front().params->print_log);
    std::vector<std::thread> threads;
    for (size_t w = 1; w < n_threads; w++) {
        try {
            threads.emplace_back([&b, w] { b.work(w); });
        } catch (const std::system_error &) {
            break; // the system refuses more threads: those started and this one do the work
        }
    }
    b.work(0);
    for (std::thread & t : threads) {
        t.join();
    }
    route_decoder_log(false);
    if (b.means_moved) {
        forget_installed_means(adaptation);
    }
    // A segment left unended by a failure before it fails too.
    for (segment_state & s : b.states) {
        if (s.stage != segment_stage::ended) {
            s.segment->outcome = { false, false, "the recognition stopped on an earlier failure" };
        }
    }
}

} // namespace kelvo_asr
