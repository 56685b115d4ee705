// The passes of recognition calls: each pass decodes some of a segment's pieces on as many threads as the
// batch allows, all of them under their voice's means, so that the words are the same whichever decoder,
// thread or order decodes a piece. Passes of segments that adapt to no common voice run at the same time:
// a thread that runs out of one segment's pieces goes on with the next segment's.

#include "engine/recognition_passes.h"

#include "engine/audio/noise_suppressor.h"
#include "engine/decoders/decoder_config.h"
#include "engine/decoders/decoder_guard.h"

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

// Some pieces of one voice in a pass, decoded with the voice's means (its transform when `as_voice`), their
// statistics gathered into `gathering` when it is set.
struct voice_run {
    const std::vector<size_t> * pieces = nullptr;
    std::string                 name;
    bool                        as_voice  = false;
    stats_pass *                gathering = nullptr;
};

// Where a segment stands in the batch.
enum class segment_stage {
    waiting,  // not begun
    busy,     // one thread prepares it or ends its pass
    decoding, // its pass's pieces are handed out
    ended,
};

// A segment's state between its passes: owned by the thread that holds the batch's lock, or by the one
// thread that marked it busy.
struct segment_state {
    segment_passes *         segment = nullptr;
    std::vector<std::string> voices; // whose adaptation it may read or change
    segment_stage            stage = segment_stage::waiting;
    std::vector<voice_group> groups;
    std::vector<int16_t>     pcm; // cleaned once, so that every piece sees the same samples
    bool                     listening = false;
    std::vector<size_t>      next; // by group: the first piece not listened to yet
    // The pass under way:
    std::deque<stats_pass>                  passes;
    std::vector<std::vector<size_t>>        blocks;
    std::vector<voice_run>                  runs;
    std::vector<size_t>                     order;  // longest pieces first, run after run
    std::vector<size_t>                     run_of; // by piece
    std::vector<std::string>                keys;   // by run: which means ("" the model's own)
    std::vector<std::shared_ptr<ps_mllr_t>> means;  // by run; empty when the decoders are left as they are
    size_t                                  handed   = 0;
    size_t                                  finished = 0;
};

// The voices whose adaptation a segment may touch: none when it does not adapt.
std::vector<std::string> voices_of(const transcribe_params & params) {
    if (!params.adapt) {
        return {};
    }
    if (params.voices.empty()) {
        return { params.speaker };
    }
    std::vector<std::string> names;
    for (const voice_stretch & v : params.voices) {
        const std::string name = params.speaker + "#" + std::to_string(v.voice);
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    return names;
}

bool share_a_voice(const segment_state & a, const segment_state & b) {
    return std::any_of(a.voices.begin(), a.voices.end(), [&](const std::string & v) {
        return std::find(b.voices.begin(), b.voices.end(), v) != b.voices.end();
    });
}

// The next listening blocks of the segment: for every voice that still needs words, its next pieces from
// where it stopped, as many as the voice still needs; none when no voice does.
void next_blocks(segment_state & s, const speaker_adaptation & adaptation) {
    s.blocks.clear();
    s.runs.clear();
    s.passes.clear();
    std::vector<size_t> voice_of;
    for (size_t g = 0; g < s.groups.size(); g++) {
        const voice_group & group = s.groups[g];
        if (voice_has_transform(adaptation, group.name) || s.next[g] >= group.pieces.size()) {
            continue;
        }
        const int64_t       needed = frames_to_learn(adaptation, group.name);
        std::vector<size_t> block;
        int64_t             frames = 0;
        while (s.next[g] < group.pieces.size() && (block.empty() || frames < needed)) {
            const speech_piece & p = s.segment->pieces[group.pieces[s.next[g]]];
            frames += (p.end - p.start) / pause_rule::frame_samples;
            block.push_back(group.pieces[s.next[g]++]);
        }
        s.blocks.push_back(std::move(block));
        voice_of.push_back(g);
    }
    s.passes.resize(s.blocks.size());
    for (size_t b = 0; b < s.blocks.size(); b++) {
        s.runs.push_back({ &s.blocks[b], s.groups[voice_of[b]].name, false, nullptr });
    }
}

// Every run's pieces in one pass, run after run, each run's longest pieces first, so that the threads
// finish close together; the means of each run are taken now, as its voice stands.
void start_pass(segment_state & s, speaker_adaptation & adaptation) {
    const size_t n_pieces = s.segment->pieces.size();
    s.order.clear();
    s.run_of.assign(n_pieces, 0);
    for (size_t r = 0; r < s.runs.size(); r++) {
        std::vector<size_t> mine = *s.runs[r].pieces;
        std::stable_sort(mine.begin(), mine.end(), [&](size_t a, size_t b) {
            const std::vector<speech_piece> & p = s.segment->pieces;
            return p[a].end - p[a].start > p[b].end - p[b].start;
        });
        for (const size_t k : mine) {
            s.run_of[k] = r;
        }
        s.order.insert(s.order.end(), mine.begin(), mine.end());
    }
    s.keys.assign(s.runs.size(), std::string());
    s.means.clear();
    if (adaptation_on(adaptation)) {
        for (const voice_run & run : s.runs) {
            bool own = true;
            s.means.push_back(voice_means(adaptation, run.name, run.as_voice, own));
            s.keys[s.means.size() - 1] =
                own ? std::string() : run.name + "#" + std::to_string(adaptation.voices.find(run.name)->second.version);
        }
    }
    s.handed   = 0;
    s.finished = 0;
    s.stage    = segment_stage::decoding;
}

// The statistics of a finished piece, from the decoder that decoded it.
evidence_outcome gather(const voice_run & run, const speaker_adaptation & adaptation, ps_decoder_t * ps, size_t k,
                        const piece_audio & audio, const std::vector<heard_word> & heard) {
    std::vector<word_frames> words;
    for (const heard_word & w : heard) {
        words.push_back({ w.entry, w.frame, w.last });
    }
    return gather_piece(*run.gathering, adaptation, ps, k, audio, words);
}

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
            const bool learned = std::all_of(s.groups.begin(), s.groups.end(), [&](const voice_group & g) {
                return voice_has_transform(adaptation, g.name);
            });
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

std::vector<voice_group> group_by_voice(const std::vector<speech_piece> & pieces, const std::string & speaker,
                                        const std::vector<voice_stretch> & voices) {
    std::vector<voice_group> groups;
    for (size_t k = 0; k < pieces.size(); k++) {
        std::string name = speaker;
        if (!voices.empty()) {
            name = speaker + "#" + std::to_string(main_voice(voices, pieces[k].start, pieces[k].end));
        }
        auto g = std::find_if(groups.begin(), groups.end(), [&](const voice_group & x) { return x.name == name; });
        if (g == groups.end()) {
            groups.push_back({ name, {} });
            g = groups.end() - 1;
        }
        g->pieces.push_back(k);
    }
    return groups;
}

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
