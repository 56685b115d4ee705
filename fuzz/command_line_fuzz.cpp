// The command-line scan on argument lists a buggy caller might pass: the input's 0 bytes separate the
// arguments. The result must equal a plain scan done the documented way, and the thread count the
// saturating atoi reading, never below 1.

#include "cli/cli.h"
#include "fuzz_support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// atoi's reading without its overflow: leading white space, a sign, digits; 1 when below 1.
int32_t expected_threads(const std::string & value) {
    const long long read = std::strtoll(value.c_str(), nullptr, 10);
    if (read < 1) {
        return 1;
    }
    return read > INT32_MAX ? INT32_MAX : static_cast<int32_t>(read);
}

RunOptions expected_options(const std::vector<std::string> & args) {
    RunOptions   opts;
    const size_t count = args.size();
    for (size_t i = 1; i < count; i++) {
        const std::string & a     = args[i];
        const bool          more  = i + 1 < count;
        const std::string   value = more ? args[i + 1] : "";
        std::string *       field = nullptr;
        if (a == "--asr") {
            field = &opts.asr;
        } else if (a == "--aligner") {
            field = &opts.aligner;
        } else if (a == "--audio") {
            field = &opts.audio;
        } else if (a == "--language") {
            field = &opts.language;
        } else if (a == "--extra-words") {
            field = &opts.extra_words;
        } else if (a == "--turns") {
            field = &opts.turns;
        } else if (a == "--vocabulary") {
            field = &opts.vocabulary;
        } else if (a == "--transcript") {
            field = &opts.transcript;
        } else if (a == "--threads") {
            opts.threads = expected_threads(value);
        } else if (a == "--denoise") {
            opts.denoise = value != "off";
        } else if (a == "--adapt") {
            opts.adapt = value != "off";
        } else if (a == "--confidence") {
            opts.confidence = true;
            continue; // a flag: the next argument is read on its own
        } else if (a == "--plain-words") {
            opts.plain_words = true;
            continue;
        } else if (a == "--speakers") {
            // "auto", or a count of 1 to 999 written with digits only
            const bool count = !value.empty() && value.size() <= 3 &&
                               value.find_first_not_of("0123456789") == std::string::npos &&
                               std::strtol(value.c_str(), nullptr, 10) > 0;
            opts.speakers   = value == "auto" || count;
            opts.n_speakers = count ? static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10)) : 0;
        } else {
            continue;
        }
        if (field != nullptr) {
            *field = value;
        }
        if (more) {
            i++;
        }
    }
    return opts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
    // Arguments are 0-terminated strings; the program name comes first.
    std::vector<std::string> args = { "tavrik-asr" };
    std::string              current;
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty()) {
        args.push_back(current);
    }
    std::vector<const char *> argv;
    for (const std::string & a : args) {
        argv.push_back(a.c_str());
    }
    argv.push_back(nullptr);

    const RunOptions got  = scan_options(static_cast<int>(args.size()), argv.data());
    const RunOptions want = expected_options(args);
    FUZZ_CHECK(got.asr == want.asr);
    FUZZ_CHECK(got.aligner == want.aligner);
    FUZZ_CHECK(got.audio == want.audio);
    FUZZ_CHECK(got.threads == want.threads);
    FUZZ_CHECK(got.threads >= 1);
    FUZZ_CHECK(got.language == want.language);
    FUZZ_CHECK(got.extra_words == want.extra_words);
    FUZZ_CHECK(got.turns == want.turns);
    FUZZ_CHECK(got.vocabulary == want.vocabulary);
    FUZZ_CHECK(got.transcript == want.transcript);
    FUZZ_CHECK(got.denoise == want.denoise);
    FUZZ_CHECK(got.adapt == want.adapt);
    FUZZ_CHECK(got.confidence == want.confidence);
    FUZZ_CHECK(got.plain_words == want.plain_words);
    FUZZ_CHECK(got.speakers == want.speakers);
    FUZZ_CHECK(got.n_speakers == want.n_speakers);

    // The thread count of every argument read on its own, embedded 0 bytes included.
    const std::string whole(reinterpret_cast<const char *>(data), size);
    FUZZ_CHECK(parse_thread_count(whole) == expected_threads(whole.c_str()));
    return 0;
}
