// Forced alignment: a linear word grammar built per call, decoded over the segment in one utterance,
// with wider beams and then a word-skipping grammar when the strict search does not finish, and
// interpolated zero-length times for the words that are still not placed.

#include "engine/decoder_config.h"
#include "engine/kelvo_asr.h"
#include "engine/pronunciation.h"

#include <pocketsphinx/ps_search.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/fsg_model.h>

#include <algorithm>
#include <cmath>
#include <optional>

namespace kelvo_asr {

namespace {

// Prefixes of words added at run time; no dictionary word starts with an underscore.
const char * const runtime_prefix = "_w_";
const char * const filler_prefix  = "_f_";

// Spoken fillers that the text may leave out; the grammar lets them occur anywhere between words. Their
// decoder names carry `filler_prefix`, so they are never returned as words.
const char * const filler_pronunciations[][2] = {
    { "_f_um", "AH M" },
    { "_f_uh", "AH" },
    { "_f_er", "ER" },
    { "_f_hmm", "HH M" },
};

constexpr double filler_loop_prob   = 0.01;
constexpr double word_skip_prob     = 1e-4;
constexpr double wide_beam          = 1e-80;
constexpr int    frames_per_phone   = 3;
constexpr double samples_per_second = 16000.0;
constexpr size_t words_none         = static_cast<size_t>(-1);

// One word of the text, as the grammar sees it.
struct text_word {
    std::vector<std::string> names; // decoder words for it (each may have its own alternatives)
    int                      n_phones = 0;
    bool                     silent   = false; // no sound: kept out of the grammar
};

// Where the decoder placed a word of the grammar.
struct placement {
    bool placed = false;
    int  sf     = 0;
    int  ef     = 0;
};

// Adds a faint noise floor, the same for every call: the acoustic model was trained on recordings, and
// runs of digital zeros (padding, synthetic pauses) give feature values it has never seen, which drags
// word edges into the silence. Triangular noise of at most 8 steps (about 3.3 steps RMS, -80 dBFS) lies
// below the floor of any real recording; on synthetic speech one-bit noise left the mean start error at
// 12.6 ms and this level brought it to 10.6 ms.
void add_dither(std::vector<int16_t> & pcm) {
    const double amplitude = 8.0;
    uint32_t     state     = 0x2545F491u;
    auto         uniform   = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0; // [0, 1)
    };
    for (int16_t & s : pcm) {
        const double a = uniform(); // two statements: the order of the draws is fixed
        const double b = uniform();
        const int    v = s + static_cast<int>(std::lround((a - b) * amplitude));
        s              = static_cast<int16_t>(std::clamp(v, -32768, 32767));
    }
}

// A word after a pause starts at its first frame of sound: the decoder's 10 ms frames and its silence
// model let such a word begin a little inside the pause. Quiet is judged against the segment's own
// noise floor and speech level, and a start moves by at most 100 ms. (Ends are left to the decoder:
// trimming them by energy cut the decaying ends of words.)
void move_starts_off_pauses(const float * samples, int32_t n_samples, const std::vector<bool> & placed,
                            std::vector<double> & start, std::vector<double> & end) {
    const double        length_s = n_samples / samples_per_second;
    const int32_t       hop      = 80; // 5 ms
    std::vector<double> energy;
    for (int32_t at = 0; at + hop <= n_samples; at += hop) {
        energy.push_back(rms_energy(samples + at, hop));
    }
    if (energy.size() < 4) {
        return;
    }
    std::vector<double> sorted = energy;
    std::sort(sorted.begin(), sorted.end());
    const double floor_level  = sorted[sorted.size() / 10];
    const double speech_level = sorted[sorted.size() * 9 / 10];
    const double quiet        = std::max(1.5 * floor_level, 0.01 * speech_level);
    const double max_shift    = 0.1;
    const double keep         = 0.03; // a word keeps at least this much of its time
    const double hop_s        = hop / samples_per_second;
    auto         quiet_at     = [&](double t) {
        long f = static_cast<long>(t / hop_s);
        return f >= 0 && f < static_cast<long>(energy.size()) && energy[static_cast<size_t>(f)] < quiet;
    };
    size_t previous = words_none;
    for (size_t i = 0; i < placed.size(); i++) {
        if (!placed[i]) {
            continue;
        }
        const bool pause_before = previous == words_none || end[previous] < start[i] - 1e-6;
        if (pause_before) {
            double limit = std::min(start[i] + max_shift, end[i] - keep);
            while (start[i] + hop_s <= limit && quiet_at(start[i])) {
                start[i] += hop_s;
            }
            // Sound just before the start (a nasal or a vowel the silence model took) joins the word.
            double earliest = std::max(start[i] - max_shift, previous == words_none ? 0.0 : end[previous]);
            while (start[i] - hop_s >= earliest - 1e-9 && !quiet_at(start[i] - hop_s / 2)) {
                start[i] -= hop_s;
            }
        }
        size_t next = i + 1;
        while (next < placed.size() && !placed[next]) {
            next++;
        }
        const double next_start = next < placed.size() ? start[next] : length_s;
        if (next_start > end[i] + 1e-6) {
            double limit = std::min(end[i] + max_shift, next_start);
            while (end[i] + hop_s <= limit + 1e-9 && !quiet_at(end[i] + hop_s / 2)) {
                end[i] += hop_s;
            }
        }
        previous = i;
    }
}

int count_phones(const std::string & phones) {
    int  n       = 0;
    bool in_word = false;
    for (char c : phones) {
        bool space = c == ' ';
        if (!space && !in_word) {
            n++;
        }
        in_word = !space;
    }
    return n;
}

std::vector<std::string> split_words(const std::string & text) {
    std::vector<std::string> out;
    std::string              cur;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u == ' ' || (u >= 0x09 && u <= 0x0D)) {
            if (!cur.empty()) {
                out.push_back(cur);
                cur.clear();
            }
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) {
        out.push_back(cur);
    }
    return out;
}

