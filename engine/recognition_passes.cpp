// A pass decodes some of a segment's pieces on as many threads as the call allows, all of them under the
// same means, so that the words are the same whichever decoder, thread or order decodes a piece.

#include "engine/recognition_passes.h"

#include "engine/decoders/decoder_config.h"
#include "engine/decoders/decoder_guard.h"

#include <algorithm>

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

// Decodes the pieces `which` (in order), longest first so that the threads finish close together, into
// `heard`, with the decoders set to the means of the voice `name` (its transform when `as_voice`). With
// `gathering`, gathers each piece's statistics as soon as it is decoded.
job_outcome decode_pieces(decoder_pool & pool, speaker_adaptation & adaptation, const segment_call & call,
                          const std::vector<size_t> & which, const std::string & name, bool as_voice,
                          stats_pass * gathering, std::vector<std::vector<heard_word>> & heard) {
    std::vector<size_t> order = which;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return call.pieces[a].end - call.pieces[a].start > call.pieces[b].end - call.pieces[b].start;
    });
    const auto make = pool.make;
    if (adaptation_on(adaptation)) {
        const job_outcome installed =
            prepare_decoders(pool, adaptation, call.params.n_threads, order.size(), name, as_voice);
        if (!installed.ok) {
            pool.make = make;
            return installed;
        }
    }
    route_decoder_log(call.params.print_log);
    const job_outcome outcome = run_jobs(pool, call.params.n_threads, order, [&](ps_decoder_t * ps, size_t k) {
        const piece_audio audio = audio_of(call.pcm, call.pieces[k]);
        heard[k].clear();
        job_outcome done = decode_piece(ps, audio, call.params.keep_noise_words, call.params.word_confidence, heard[k]);
        if (done.ok && gathering != nullptr) {
            std::vector<word_frames> words;
            for (const heard_word & w : heard[k]) {
                words.push_back({ w.entry, w.frame, w.last });
            }
            if (gather_piece(*gathering, adaptation, ps, k, audio, words) == evidence_outcome::faulted) {
                return job_outcome{ false, true, decoder_fault_text };
            }
        }
        return done;
    });
    route_decoder_log(false);
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
    std::vector<std::vector<heard_word>> heard(call.pieces.size());
    for (const voice_group & g : groups) {
        size_t next = 0;
        while (!voice_has_transform(adaptation, g.name) && next < g.pieces.size()) {
            const int64_t       needed = frames_to_learn(adaptation, g.name);
            std::vector<size_t> block;
            int64_t             frames = 0;
            while (next < g.pieces.size() && (block.empty() || frames < needed)) {
                const speech_piece & p = call.pieces[g.pieces[next]];
                frames += (p.end - p.start) / pause_rule::frame_samples;
                block.push_back(g.pieces[next++]);
            }
            stats_pass pass;
            start_listening(pass, adaptation, g.name, block, call.pieces.size());
            const job_outcome outcome = decode_pieces(pool, adaptation, call, block, g.name, false, &pass, heard);
            if (!outcome.ok) {
                return outcome;
            }
            end_pass(pass, adaptation);
        }
    }
    return {};
}

job_outcome recognize_voices(decoder_pool & pool, speaker_adaptation & adaptation, const segment_call & call,
                             const std::vector<voice_group> & groups, bool adapting,
                             std::vector<std::vector<heard_word>> & heard) {
    for (const voice_group & g : groups) {
        stats_pass        pass;
        const bool        gather = adapting && start_hearing(pass, adaptation, g.name, g.pieces, call.pieces.size());
        const job_outcome outcome =
            decode_pieces(pool, adaptation, call, g.pieces, g.name, adapting, gather ? &pass : nullptr, heard);
        if (!outcome.ok) {
            return outcome;
        }
        if (gather) {
            end_pass(pass, adaptation);
        }
    }
    return {};
}

} // namespace kelvo_asr
