#include "test_support.h"

#include "bench/scoring/word_errors.h"
#include "formats/formats.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char ** environ;

namespace {

struct TempDirs {
    std::vector<std::string> paths;
    ~TempDirs() {
        for (const auto & p : paths) {
            std::error_code ec;
            std::filesystem::remove_all(p, ec);
        }
    }
};

TempDirs & temp_dirs() {
    static TempDirs dirs;
    return dirs;
}

} // namespace

ProcessResult run_process(const std::vector<std::string> &                         argv,
                          const std::vector<std::pair<std::string, std::string>> & env) {
    ProcessResult result{ "", "", -1 };
    int           out_pipe[2];
    int           err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> env_strings;
    for (char ** e = environ; *e != nullptr; e++) {
        std::string entry    = *e;
        bool        replaced = false;
        for (const auto & kv : env) {
            if (entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0) {
                replaced = true;
            }
        }
        if (!replaced) {
            env_strings.push_back(entry);
        }
    }
    for (const auto & kv : env) {
        env_strings.push_back(kv.first + "=" + kv.second);
    }
    std::vector<char *> envp;
    for (auto & e : env_strings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char *>      argp;
    for (auto & a : args) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);

    pid_t pid = 0;
    int   rc  = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }
    pollfd fds[2]     = { { out_pipe[0], POLLIN, 0 }, { err_pipe[0], POLLIN, 0 } };
    int    open_count = 2;
    char   buf[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int k = 0; k < 2; k++) {
            if (fds[k].fd >= 0 && (fds[k].revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t n = read(fds[k].fd, buf, sizeof buf);
                if (n > 0) {
                    (k == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
                } else {
                    close(fds[k].fd);
                    fds[k].fd = -1;
                    open_count--;
                }
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string capture_fd(int fd, const std::function<void()> & body) {
    FILE * stream = fd == 1 ? stdout : stderr;
    std::fflush(stream);
    FILE * tmp   = std::tmpfile();
    int    saved = dup(fd);
    dup2(fileno(tmp), fd);
    body();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::string out;
    std::rewind(tmp);
    int c;
    while ((c = std::fgetc(tmp)) != EOF) {
        out.push_back(static_cast<char>(c));
    }
    std::fclose(tmp);
    return out;
}

std::string make_temp_dir() {
    std::string       base = std::filesystem::temp_directory_path().string() + "/tavrik-test-XXXXXX";
    std::vector<char> tmpl(base.begin(), base.end());
    tmpl.push_back('\0');
    const char * made = mkdtemp(tmpl.data());
    if (made == nullptr) {
        return "";
    }
    temp_dirs().paths.push_back(made);
    return made;
}

bool write_file(const std::string & path, const std::string & bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

std::string read_file(const std::string & path) {
    std::ifstream      f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void append_le(std::string & out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

std::string wav_file_bytes(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, const std::string & data,
                           uint32_t claimed_data_bytes, const std::string & fmt_extra) {
    std::string fmt;
    append_le(fmt, format, 2);
    append_le(fmt, channels, 2);
    append_le(fmt, rate, 4);
    append_le(fmt, static_cast<uint64_t>(rate) * channels * (bits / 8), 4);
    append_le(fmt, static_cast<uint64_t>(channels) * (bits / 8), 2);
    append_le(fmt, bits, 2);
    fmt += fmt_extra;
    std::string w = "RIFF";
    append_le(w, 4 + 8 + fmt.size() + 8 + static_cast<uint64_t>(claimed_data_bytes), 4);
    w += "WAVEfmt ";
    append_le(w, fmt.size(), 4);
    w += fmt;
    w += "data";
    append_le(w, claimed_data_bytes, 4);
    return w + data;
}

bool write_wav_pcm16(const std::string & path, const std::vector<float> & frames, int32_t rate, int32_t channels) {
    std::string bytes = wav_file_bytes(1, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), 16, "",
                                       static_cast<uint32_t>(frames.size() * 2));
    for (float x : frames) {
        float   c = std::isfinite(x) ? std::clamp(x, -1.0f, 1.0f) : 0.0f;
        int32_t v = static_cast<int32_t>(std::lrint(c * 32767.0f));
        append_le(bytes, static_cast<uint32_t>(v) & 0xFFFF, 2);
    }
    return write_file(path, bytes);
}

bool write_wav_float(const std::string & path, const std::vector<float> & frames, int32_t rate, int32_t channels) {
    std::string bytes = wav_file_bytes(3, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), 32, "",
                                       static_cast<uint32_t>(frames.size() * 4));
    for (float x : frames) {
        uint32_t bits = 0;
        std::memcpy(&bits, &x, 4);
        append_le(bytes, bits, 4);
    }
    return write_file(path, bytes);
}

bool have_command(const std::string & name) {
    const char * path = std::getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    std::stringstream dirs(path);
    std::string       dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

static std::string find_command(const std::string & name) {
    for (const char * dir : { "/usr/bin", "/usr/local/bin", "/bin" }) {
        std::string p = std::string(dir) + "/" + name;
        if (access(p.c_str(), X_OK) == 0) {
            return p;
        }
    }
    return name;
}

bool synthesize_speech(const std::string & text, const std::string & voice, int words_per_minute,
                       const std::string & path) {
    std::string raw = path + ".espeak.wav";
    auto        r   = run_process(
                 { find_command("espeak-ng"), "-v", voice, "-s", std::to_string(words_per_minute), "-w", raw, text });
    if (r.status != 0) {
        return false;
    }
    auto c = run_process({ find_command("sox"), raw, "-r", "16000", "-c", "1", "-b", "16", path });
    std::remove(raw.c_str());
    return c.status == 0;
}

std::optional<std::vector<DocumentWord>> document_words(const std::string & text) {
    DocumentRead read = read_words_document(text);
    if (!read.error.empty()) {
        return std::nullopt;
    }
    return std::move(read.words);
}

bool is_valid_json(const std::string & text) {
    // One value and at most a line feed: no other white space around it.
    const std::string value = !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text;
    const auto        space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    if (value.empty() || space(value.front()) || space(value.back())) {
        return false;
    }
    return nlohmann::json::accept(value);
}

double word_error_rate(const std::string & reference, const std::string & hypothesis) {
    const auto ref = lower_case_words(reference);
    const auto hyp = lower_case_words(hypothesis);
    if (ref.empty()) {
        return hyp.empty() ? 0.0 : 1.0;
    }
    return static_cast<double>(word_errors(ref, hyp)) / static_cast<double>(ref.size());
}

std::vector<ReferenceText> read_reference_texts() {
    std::vector<ReferenceText> texts;
    std::ifstream              in(testdata_dir() + "/librivox/transcription");
    std::string                line;
    while (std::getline(in, line)) {
        size_t open  = line.rfind('(');
        size_t close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) {
            continue;
        }
        ReferenceText t;
        t.id = line.substr(open + 1, close - open - 1);
        std::stringstream words(line.substr(0, open));
        std::string       w;
        while (words >> w) {
            if (w != "<s>" && w != "</s>") {
                t.text += (t.text.empty() ? "" : " ") + w;
            }
        }
        texts.push_back(t);
    }
    return texts;
}

std::string model_dir() {
    return TAVRIK_MODEL_DIR;
}

std::string testdata_dir() {
    return TAVRIK_TESTDATA_DIR;
}

std::string asr_binary() {
    return TAVRIK_ASR_BINARY;
}

std::string scripted_binary() {
    return TAVRIK_SCRIPTED_BINARY;
}
