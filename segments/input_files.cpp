// Readers of the optional turns and extra-words files: white-space separated records, read by formatted
// extraction in the classic locale, so that the user's locale never changes how a number reads.
//
// Numbers are read by the standard library's extraction into a double. Besides text that does not begin a
// number, it fails (and so ends the reading, dropping the record it is in) on a magnitude beyond the double
// range such as 1e400, on the words nan and inf, and on an exponent marker without digits, as in 2.0E or a
// label glued to the number that starts with e or E (2.0Eve). A magnitude below the double range reads as
// zero or a subnormal value and is kept.

#include "segments/segments.h"

#include <fstream>
#include <istream>
#include <locale>

namespace {

// Opens `path` for formatted reading in the classic locale; the stream is failed when it cannot be opened.
void open_classic(std::ifstream & in, const std::string & path) {
    in.imbue(std::locale::classic());
    in.open(path, std::ios::in);
}

// Reads the next token and keeps only its first byte in `first`: the rest is skipped byte by byte, so a
// token of any length costs no memory. Returns false when there is no token (end of file or read error).
bool read_token_first_byte(std::istream & in, char & first) {
    if (!(in >> first)) {
        return false;
    }
    const std::ctype<char> & ctype = std::use_facet<std::ctype<char>>(std::locale::classic());
    for (;;) {
        // peek() and ignore() turn a read error of the file into a failed stream, never an exception.
        const std::istream::int_type next = in.peek();
        if (next == std::istream::traits_type::eof() ||
            ctype.is(std::ctype_base::space, std::istream::traits_type::to_char_type(next))) {
            break;
        }
        in.ignore();
    }
    return true;
}

} // namespace

std::vector<ExtraWord> read_extra_words(const std::string & path) {
    std::vector<ExtraWord> words;
    if (path.empty()) {
        return words;
    }
    std::ifstream in;
    open_classic(in, path);
    for (;;) {
        double      time = 0.0;
        std::string text;
        if (!(in >> time) || !(in >> text)) {
            break;
        }
        words.push_back(ExtraWord{ time, std::move(text) });
    }
    return words;
}

std::vector<Turn> read_turns(const std::string & path) {
    std::vector<Turn> turns;
    if (path.empty()) {
        return turns;
    }
    std::ifstream in;
    open_classic(in, path);
    for (;;) {
        double start = 0.0;
        double end   = 0.0;
        char   label = 0;
        if (!(in >> start) || !(in >> end) || !read_token_first_byte(in, label)) {
            break;
        }
        // The extraction never yields NaN; were it to, the comparison is false and the record is dropped.
        if (end > start) {
            turns.push_back(Turn{ start, end, label });
        }
    }
    return turns;
}
