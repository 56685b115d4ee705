// Helpers shared by the fuzz targets: an invariant check that aborts, a scratch file for the readers that
// take a path, and times that break careless arithmetic.

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>
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

// A time in seconds: NaN, an infinity, a huge value, any double, a time hours away, or most often a time in
// tenths of a second between `near_min_tenths` and `near_max_tenths`.
inline double fuzz_pick_time(FuzzedDataProvider & in, int near_min_tenths, int near_max_tenths) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
        return std::numeric_limits<double>::quiet_NaN();
    case 1:
        return std::numeric_limits<double>::infinity();
    case 2:
        return -std::numeric_limits<double>::infinity();
    case 3:
        return 1e308;
    case 4:
        return -1e308;
    case 5:
        return in.ConsumeFloatingPoint<double>();
    case 6:
        return static_cast<double>(in.ConsumeIntegralInRange<int64_t>(-200000, 200000)); // hours away
    default:
        return in.ConsumeIntegralInRange<int>(near_min_tenths, near_max_tenths) * 0.1;
    }
}
