// The system call filter of the confined machine, with libseccomp.
#include "sandbox.h"

#include <cstdlib>
#include <cstring>

#if defined(VEXL_HAVE_SECCOMP)
#include <seccomp.h>
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

namespace {

// What a run does after loading: program input and output (the standard
// streams and, after a runtime error, the image's debug file opened before),
// memory for the allocator and the translating engine's code and stack, the
// signals of abort(), and the end of the process.
const int kAllowed[] = {
    SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(write), SCMP_SYS(writev),
    SCMP_SYS(lseek), SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(close),
    SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect),
    SCMP_SYS(madvise),
    SCMP_SYS(futex), SCMP_SYS(clock_gettime), SCMP_SYS(gettimeofday), SCMP_SYS(getrandom),
    SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction), SCMP_SYS(sigaltstack),
    SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(tgkill),
    SCMP_SYS(exit), SCMP_SYS(exit_group),
};

}  // namespace

Outcome confine() {
    if (disabled_by_environment()) return Outcome::off;
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (!ctx) return Outcome::unavailable;
    bool ok = true;
    for (int call : kAllowed) {
        // A call this kernel or architecture does not know is left out.
        if (call < 0) continue;
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0) == 0;
    }
    // Without no_new_privs the kernel refuses the filter to an unprivileged
    // process; libseccomp sets it by default.
    ok = ok && seccomp_load(ctx) == 0;
    seccomp_release(ctx);
    return ok ? Outcome::confined : Outcome::unavailable;
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
