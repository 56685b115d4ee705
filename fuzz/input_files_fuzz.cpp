// The turns and extra-words readers on a file holding the fuzz input: every record they return is
// well formed, and they read exactly what plain formatted extraction from a string stream reads.

#include "fuzz_support.h"
#include "segments/segments.h"

#include <cmath>
#include <cstring>
#include <locale>
#include <sstream>
#include <vector>

namespace {

bool is_space_byte(char ch) {
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

bool same_double(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::istringstream classic_stream(const std::string & bytes) {
    std::istringstream in(bytes);
    in.imbue(std::locale::classic());
    return in;
}

void check_extra_words(const std::string & path, const std::string & bytes) {
    const std::vector<ExtraWord> words = read_extra_words(path);

    std::istringstream in = classic_stream(bytes);
    size_t             k  = 0;
    double             time;
    std::string        text;
    while (in >> time && in >> text) {
        FUZZ_CHECK(k < words.size());
        FUZZ_CHECK(same_double(words[k].time, time));
        FUZZ_CHECK(words[k].text == text);
        k++;
    }
    FUZZ_CHECK(k == words.size());

    for (const ExtraWord & w : words) {
        FUZZ_CHECK(std::isfinite(w.time));
        FUZZ_CHECK(!w.text.empty());
        for (char ch : w.text) {
            FUZZ_CHECK(!is_space_byte(ch));
        }
    }
}

void check_turns(const std::string & path, const std::string & bytes) {
    const std::vector<Turn> turns = read_turns(path);

    std::istringstream in = classic_stream(bytes);
    size_t             k  = 0;
    double             start;
    double             end;
    std::string        label;
    while (in >> start && in >> end && in >> label) {
        if (end > start) {
            FUZZ_CHECK(k < turns.size());
            FUZZ_CHECK(same_double(turns[k].start, start));
            FUZZ_CHECK(same_double(turns[k].end, end));
            FUZZ_CHECK(turns[k].label == label[0]);
            k++;
        }
    }
    FUZZ_CHECK(k == turns.size());

    for (const Turn & t : turns) {
        FUZZ_CHECK(std::isfinite(t.start) && std::isfinite(t.end));
        FUZZ_CHECK(t.end > t.start);
        FUZZ_CHECK(!is_space_byte(t.label));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    static ScratchFile  file("input-files");
    const std::string   bytes(reinterpret_cast<const char *>(data), size);
    const std::string & path = file.write(data, size);
    check_extra_words(path, bytes);
    check_turns(path, bytes);
    return 0;
}
