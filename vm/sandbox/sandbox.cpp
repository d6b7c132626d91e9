// The system call filter of the confined machine: a fixed program that
// libseccomp compiled at build time (filter_gen.cpp holds the list of
// allowed calls), installed with two system calls.
#include "sandbox.h"

#include <cstdlib>
#include <cstring>

#if defined(VEXL_HAVE_SECCOMP)
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "sandbox_filter.h"
#endif

// Sanitizer runtimes make system calls of their own when they report or at
// exit (the leak checker stops the process with ptrace, reports read
// /proc/self/maps): a filter would turn their reports into SIGSYS, so
// sanitizer builds run unconfined.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(VEXL_SANITIZED)
#define VEXL_NO_CONFINEMENT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define VEXL_NO_CONFINEMENT 1
#endif
#endif

namespace vm::sandbox {

bool disabled_by_environment() {
    const char* v = std::getenv("VEXL_SANDBOX");
    return v && (std::strcmp(v, "off") == 0 || std::strcmp(v, "0") == 0);
}

const char* outcome_name(Outcome outcome) {
    switch (outcome) {
    case Outcome::confined: return "confined";
    case Outcome::unavailable: return "unavailable";
    case Outcome::off: return "off";
    }
    return "off";
}

#if defined(VEXL_HAVE_SECCOMP) && !defined(VEXL_NO_CONFINEMENT)

Outcome confine() {
    if (disabled_by_environment()) return Outcome::off;
    sock_fprog program{static_cast<unsigned short>(sizeof kFilter / sizeof kFilter[0]),
                       const_cast<sock_filter*>(kFilter)};
    // Without no_new_privs the kernel refuses the filter to an unprivileged
    // process.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Outcome::unavailable;
    // Every thread of the process (vexl runs on a second one).
    if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0)
        return Outcome::confined;
    // Kernels before the seccomp call take the filter through prctl (for
    // the calling thread only).
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0 ? Outcome::confined
                                                                           : Outcome::unavailable;
}

#else

Outcome confine() {
#if defined(VEXL_NO_CONFINEMENT)
    return Outcome::off;
#else
    return Outcome::unavailable;
#endif
}

#endif

}  // namespace vm::sandbox