bool is_filler_name(const std::string & w) {
    return w.empty() || w[0] == '<' || w[0] == '[' || w[0] == '+' || w.rfind(filler_prefix, 0) == 0 || w == "(NULL)";
}

} // namespace

struct ForcedAligner::impl {
    ps_decoder_t * decoder = nullptr;
    std::string    error;
    int            frame_rate = 100;
    bool           faulted    = false; // the last decode stopped on a fault inside the decoder library

    ~impl() { release(); }

    void release() {
        if (decoder != nullptr) {
            ps_free(decoder);
            decoder = nullptr;
        }
    }

    // Phones of a dictionary word, or nullopt when the word is not there.
    std::optional<std::string> lookup(const std::string & word) {
        char * phones = ps_lookup_word(decoder, word.c_str());
        if (phones == nullptr) {
            return std::nullopt;
        }
        std::string out = phones;
        ckd_free(phones);
        return out;
    }

    // Adds (once) a run-time word for `phones` and returns its name; empty when the decoder refuses it.
    std::string runtime_word(const std::string & phones) {
        std::string name = runtime_prefix;
        for (char c : phones) {
            name += c == ' ' ? '_' : c;
        }
        if (lookup(name)) {
            return name;
        }
        if (ps_add_word(decoder, name.c_str(), phones.c_str(), FALSE) < 0) {
            return "";
        }
        return name;
    }

    // Dictionary first (all its alternatives come with the word), then numbers, then the synthesiser.
    text_word prepare(const std::string & token) {
        text_word   w;
        std::string key   = normalize_word(token);
        token_sound sound = classify_token(key);
        if (sound == token_sound::none) {
            w.silent = true;
            return w;
        }
        // The word itself, then without apostrophes at its edges, then with one added at either edge
        // ("em" is also "'em", "goin" also "goin'"); every form the dictionary holds is an alternative.
        std::string trimmed = key;
        while (!trimmed.empty() && trimmed.front() == '\'') {
            trimmed.erase(trimmed.begin());
        }
        while (!trimmed.empty() && trimmed.back() == '\'') {
            trimmed.pop_back();
        }
        std::vector<std::string> candidates = { key };
        if (!trimmed.empty()) {
            for (const std::string & c : { trimmed, "'" + trimmed, trimmed + "'" }) {
                if (std::find(candidates.begin(), candidates.end(), c) == candidates.end()) {
                    candidates.push_back(c);
                }
            }
        }
        for (const std::string & c : candidates) {
            if (std::optional<std::string> phones = lookup(c)) {
                int n      = count_phones(*phones);
                w.n_phones = w.names.empty() ? n : std::min(w.n_phones, n);
                w.names.push_back(c);
            }
        }
        if (!w.names.empty()) {
            return w;
        }
        if (sound == token_sound::spoken) {
            for (const std::vector<std::string> & reading : number_readings(key)) {
                std::string phones;
                bool        complete = true;
                for (const std::string & number_word : reading) {
                    std::optional<std::string> p = lookup(number_word);
                    complete                     = complete && p.has_value();
                    if (p) {
                        phones += (phones.empty() ? "" : " ") + *p;
                    }
                }
                if (complete && !phones.empty()) {
                    add_runtime_alternative(w, phones);
                }
            }
            if (!w.names.empty()) {
                return w;
            }
            std::string phones = map_synth_phonemes(synth_phonemes(trimmed.empty() ? key : trimmed));
            if (!phones.empty()) {
                add_runtime_alternative(w, phones);
                return w;
            }
        }
        // A script the synthesiser would only spell out, or nothing it can say: speech of some kind.
        add_runtime_alternative(w, "+SPN+");
        if (w.names.empty()) {
            w.silent = true;
        }
        return w;
    }

