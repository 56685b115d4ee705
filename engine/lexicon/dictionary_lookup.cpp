#include "engine/lexicon/dictionary_lookup.h"

#include <sphinxbase/ckd_alloc.h>

namespace kelvo_asr {

std::optional<std::string> lookup_phones(ps_decoder_t * ps, const std::string & word) {
    char * phones = ps_lookup_word(ps, word.c_str());
    if (phones == nullptr) {
        return std::nullopt;
    }
    std::string out = phones;
    ckd_free(phones);
    return out;
}

} // namespace kelvo_asr
