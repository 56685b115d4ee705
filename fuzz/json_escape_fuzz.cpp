// JSON string escaping on arbitrary bytes: the result is always the body of a valid JSON string, holds
// no byte below 0x20, uses only the tool's escapes, and decodes back to the input byte for byte.

#include "cli/cli.h"
#include "fuzz_support.h"

#include <string>

namespace {

int hex_value(char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    return -1; // upper-case digits are never written
}

// Decodes the body of a JSON string as the tool writes it; aborts on anything else.
std::string decode(const std::string & body) {
    std::string out;
    for (size_t i = 0; i < body.size(); i++) {
        const unsigned char c = static_cast<unsigned char>(body[i]);
        FUZZ_CHECK(c >= 0x20);
        FUZZ_CHECK(c != '"');
        if (c != '\\') {
            out.push_back(body[i]);
            continue;
        }
        FUZZ_CHECK(i + 1 < body.size());
        const char e = body[++i];
        if (e == 't') {
            out.push_back('\t');
        } else if (e == 'n') {
            out.push_back('\n');
        } else if (e == 'r') {
            out.push_back('\r');
        } else if (e == '"' || e == '\\') {
            out.push_back(e);
        } else {
            FUZZ_CHECK(e == 'u');
            FUZZ_CHECK(i + 4 < body.size());
            FUZZ_CHECK(body[i + 1] == '0' && body[i + 2] == '0');
            const int high = hex_value(body[i + 3]);
            const int low  = hex_value(body[i + 4]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            const int value = high * 16 + low;
            // Only control bytes without a short form take the six-character form.
            FUZZ_CHECK(value < 0x20 && value != '\t' && value != '\n' && value != '\r');
            out.push_back(static_cast<char>(value));
            i += 4;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string body = json_escape(text);
    FUZZ_CHECK(decode(body) == text);
    return 0;
}
