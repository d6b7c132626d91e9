// The confined machine: after loading its image, vexl restricts itself to
// the system calls a run needs (reading input, writing output, the memory
// calls of the allocator and the translating engine, ending), so that a
// fault in translated code cannot be turned into anything else by a hostile
// image. Any other system call ends the process at once (SIGSYS).
#pragma once

namespace vm::sandbox {

enum class Outcome {
    confined,     // the filter is in place
    unavailable,  // the kernel or this build offers no filter; the run goes on unconfined
    off,          // turned off (--no-sandbox, VEXL_SANDBOX=off, or a sanitizer build)
};

// Installs the filter for this process and every thread it starts later.
// Never fails the run: where the filter cannot be installed it says so.
Outcome confine();

// Whether VEXL_SANDBOX in the environment turns confinement off ("off" or "0").
bool disabled_by_environment();

const char* outcome_name(Outcome outcome);  // "confined", "unavailable", "off"

}  // namespace vm::sandbox