    void add_runtime_alternative(text_word & w, const std::string & phones) {
        std::string name = runtime_word(phones);
        if (!name.empty() && std::find(w.names.begin(), w.names.end(), name) == w.names.end()) {
            w.names.push_back(name);
            int n      = count_phones(phones);
            w.n_phones = w.n_phones == 0 ? n : std::min(w.n_phones, n);
        }
    }

    // Sets the grammar for the spoken words; `beam` of 0 keeps the configured beams.
    bool set_grammar(const std::vector<const text_word *> & words, bool may_skip, double beam) {
        cmd_ln_t * config     = ps_get_config(decoder);
        double     saved_beam = cmd_ln_float_r(config, "-beam");
        double     saved_wbm  = cmd_ln_float_r(config, "-wbeam");
        double     saved_pbm  = cmd_ln_float_r(config, "-pbeam");
        if (beam > 0) {
            cmd_ln_set_float_r(config, "-beam", beam);
            cmd_ln_set_float_r(config, "-wbeam", beam);
            cmd_ln_set_float_r(config, "-pbeam", beam);
        }
        logmath_t *   lmath       = ps_get_logmath(decoder);
        float         lw          = static_cast<float>(cmd_ln_float_r(config, "-lw"));
        const int32_t n_state     = static_cast<int32_t>(words.size()) + 1;
        fsg_model_t * fsg         = fsg_model_init("align", lmath, lw, n_state);
        fsg->start_state          = 0;
        fsg->final_state          = n_state - 1;
        const int32_t word_logp   = 0;
        const int32_t skip_logp   = static_cast<int32_t>(logmath_log(lmath, word_skip_prob) * lw);
        const int32_t filler_logp = static_cast<int32_t>(logmath_log(lmath, filler_loop_prob) * lw);
        for (size_t i = 0; i < words.size(); i++) {
            for (const std::string & name : words[i]->names) {
                int32_t wid = fsg_model_word_add(fsg, name.c_str());
                fsg_model_trans_add(fsg, static_cast<int32_t>(i), static_cast<int32_t>(i) + 1, word_logp, wid);
            }
            if (may_skip) {
                fsg_model_null_trans_add(fsg, static_cast<int32_t>(i), static_cast<int32_t>(i) + 1, skip_logp);
            }
        }
        for (const auto & filler : filler_pronunciations) {
            int32_t wid = fsg_model_word_add(fsg, filler[0]);
            for (int32_t s = 0; s < n_state; s++) {
                fsg_model_trans_add(fsg, s, s, filler_logp, wid);
            }
        }
        if (may_skip) {
            glist_free(fsg_model_null_trans_closure(fsg, nullptr));
        }
        bool ok = ps_set_fsg(decoder, "align", fsg) >= 0 && ps_set_search(decoder, "align") >= 0;
        fsg_model_free(fsg);
        cmd_ln_set_float_r(config, "-beam", saved_beam);
        cmd_ln_set_float_r(config, "-wbeam", saved_wbm);
        cmd_ln_set_float_r(config, "-pbeam", saved_pbm);
        return ok;
    }

