#include "engine/decoders/model_text_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kelvo_asr {

namespace {

// Writes all of `text` to `fd`; errno holds the reason when false.
bool write_all(int fd, const std::string & text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes `text` to a new file of its own in a new private folder of `parent`; sets `folder` and `path`,
// or returns the reason.
std::string write_private_file(const std::string & parent, const std::string & text, std::string & folder,
                               std::string & path) {
    std::vector<char> name(parent.begin(), parent.end());
    const std::string pattern = "/tavrik-asr-XXXXXX";
    name.insert(name.end(), pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        return "cannot make a folder in " + parent + ": " + std::strerror(errno);
    }
    const std::string made = name.data();
    const std::string file = made + "/model";
    const int         fd   = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 && write_all(fd, text) && close(fd) == 0) {
        folder = made;
        path   = file;
        return {};
    }
    const std::string reason = "cannot write " + file + ": " + std::strerror(errno);
    if (fd >= 0) {
        close(fd);
    }
    unlink(file.c_str());
    rmdir(made.c_str());
    return reason;
}

} // namespace

std::string fd_path_if_open(int fd) {
    std::string path  = "/proc/self/fd/" + std::to_string(fd);
    const int   probe = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (probe < 0) {
        return {};
    }
    close(probe);
    return path;
}

model_text_file::model_text_file(const std::string & text) : wanted(!text.empty()) {
    if (text.empty()) {
        return;
    }
    fd = memfd_create("model-text", MFD_CLOEXEC);
    if (fd >= 0 && write_all(fd, text)) {
        path = fd_path_if_open(fd);
        if (!path.empty()) {
            return;
        }
    }
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
    // No /proc (a minimal container or chroot): a file of its own that only this user can read.
    const char * tmpdir = std::getenv("TMPDIR");
    std::string  reason;
    for (const std::string & parent : { std::string(tmpdir != nullptr ? tmpdir : ""), std::string("/tmp") }) {
        if (parent.empty()) {
            continue;
        }
        reason = write_private_file(parent, text, folder, path);
        if (reason.empty()) {
            return;
        }
    }
    failure = "/proc/self/fd cannot be opened, and " + reason;
}

model_text_file::~model_text_file() {
    if (fd >= 0) {
        close(fd);
    }
    if (!folder.empty()) {
        unlink(path.c_str());
        rmdir(folder.c_str());
    }
}

} // namespace kelvo_asr
