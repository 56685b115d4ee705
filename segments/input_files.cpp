// Readers of the optional turns and extra-words files: white-space separated records, read by formatted
// extraction in the classic locale, so that the user's locale never changes how a number reads.
//
// Numbers are read by the standard library's extraction into a double. Besides text that does not begin a
// number, it fails (and so ends the reading, dropping the record it is in) on a magnitude beyond the double
// range such as 1e400, on the words nan and inf, and on an exponent marker without digits, as in 2.0E or a
// label glued to the number that starts with e or E (2.0Eve). A magnitude below the double range reads as
// zero or a subnormal value and is kept.

#include "segments/segments.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <istream>
#include <locale>
#include <streambuf>
#include <vector>

namespace {

// The bytes of an open file, read in 64 KiB blocks; closes the file when it goes. A read error or a file that
// could not be opened (-1) reads as the end of the file.
struct FileBytes : std::streambuf {
    int               fd = -1;
    std::vector<char> block;

    explicit FileBytes(int descriptor) : fd(descriptor), block(64 * 1024) {}
    FileBytes(const FileBytes &)             = delete;
    FileBytes & operator=(const FileBytes &) = delete;
    ~FileBytes() override {
        if (fd >= 0) {
            close(fd);
        }
    }

    int_type underflow() override {
        ssize_t got = 0;
        do {
            got = read(fd, block.data(), block.size());
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            return traits_type::eof();
        }
        setg(block.data(), block.data(), block.data() + got);
        return traits_type::to_int_type(block[0]);
    }
};

// Opens `path` for reading without waiting for a writer: a FIFO that nobody writes to then reads as empty at
// once instead of holding the run, and one with a writer is read until the writer closes it. Returns -1 when
// the file cannot be opened.
int open_without_waiting(const std::string & path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    // From here on reads wait for a writer's data as usual; with no writer a FIFO is at its end.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
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
    FileBytes    bytes(open_without_waiting(path));
    std::istream in(&bytes);
    in.imbue(std::locale::classic());
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
    FileBytes    bytes(open_without_waiting(path));
    std::istream in(&bytes);
    in.imbue(std::locale::classic());
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