    // Decodes `pcm` against the grammar; fills `where` for the grammar's words. False on decoder failure.
    bool decode(const std::vector<int16_t> & pcm, const std::vector<const text_word *> & words, bool may_skip,
                double beam, std::vector<placement> & where, bool & complete) {
        where.assign(words.size(), placement{});
        complete     = false;
        bool decoded = false;
        faulted      = !run_guarded([&] {
            decoded = set_grammar(words, may_skip, beam) && ps_start_utt(decoder) >= 0;
            if (decoded) {
                // The utterance is ended even when processing fails, so that the next call can start one.
                const bool processed = ps_process_raw(decoder, pcm.data(), pcm.size(), FALSE, TRUE) >= 0;
                decoded              = ps_end_utt(decoder) >= 0 && processed;
            }
        });
        if (faulted || !decoded) {
            return false;
        }
        struct found {
            std::string name;
            int         sf;
            int         ef;
        };
        std::vector<found> seq;
        if (ps_get_hyp(decoder, nullptr) == nullptr) {
            return true;
        }
        for (ps_seg_t * seg = ps_seg_iter(decoder); seg != nullptr; seg = ps_seg_next(seg)) {
            const char * raw  = ps_seg_word(seg);
            std::string  name = raw == nullptr ? "" : strip_alternative_suffix(raw);
            if (is_filler_name(name)) {
                continue;
            }
            int sf = 0;
            int ef = 0;
            ps_seg_frames(seg, &sf, &ef);
            seq.push_back({ name, sf, ef });
        }
        auto matches = [&](size_t slot, const std::string & name) {
            const std::vector<std::string> & names = words[slot]->names;
            return std::find(names.begin(), names.end(), name) != names.end();
        };
        if (seq.size() == words.size()) {
            bool all = true;
            for (size_t i = 0; i < seq.size(); i++) {
                all = all && matches(i, seq[i].name);
            }
            if (all) {
                for (size_t i = 0; i < seq.size(); i++) {
                    where[i] = { true, seq[i].sf, seq[i].ef };
                }
                complete = true;
                return true;
            }
        }
        if (!may_skip) {
            return true;
        }
        // The decoded words are a subsequence of the grammar's: line them up by longest common subsequence.
        const size_t                  n = words.size();
        const size_t                  m = seq.size();
        std::vector<std::vector<int>> lcs(n + 1, std::vector<int>(m + 1, 0));
        for (size_t i = n; i-- > 0;) {
            for (size_t j = m; j-- > 0;) {
                lcs[i][j] = matches(i, seq[j].name) ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
            }
        }
        size_t i = 0;
        size_t j = 0;
        while (i < n && j < m) {
            if (matches(i, seq[j].name) && lcs[i][j] == lcs[i + 1][j + 1] + 1) {
                where[i] = { true, seq[j].sf, seq[j].ef };
                i++;
                j++;
            } else if (lcs[i + 1][j] >= lcs[i][j + 1]) {
                i++;
            } else {
                j++;
            }
        }
        return true;
    }
};

ForcedAligner::ForcedAligner() : pimpl(std::make_unique<impl>()) {}

ForcedAligner::~ForcedAligner() = default;

bool ForcedAligner::load_model(const std::string & path) {
    pimpl->release();
    model_files files;
    if (!find_model_files(path, files, pimpl->error) || !check_model_files(files, path, false, pimpl->error)) {
        return false;
    }
    pimpl->decoder = load_decoder(make_alignment_config(files), path, pimpl->error);
    if (pimpl->decoder == nullptr) {
        return false;
    }
    pimpl->frame_rate = cmd_ln_int32_r(ps_get_config(pimpl->decoder), "-frate");
    if (pimpl->frame_rate <= 0) {
        pimpl->frame_rate = 100;
    }
    for (const auto & filler : filler_pronunciations) {
        if (ps_add_word(pimpl->decoder, filler[0], filler[1], FALSE) < 0) {
            pimpl->release();
            pimpl->error = "the aligner could not add its filler words to the model in " + path;
            return false;
        }
    }
    return true;
}

