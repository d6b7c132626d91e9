// The confined machine: after confine(), a system call outside the list
// ends the process, while what a run does still works.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "sandbox.h"

namespace {

// Runs in the death test's child: confine, write, map memory, then open.
void confine_then(bool try_open) {
    if (vm::sandbox::confine() != vm::sandbox::Outcome::confined) std::_Exit(42);
    if (write(1, "ok\n", 3) != 3) std::_Exit(43);
    void* p = mmap(nullptr, 1 << 16, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED || mprotect(p, 4096, PROT_READ | PROT_EXEC) != 0) std::_Exit(44);
    if (try_open) {
        const int fd = open("/etc/passwd", O_RDONLY);
        std::_Exit(fd >= 0 ? 45 : 46);  // not reached: the open ends the process
    }
    std::_Exit(0);
}

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        // Probe in a child whether this build and kernel confine at all.
        const pid_t pid = fork();
        if (pid == 0) std::_Exit(vm::sandbox::confine() == vm::sandbox::Outcome::confined ? 0 : 1);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            GTEST_SKIP() << "no confinement here (sanitizer build, no libseccomp or no kernel support)";
    }
};

TEST_F(Sandbox, ForbiddenCallEndsTheProcess) {
    EXPECT_EXIT(confine_then(true), ::testing::KilledBySignal(SIGSYS), "");
}

TEST_F(Sandbox, WhatARunNeedsStillWorks) {
    EXPECT_EXIT(confine_then(false), ::testing::ExitedWithCode(0), "");
}

TEST(SandboxSwitch, EnvironmentTurnsItOff) {
    setenv("VEXL_SANDBOX", "off", 1);
    EXPECT_TRUE(vm::sandbox::disabled_by_environment());
    EXPECT_EQ(vm::sandbox::confine(), vm::sandbox::Outcome::off);
    unsetenv("VEXL_SANDBOX");
    EXPECT_FALSE(vm::sandbox::disabled_by_environment());
}

}  // namespace
