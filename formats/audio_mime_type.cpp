#include "formats/formats.h"

std::string audio_mime_type(std::string_view bytes) {
    const auto at = [&](size_t offset, std::string_view magic) {
        return bytes.size() >= offset + magic.size() && bytes.substr(offset, magic.size()) == magic;
    };
    if ((at(0, "RIFF") || at(0, "RF64")) && at(8, "WAVE")) {
        return "audio/wav";
    }
    if (at(0, "fLaC")) {
        return "audio/flac";
    }
    if (at(0, "OggS")) {
        return "audio/ogg";
    }
    // An ID3 tag, or the frame sync of an MPEG audio frame.
    if (at(0, "ID3") || (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                         (static_cast<unsigned char>(bytes[1]) & 0xE0) == 0xE0)) {
        return "audio/mpeg";
    }
    return "";
}
