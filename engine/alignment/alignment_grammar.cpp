// The alignment grammar: the words of the text in order, each optionally skipped, with spoken fillers
// allowed between any two.

#include "engine/alignment/alignment.h"

#include <sphinxbase/fsg_model.h>

namespace kelvo_asr {

namespace {

constexpr double filler_loop_prob = 0.01;
constexpr double word_skip_prob   = 1e-4;

} // namespace

bool set_alignment_grammar(ps_decoder_t * ps, const std::vector<const text_word *> & words, alignment_pass pass) {
    // The beams in force when the grammar is set are the ones its search uses; the decoder's own are
    // put back afterwards.
    cmd_ln_t *   config     = ps_get_config(ps);
    const double saved_beam = cmd_ln_float_r(config, "-beam");
    const double saved_wbm  = cmd_ln_float_r(config, "-wbeam");
    const double saved_pbm  = cmd_ln_float_r(config, "-pbeam");
    if (pass.beam > 0) {
        cmd_ln_set_float_r(config, "-beam", pass.beam);
        cmd_ln_set_float_r(config, "-wbeam", pass.beam);
        cmd_ln_set_float_r(config, "-pbeam", pass.beam);
    }
    logmath_t *   lmath       = ps_get_logmath(ps);
    const auto    lw          = static_cast<float>(cmd_ln_float_r(config, "-lw"));
    const auto    n_state     = static_cast<int32_t>(words.size()) + 1;
    fsg_model_t * fsg         = fsg_model_init("align", lmath, lw, n_state);
    fsg->start_state          = 0;
    fsg->final_state          = n_state - 1;
    const int32_t word_logp   = 0;
    const auto    skip_logp   = static_cast<int32_t>(logmath_log(lmath, word_skip_prob) * lw);
    const auto    filler_logp = static_cast<int32_t>(logmath_log(lmath, filler_loop_prob) * lw);
    for (size_t i = 0; i < words.size(); i++) {
        const auto from = static_cast<int32_t>(i);
        for (const std::string & name : words[i]->names) {
            fsg_model_trans_add(fsg, from, from + 1, word_logp, fsg_model_word_add(fsg, name.c_str()));
        }
        if (pass.may_skip) {
            fsg_model_null_trans_add(fsg, from, from + 1, skip_logp);
        }
    }
    for (const std::string & name : alignment_filler_names()) {
        const int32_t wid = fsg_model_word_add(fsg, name.c_str());
        for (int32_t s = 0; s < n_state; s++) {
            fsg_model_trans_add(fsg, s, s, filler_logp, wid);
        }
    }
    if (pass.may_skip) {
        glist_free(fsg_model_null_trans_closure(fsg, nullptr));
    }
    const bool ok = ps_set_fsg(ps, "align", fsg) >= 0 && ps_set_search(ps, "align") >= 0;
    fsg_model_free(fsg);
    cmd_ln_set_float_r(config, "-beam", saved_beam);
    cmd_ln_set_float_r(config, "-wbeam", saved_wbm);
    cmd_ln_set_float_r(config, "-pbeam", saved_pbm);
    return ok;
}

} // namespace kelvo_asr
