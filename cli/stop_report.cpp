// The last resort of a run whose engine ends the process: the decoder library calls exit() or abort() on
// some damage to a model file that the engine's own checks did not foresee. While armed, either one still
// leaves one error object on standard output and ends with status 1.
//
// exit() runs the handlers registered with atexit(), the newest first, on the thread that called it: the
// one registered here writes the prepared text and leaves with _exit(), before any other handler or stream
// flush could write more. abort() raises SIGABRT: the handler installed here does the same. Both use only
// write() and _exit(), which are safe in a signal handler, on a text prepared before arming. Nothing is
// written to standard output while the engine loads, so the text is the run's only JSON text.

#include "cli/cli.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>

namespace {

std::string           prepared;  // the error object's bytes, line feed included
volatile sig_atomic_t armed = 0; // read by the handlers; set after `prepared`, cleared before it changes
struct sigaction      saved_abort_action {};
std::once_flag        exit_handler_once;

void write_prepared() {
    const char * p    = prepared.data();
    size_t       left = prepared.size();
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
    if (armed != 0) {
        write_prepared();
        _exit(1);
    }
}

void on_abort_while_armed(int /*signal*/) {
    if (armed != 0) {
        write_prepared();
        _exit(1);
    }
    // Not armed (a race with disarming): the default action, as if no handler were set.
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

} // namespace

void arm_stop_report(const std::string & message) {
    armed    = 0;
    prepared = "{\"error\":\"" + json_escape(message) + "\"}\n";
    std::call_once(exit_handler_once, [] { std::atexit(on_exit_while_armed); });
    struct sigaction action {};
    action.sa_handler = on_abort_while_armed;
    sigemptyset(&action.sa_mask);
    sigaction(SIGABRT, &action, &saved_abort_action);
    armed = 1;
}

void disarm_stop_report() {
    armed = 0;
    sigaction(SIGABRT, &saved_abort_action, nullptr);
}
