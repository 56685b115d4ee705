#include "formats/formats.h"

namespace {

const std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 when there is none.
size_t sequence_length(std::string_view s) {
    const auto          byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    size_t        length = 0;
    unsigned char low    = 0x80; // the second byte's range, narrowed for overlong forms and surrogates
    unsigned char high   = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low    = lead == 0xE0 ? 0xA0 : 0x80;
        high   = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low    = lead == 0xF0 ? 0x90 : 0x80;
        high   = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (s.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; i++) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string repair_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = sequence_length(bytes);
        if (length == 0) {
            out += replacement;
            bytes.remove_prefix(1);
            continue;
        }
        out += bytes.substr(0, length);
        bytes.remove_prefix(length);
    }
    return out;
}
