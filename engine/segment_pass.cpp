// The setup of each recognition pass of a segment: the pieces grouped by voice, the voices a segment may
// adapt, its listening blocks, and the order and means its pieces are decoded with.

#include "engine/segment_pass.h"

#include <algorithm>

namespace kelvo_asr {

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
        if (voice_settled(adaptation, group.name) || s.next[g] >= group.pieces.size()) {
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

} // namespace kelvo_asr
