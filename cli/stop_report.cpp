// The last resort of a run whose engine ends the process: the decoder library calls exit() or abort() on
// some damage to a model file that the engine's own checks did not foresee. While armed, either one still
// leaves one error object on standard output and ends with status 1.
//
// exit() runs the handlers registered with atexit(), the newest first, on the thread that called it: the
// one registered here writes the prepared text and leaves with _exit(), before any other handler or stream
// flush could write more. abort() raises SIGABRT: the handler installed here does the same. Both use only
// write() and _exit(), which are safe in a signal handler, on texts prepared before arming. Nothing of the
// run's own JSON text is written while armed, so the text is the run's only one.
//
// The library ends the process the same way when an allocation fails (it prints the failed call on standard
// error, then exits): errno is then ENOMEM on the exiting thread, and the out-of-memory text is written.

#include "cli/cli.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>

namespace {

std::string           prepared;           // the error object's bytes, line feed included
std::string           prepared_no_memory; // the same for an allocation failure
volatile sig_atomic_t armed = 0;          // read by the handlers; set after the texts, cleared before they change
struct sigaction      saved_abort_action {};
std::once_flag        exit_handler_once;

void write_prepared(int error_number) {
    const std::string & text = error_number == ENOMEM ? prepared_no_memory : prepared;
    const char *        p    = text.data();
    size_t              left = text.size();
    while (left > 0) {
        const ssize_t n = write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // nobody reads standard output: the status still says what happened
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void on_exit_while_armed() {
    const int error_number = errno;
    if (armed != 0) {
        write_prepared(error_number);
        _exit(1);
    }
}

void on_abort_while_armed(int /*signal*/) {
    const int error_number = errno;
    if (armed != 0) {
        write_prepared(error_number);
        _exit(1);
    }
    // Not armed (a race with disarming): the default action, as if no handler were set.
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

} // namespace

StopReportScope::StopReportScope(const std::string & stopped, const std::string & out_of_memory) {
    armed              = 0;
    prepared           = "{\"error\":\"" + json_escape(stopped) + "\"}\n";
    prepared_no_memory = "{\"error\":\"" + json_escape(out_of_memory) + "\"}\n";
    std::call_once(exit_handler_once, [] { std::atexit(on_exit_while_armed); });
    struct sigaction action {};
    action.sa_handler = on_abort_while_armed;
    sigemptyset(&action.sa_mask);
    sigaction(SIGABRT, &action, &saved_abort_action);
    armed = 1;
}

StopReportScope::~StopReportScope() {
    armed = 0;
    sigaction(SIGABRT, &saved_abort_action, nullptr);
}
