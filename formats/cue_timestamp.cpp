#include "formats/formats.h"

#include <cmath>
#include <cstdio>

std::string cue_timestamp(double seconds, char separator) {
    const long long ms = seconds > 0 ? std::llround(seconds * 1000.0) : 0;
    char            text[64];
    std::snprintf(text, sizeof(text), "%02lld:%02lld:%02lld%c%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  separator, ms % 1000);
    return text;
}
