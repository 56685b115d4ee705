#include "formats/formats.h"

std::string base64_text(std::string_view bytes) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string           out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += { digits[v >> 18], digits[v >> 12 & 63], digits[v >> 6 & 63], digits[v & 63] };
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += { digits[v >> 18], digits[v >> 12 & 63], '=', '=' };
    } else if (i + 2 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += { digits[v >> 18], digits[v >> 12 & 63], digits[v >> 6 & 63], '=' };
    }
    return out;
}
