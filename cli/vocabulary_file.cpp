// The vocabulary file read whole; the engine reads its lines.

#include "cli/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool read_vocabulary_file(const std::string & path, std::string & text) {
    // A list of names and terms is small; a file far larger is not one.
    constexpr size_t most = 16u * 1024u * 1024u;
    text.clear();
    // Opened without waiting (a FIFO without a writer must not hold the run), then read with waiting, so
    // that a pipe with a writer is read to its end.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool        ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) && fcntl(fd, F_SETFL, 0) == 0;
    char        block[65536];
    while (ok) {
        const ssize_t got = read(fd, block, sizeof(block));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        text.append(block, static_cast<size_t>(got));
        ok = text.size() <= most;
    }
    close(fd);
    return ok;
}
