// A text that the decoder library reads from a path, as it reads every model: written nowhere a user sees,
// and gone when no longer needed. Private to the engine.

#pragma once

#include <string>

namespace kelvo_asr {

// A text the library reads at `path`: an anonymous in-memory file reached through /proc/self/fd where
// that path opens (checked, not assumed), else a private temporary file (mode 0600, in a folder of mode
// 0700 made in $TMPDIR or /tmp), removed with its folder when destroyed. `path` is empty for an empty text
// and where both ways fail; `failure` then says why.
struct model_text_file {
    model_text_file() = default;
    explicit model_text_file(const std::string & text);
    ~model_text_file();
    model_text_file(const model_text_file &)             = delete;
    model_text_file & operator=(const model_text_file &) = delete;

    int         fd     = -1;
    bool        wanted = false; // a text was given
    std::string path;
    std::string folder;  // the temporary file's folder; empty for the in-memory file
    std::string failure; // why `path` is empty for a wanted text
};

// The path of an open file descriptor `fd` in /proc/self/fd when it opens for reading there, else empty
// (no /proc mounted, or a system without it).
std::string fd_path_if_open(int fd);

} // namespace kelvo_asr
