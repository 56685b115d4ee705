#include "cli/cli.h"

#include <cstdio>

void report_progress(double fraction, const char * stage) {
    if (fraction > 1.0) {
        fraction = 1.0;
    } else if (fraction < 0.0) {
        fraction = 0.0;
    }
    std::fprintf(stderr, "progress %.3f %s\n", fraction, stage);
    std::fflush(stderr);
}

int report_error(const std::string & message) {
    // %s would stop at an embedded 0 byte; the escaped text never holds one, but write it by length anyway.
    const std::string escaped = json_escape(message);
    std::fprintf(stdout, "{\"error\":\"%.*s\"}\n", static_cast<int>(escaped.size()), escaped.c_str());
    return 1;
}

std::string json_escape(const std::string & text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case 0x09:
            out += "\\t";
            break;
        case 0x0A:
            out += "\\n";
            break;
        case 0x0D:
            out += "\\r";
            break;
        case 0x22:
            out += "\\\"";
            break;
        case 0x5C:
            out += "\\\\";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
                out += buf;
            } else {
                out.push_back(ch);
            }
        }
    }
    return out;
}
