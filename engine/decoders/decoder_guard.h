// Faults inside the decoder library turned into failures. The library does not check every model file
// it maps (a truncated binary model definition or mixture-weight dump crashes it), so each call into it
// that may touch such data runs guarded. Private to the engine.

#pragma once

#include <pocketsphinx.h>

#include <functional>
#include <string>

namespace kelvo_asr {

// Runs `call` with the library's faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) caught on this thread: a fault
// inside it returns false instead of ending the process. After false, the decoder `call` used is in an
// unknown state and must be dropped without being freed. Other threads may run guarded calls at the same
// time; each catches only its own faults. `call` must not own objects with destructors: a fault leaves its
// frames without unwinding them.
bool run_guarded(const std::function<void()> & call);

// True when this thread's last guarded call faulted with errno at ENOMEM: an allocation the library did not
// check had failed, so the fault says the memory ran out rather than that a file is damaged.
bool fault_was_out_of_memory();

// Makes a decoder from `config` (taken over and freed; nullptr allowed), reading the model in `folder`
// guarded against the library's faults. Returns the decoder (owned by the caller), or nullptr with
// `error` naming `folder` when the library refuses the model, runs out of memory or stops on a fault.
ps_decoder_t * load_decoder(cmd_ln_t * config, const std::string & folder, std::string & error);

// The failure text for a decoder that stopped on a fault while decoding.
inline const char * const decoder_fault_text = "the decoder stopped on a fault (are the model files damaged?)";

} // namespace kelvo_asr
