// Helpers shared by the fuzz targets: an invariant check that aborts, and a scratch file for the readers
// that take a path.

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

// Aborts with the failed condition and its place when `condition` is false, so the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #condition);                   \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// One file per fuzzing process, rewritten for every input and removed when the process ends normally.
class ScratchFile {
  public:
    explicit ScratchFile(const std::string & name) {
        path_ = (std::filesystem::temp_directory_path() /
                 ("tavrik-fuzz-" + name + "-" + std::to_string(static_cast<long>(getpid()))))
                    .string();
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    ScratchFile(const ScratchFile &)             = delete;
    ScratchFile & operator=(const ScratchFile &) = delete;

    // Replaces the file's content with `size` bytes from `data`; returns its path.
    const std::string & write(const uint8_t * data, size_t size) {
        FILE * f = std::fopen(path_.c_str(), "wb");
        FUZZ_CHECK(f != nullptr);
        if (size > 0) {
            FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
        }
        FUZZ_CHECK(std::fclose(f) == 0);
        return path_;
    }

  private:
    std::string path_;
};
