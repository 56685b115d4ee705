#include "cli/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

std::string next_arg(int argc, const char * const * argv, int & pos) {
    if (pos + 1 < argc) {
        pos++;
        return argv[pos];
    }
    return "";
}

RunOptions scan_options(int argc, const char * const * argv) {
    RunOptions opts;
    for (int i = 1; i < argc; i++) {
        const char * arg = argv[i];
        if (std::strcmp(arg, "--asr") == 0) {
            opts.asr = next_arg(argc, argv, i);
        } else if (std::strcmp(arg, "--aligner") == 0) {
            opts.aligner = next_arg(argc, argv, i);
        } else if (std::strcmp(arg, "--audio") == 0) {
            opts.audio = next_arg(argc, argv, i);
        } else if (std::strcmp(arg, "--threads") == 0) {
            opts.threads = parse_thread_count(next_arg(argc, argv, i));
        } else if (std::strcmp(arg, "--language") == 0) {
            opts.language = next_arg(argc, argv, i);
        } else if (std::strcmp(arg, "--extra-words") == 0) {
            opts.extra_words = next_arg(argc, argv, i);
        } else if (std::strcmp(arg, "--turns") == 0) {
            opts.turns = next_arg(argc, argv, i);
        } else if (std::strcmp(arg, "--vocabulary") == 0) {
            opts.vocabulary = next_arg(argc, argv, i);
        } else if (std::strcmp(arg, "--transcript") == 0) {
            opts.transcript = next_arg(argc, argv, i);
        } else if (std::strcmp(arg, "--denoise") == 0) {
            opts.denoise = next_arg(argc, argv, i) != "off";
        } else if (std::strcmp(arg, "--adapt") == 0) {
            opts.adapt = next_arg(argc, argv, i) != "off";
        } else if (std::strcmp(arg, "--confidence") == 0) {
            opts.confidence = true;
        } else if (std::strcmp(arg, "--plain-words") == 0) {
            opts.plain_words = true;
        } else if (std::strcmp(arg, "--speakers") == 0) {
            const std::string value = next_arg(argc, argv, i);
            const bool        count = !value.empty() && value.size() <= 3 &&
                               value.find_first_not_of("0123456789") == std::string::npos && std::stoi(value) > 0;
            opts.speakers   = value == "auto" || count;
            opts.n_speakers = count ? std::stoi(value) : 0;
        }
    }
    return opts;
}

int32_t parse_thread_count(const std::string & value) {
    // atoi's reading (white space, sign, digits up to the first other byte), but saturating: atoi itself
    // is undefined for values beyond int, and "99999999999" must not become a negative or random count.
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r'))) {
        i++;
    }
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        i++;
    }
    int64_t n = 0;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
        if (n <= INT32_MAX) {
            n = n * 10 + (value[i] - '0');
        }
        i++;
    }
    if (negative || n < 1) {
        return 1;
    }
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

void preread_file(const std::string & path) {
    // Opening without waiting keeps a FIFO with no writer from holding the run; only a regular file is read,
    // and only up to the size it had when opened, so that a device or a file that keeps growing cannot either.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        close(fd);
        return;
    }
    constexpr size_t  block = 8u * 1024u * 1024u;
    std::vector<char> buffer(block);
    off_t             left = st.st_size;
    while (left > 0) {
        const size_t  want = left < static_cast<off_t>(block) ? static_cast<size_t>(left) : block;
        const ssize_t got  = read(fd, buffer.data(), want);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        left -= got;
    }
    close(fd);
}
