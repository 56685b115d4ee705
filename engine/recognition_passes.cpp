// A pass decodes some of a segment's pieces on as many threads as the call allows, all of them under the
// same means, so that the words are the same whichever decoder, thread or order decodes a piece.

#include "engine/recognition_passes.h"

#include "engine/decoders/decoder_config.h"
#include "engine/decoders/decoder_guard.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>

namespace kelvo_asr {

namespace {

// Makes every decoder the pass will use before it starts and sets them to the voice `name`'s means (its
// transform when `as_voice`), so that all of them hold the same means; stops the pool making more during
// the pass (`make` is what it made them with).
job_outcome prepare_decoders(decoder_pool & pool, speaker_adaptation & adaptation, int32_t n_threads, size_t n_jobs,
                             const std::string & name, bool as_voice) {
    const size_t wanted = usable_threads(n_threads, n_jobs);
    while (pool.decoders.size() < wanted && pool.make) {
        ps_decoder_t * d = pool.make();
        if (d == nullptr) {
            break;
        }
        pool.decoders.push_back(d);
    }
    pool.make = nullptr;
    return install_voice(pool.decoders, adaptation, name, as_voice);
}

// Some pieces of one voice in a pass, decoded with the voice's means (its transform when `as_voice`), their
// statistics gathered into `gathering` when it is set.
struct voice_run {
    const std::vector<size_t> * pieces = nullptr;
    std::string                 name;
    bool                        as_voice  = false;
    stats_pass *                gathering = nullptr;
};

// Decodes every run's pieces into `heard` in one set of jobs: run after run, each run's longest pieces first,
// so that a thread that runs out of one voice's pieces goes on with the next voice's while the others
// finish, and the threads finish close together. A piece is decoded with its run's means whichever
// decoder takes it: a decoder is set to the next run's means when it first takes one of its pieces. Each
// piece's statistics are gathered as soon as it is decoded.
job_outcome decode_pieces(decoder_pool & pool, speaker_adaptation & adaptation, const segment_call & call,
                          const std::vector<voice_run> & runs, std::vector<std::vector<heard_word>> & heard) {
    std::vector<size_t> order;
    std::vector<size_t> run_of(call.pieces.size(), 0);
    for (size_t r = 0; r < runs.size(); r++) {
        std::vector<size_t> mine = *runs[r].pieces;
        std::stable_sort(mine.begin(), mine.end(), [&](size_t a, size_t b) {
            return call.pieces[a].end - call.pieces[a].start > call.pieces[b].end - call.pieces[b].start;
        });
        for (const size_t k : mine) {
            run_of[k] = r;
        }
        order.insert(order.end(), mine.begin(), mine.end());
    }
    if (order.empty()) {
        return {};
    }
    // The means of each run, as the first run that shares them: runs of one means need no change between them.
    std::vector<size_t>                     means_of(runs.size(), 0);
    std::vector<std::shared_ptr<ps_mllr_t>> means(runs.size());
    std::map<ps_decoder_t *, size_t>        held; // each decoder's means, by run; written by its own thread
    const auto                              make     = pool.make;
    bool                                    switches = false;
    if (adaptation_on(adaptation)) {
        job_outcome installed = prepare_decoders(pool, adaptation, call.params.n_threads, order.size(),
                                                 runs.front().name, runs.front().as_voice);
        if (!installed.ok) {
            pool.make = make;
            return installed;
        }
        // The first run's means are on every decoder now; of them only the model's own can be needed again.
        std::vector<std::string> keys(runs.size());
        keys[0]  = adaptation.installed_voice.empty() ? std::string() : "#" + adaptation.installed_voice;
        means[0] = adaptation.identity;
        for (size_t r = 1; r < runs.size(); r++) {
            bool own    = true;
            means[r]    = voice_means(adaptation, runs[r].name, runs[r].as_voice, own);
            keys[r]     = own ? std::string() : "#" + runs[r].name;
            means_of[r] = static_cast<size_t>(
                std::find(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(r), keys[r]) - keys.begin());
            switches = switches || means_of[r] != 0;
        }
        for (ps_decoder_t * d : pool.decoders) {
            held[d] = 0;
        }
    }
    route_decoder_log(call.params.print_log);
    job_outcome outcome = run_jobs(pool, call.params.n_threads, order, [&](ps_decoder_t * ps, size_t k) {
        const voice_run & run = runs[run_of[k]];
        if (switches) {
            size_t &     on     = held.at(ps);
            const size_t wanted = means_of[run_of[k]];
            if (on != wanted) {
                on              = wanted;
                job_outcome set = set_decoder_means(ps, means[wanted]);
                if (!set.ok) {
                    return set;
                }
            }
        }
        const piece_audio audio = audio_of(call.pcm, call.pieces[k]);
        heard[k].clear();
        job_outcome done = decode_piece(ps, audio, call.params.keep_noise_words, call.params.word_confidence, heard[k]);
        if (done.ok && run.gathering != nullptr) {
            std::vector<word_frames> words;
            for (const heard_word & w : heard[k]) {
                words.push_back({ w.entry, w.frame, w.last });
            }
            if (gather_piece(*run.gathering, adaptation, ps, k, audio, words) == evidence_outcome::faulted) {
                return job_outcome{ false, true, decoder_fault_text };
            }
        }
        return done;
    });
    route_decoder_log(false);
    if (switches) {
        forget_installed_means(adaptation);
    }
    pool.make = make;
    return outcome;
}

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

job_outcome listen_to_voices(decoder_pool & pool, speaker_adaptation & adaptation, const segment_call & call,
                             const std::vector<voice_group> & groups) {
    // Every voice that still needs words listens to its next block in the same pass: all are decoded with
    // the model's own means, and each voice's blocks and statistics are what they would be on its own.
    std::vector<std::vector<heard_word>> heard(call.pieces.size());
    std::vector<size_t>                  next(groups.size(), 0);
    for (;;) {
        std::vector<std::vector<size_t>> blocks;
        std::vector<size_t>              voice_of;
        for (size_t g = 0; g < groups.size(); g++) {
            const voice_group & group = groups[g];
            if (voice_has_transform(adaptation, group.name) || next[g] >= group.pieces.size()) {
                continue;
            }
            const int64_t       needed = frames_to_learn(adaptation, group.name);
            std::vector<size_t> block;
            int64_t             frames = 0;
            while (next[g] < group.pieces.size() && (block.empty() || frames < needed)) {
                const speech_piece & p = call.pieces[group.pieces[next[g]]];
                frames += (p.end - p.start) / pause_rule::frame_samples;
                block.push_back(group.pieces[next[g]++]);
            }
            blocks.push_back(std::move(block));
            voice_of.push_back(g);
        }
        if (blocks.empty()) {
            return {};
        }
        std::deque<stats_pass> passes(blocks.size());
        std::vector<voice_run> runs;
        for (size_t b = 0; b < blocks.size(); b++) {
            const std::string & name = groups[voice_of[b]].name;
            start_listening(passes[b], adaptation, name, blocks[b], call.pieces.size());
            runs.push_back({ &blocks[b], name, false, &passes[b] });
        }
        job_outcome outcome = decode_pieces(pool, adaptation, call, runs, heard);
        if (!outcome.ok) {
            return outcome;
        }
        for (stats_pass & pass : passes) {
            end_pass(pass, adaptation);
        }
    }
}

job_outcome recognize_voices(decoder_pool & pool, speaker_adaptation & adaptation, const segment_call & call,
                             const std::vector<voice_group> & groups, bool adapting,
                             std::vector<std::vector<heard_word>> & heard) {
    // Every voice's pieces in one pass, each decoded with its voice's transform as it stood before the call;
    // each voice's statistics are its own, so the transforms come out as if the voices took turns.
    std::deque<stats_pass> passes(groups.size());
    std::vector<voice_run> runs;
    for (size_t g = 0; g < groups.size(); g++) {
        const bool gather =
            adapting && start_hearing(passes[g], adaptation, groups[g].name, groups[g].pieces, call.pieces.size());
        runs.push_back({ &groups[g].pieces, groups[g].name, adapting, gather ? &passes[g] : nullptr });
    }
    job_outcome outcome = decode_pieces(pool, adaptation, call, runs, heard);
    if (!outcome.ok) {
        return outcome;
    }
    for (const voice_run & run : runs) {
        if (run.gathering != nullptr) {
            end_pass(*run.gathering, adaptation);
        }
    }
    return {};
}

} // namespace kelvo_asr