alignment_result ForcedAligner::align(const float * samples, int32_t n_samples, const std::string & text,
                                      const std::string & /*language*/) {
    alignment_result result;
    if (pimpl->decoder == nullptr) {
        result.error = "no aligner model is loaded";
        return result;
    }
    if (samples == nullptr || n_samples < 0) {
        n_samples = 0;
    }
    const std::vector<std::string> tokens = split_words(text);
    const double                   length = n_samples / samples_per_second;
    std::vector<text_word>         words;
    words.reserve(tokens.size());
    for (const std::string & t : tokens) {
        words.push_back(pimpl->prepare(t));
    }
    std::vector<const text_word *> spoken;
    std::vector<size_t>            spoken_index;
    int                            total_phones = 0;
    for (size_t i = 0; i < words.size(); i++) {
        if (!words[i].silent) {
            spoken.push_back(&words[i]);
            spoken_index.push_back(i);
            total_phones += words[i].n_phones;
        }
    }

    std::vector<placement> where(spoken.size());
    const int              n_frames  = n_samples / 160;
    const bool             decodable = !spoken.empty() && n_frames >= frames_per_phone * total_phones &&
                           rms_energy(samples, n_samples) >= silence_energy_floor;
    if (decodable) {
        std::vector<int16_t> pcm = to_pcm16(samples, n_samples);
        add_dither(pcm);
        bool complete = false;
        const struct {
            bool   may_skip;
            double beam;
        } attempts[] = { { false, 0.0 }, { false, wide_beam }, { true, wide_beam } };
        for (const auto & a : attempts) {
            if (!pimpl->decode(pcm, spoken, a.may_skip, a.beam, where, complete)) {
                if (pimpl->faulted) {
                    // The decoder's state is unknown after a fault: it is dropped, never freed or used again.
                    pimpl->decoder = nullptr;
                    result.error   = decoder_fault_text;
                    return result;
                }
                result.error = "the decoder failed on the audio";
                return result;
            }
            if (complete) {
                break;
            }
        }
    }

    // Times of the placed words; the rest are filled in below.
    const double        frame_s = 1.0 / pimpl->frame_rate;
    std::vector<bool>   placed(words.size(), false);
    std::vector<double> start(words.size(), 0.0);
    std::vector<double> end(words.size(), 0.0);
    double              last_end = 0.0;
    for (size_t k = 0; k < spoken.size(); k++) {
        if (!where[k].placed) {
            continue;
        }
        size_t i  = spoken_index[k];
        double s  = std::clamp(where[k].sf * frame_s, last_end, length);
        double e  = std::clamp((where[k].ef + 1) * frame_s, s, length);
        start[i]  = s;
        end[i]    = e;
        placed[i] = true;
        last_end  = e;
    }
    if (decodable) {
        move_starts_off_pauses(samples, n_samples, placed, start, end);
    }
    // A silent token sits at the boundary after the word before it (or before the word after it).
    for (size_t i = 0; i < words.size(); i++) {
        if (!words[i].silent) {
            continue;
        }
        if (i > 0 && placed[i - 1]) {
            start[i] = end[i] = end[i - 1];
            placed[i]         = true;
        }
    }
    for (size_t i = words.size(); i-- > 0;) {
        if (words[i].silent && !placed[i] && i + 1 < words.size() && placed[i + 1]) {
            start[i] = end[i] = start[i + 1];
            placed[i]         = true;
        }
    }
    // Runs of unplaced words get evenly spaced zero-length times between their placed neighbours.
    size_t i = 0;
    while (i < words.size()) {
        if (placed[i]) {
            i++;
            continue;
        }
        size_t j = i;
        while (j < words.size() && !placed[j]) {
            j++;
        }
        double from  = i > 0 ? end[i - 1] : 0.0;
        double to    = j < words.size() ? start[j] : length;
        to           = std::max(from, to);
        double count = static_cast<double>(j - i + 1);
        for (size_t k = i; k < j; k++) {
            double t = from + (to - from) * static_cast<double>(k - i + 1) / count;
            start[k] = end[k] = t;
        }
        i = j;
    }
    result.words.reserve(words.size());
    for (size_t k = 0; k < words.size(); k++) {
        float s = static_cast<float>(std::clamp(start[k], 0.0, length));
        float e = static_cast<float>(std::clamp(end[k], 0.0, length));
        result.words.push_back({ tokens[k], s, std::max(s, e) });
    }
    result.success = true;
    return result;
}

const std::string & ForcedAligner::last_error() const {
    return pimpl->error;
}

} // namespace kelvo_asr
