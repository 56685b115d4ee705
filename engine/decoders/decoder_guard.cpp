// Faults inside the decoder library turned into a false result, so that a damaged model file ends the
// run with an error like any other failure instead of a crash. The handlers are process-wide and stay
// installed while any thread is inside a guarded call; the jump target is per thread.

#include "engine/decoders/decoder_guard.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <mutex>

namespace kelvo_asr {

namespace {

constexpr int guarded_signals[] = { SIGSEGV, SIGBUS, SIGFPE, SIGILL };

thread_local sigjmp_buf * guard_target = nullptr;
thread_local int          fault_errno  = 0; // errno when this thread's last guarded call faulted

std::mutex       guard_mutex;
int              guard_users = 0; // guarded calls in progress, over all threads
struct sigaction saved_actions[std::size(guarded_signals)];

void on_fault(int signal) {
    if (guard_target != nullptr) {
        fault_errno = errno; // a failed allocation the library did not check leaves ENOMEM
        siglongjmp(*guard_target, 1);
    }
    // A fault outside a guarded call on this thread: the default action, as if no handler were set.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void install_handlers() {
    std::lock_guard<std::mutex> lock(guard_mutex);
    if (guard_users++ > 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = on_fault;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_NODEFER;
    for (size_t i = 0; i < std::size(guarded_signals); i++) {
        sigaction(guarded_signals[i], &action, &saved_actions[i]);
    }
}

void restore_handlers() {
    std::lock_guard<std::mutex> lock(guard_mutex);
    if (--guard_users > 0) {
        return;
    }
    for (size_t i = 0; i < std::size(guarded_signals); i++) {
        sigaction(guarded_signals[i], &saved_actions[i], nullptr);
    }
}

} // namespace

bool run_guarded(const std::function<void()> & call) {
    sigjmp_buf   target;
    sigjmp_buf * outer = guard_target;
    install_handlers();
    volatile bool completed = false;
    fault_errno             = 0;
    if (sigsetjmp(target, 1) == 0) {
        guard_target = &target;
        try {
            call();
        } catch (...) {
            guard_target = outer;
            restore_handlers();
            throw;
        }
        completed = true;
    }
    guard_target = outer;
    restore_handlers();
    return completed;
}

bool fault_was_out_of_memory() {
    return fault_errno == ENOMEM;
}

ps_decoder_t * load_decoder(cmd_ln_t * config, const std::string & folder, std::string & error) {
    ps_decoder_t * decoder = nullptr;
    int            failure = 0;
    if (config != nullptr) {
        // Only the library call is guarded: nothing with a destructor lives in the frames a fault skips.
        const bool completed = run_guarded([&] {
            errno   = 0;
            decoder = ps_init(config);
            failure = errno;
        });
        cmd_ln_free_r(config); // the decoder, when made, holds its own reference
        if (!completed) {
            error = fault_was_out_of_memory() ? "ran out of memory while loading the model in " + folder
                                              : "the decoder stopped on a fault while loading the model in " + folder +
                                                    " (are its files damaged?)";
            return nullptr;
        }
    } else {
        failure = errno;
    }
    if (decoder == nullptr) {
        error = failure == ENOMEM ? "ran out of memory while loading the model in " + folder
                                  : "the decoder could not be initialised with the model in " + folder;
    }
    return decoder;
}

} // namespace kelvo_asr
