#include "formats/formats.h"

std::string path_url(std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string           out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        // Everything else could end the path (#, ?), read as a scheme (:) or an escape (%), or break the markup.
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~' ||
                           byte == '/';
        if (plain) {
            out += c;
        } else {
            out += { '%', hex[byte >> 4], hex[byte & 15] };
        }
    }
    return out;
}
