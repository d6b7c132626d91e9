// The shared runner and scratch directory: streams, input, environment,
// status, signals, timeouts of whole process groups, and cleanup.
#include <gtest/gtest.h>

#include <chrono>

#include "test_support.h"

namespace vexltest {
namespace {

ProcessResult sh(const std::string& script, Command c = {}) {
    c.argv = {"/bin/sh", "-c", script};
    return run_process(c);
}

TEST(RunProcess, StreamsInputStatusAndWorkingDirectory) {
    TempDir dir;
    const ProcessResult r = sh("cat; pwd; printf oops >&2; exit 3", {.cwd = dir.path(), .input = "12\n34"});
    ASSERT_TRUE(r.exited()) << r.describe();
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.describe(), "exit status 3");
    EXPECT_EQ(r.out, "12\n34" + fs::canonical(dir.path()).string() + "\n");
    EXPECT_EQ(r.err, "oops");
    EXPECT_EQ(sh("cat").out, "");  // no input: end of file at once
}

TEST(RunProcess, LargeOutputOnBothStreamsAndLargeInput) {
    // More than a pipe holds on each stream at once: neither may block.
    const ProcessResult r = sh("head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2");
    EXPECT_EQ(r.out.size(), 300000u);
    EXPECT_EQ(r.err.size(), 200000u);
    EXPECT_TRUE(r.exited_with(0));
    // A child that never reads its input does not block the runner.
    EXPECT_TRUE(sh("exit 0", {.input = std::string(1 << 20, 'x')}).exited_with(0));
}

TEST(RunProcess, EnvironmentChanges) {
    setenv("VEXL_TEST_GONE", "1", 1);
    const ProcessResult r = sh("echo \"$VEXL_TEST_NEW/${VEXL_TEST_GONE-unset}/${HOME:+home}\"",
                               {.env = {"VEXL_TEST_NEW=a=b", "VEXL_TEST_GONE"}});
    unsetenv("VEXL_TEST_GONE");
    EXPECT_EQ(r.out, std::string("a=b/unset/") + (getenv("HOME") ? "home" : "") + "\n");
}

TEST(RunProcess, TimeoutKillsTheChildAndItsChildren) {
    const auto start = std::chrono::steady_clock::now();
    // The grandchild keeps the output pipe open; it must be ended as well.
    const ProcessResult r = sh("sleep 30 & sleep 30", {.timeout_ms = 300});
    EXPECT_TRUE(r.timed_out);
    EXPECT_FALSE(r.exited());
    EXPECT_EQ(r.describe(), "timed out");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(RunProcess, SignalsAndMissingPrograms) {
    const ProcessResult r = sh("kill -SEGV $$");
    EXPECT_EQ(r.signal, 11);
    EXPECT_EQ(r.describe(), "killed by signal 11");
    const ProcessResult missing = run_process({{"/nonexistent/prog"}});
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.error, "/nonexistent/prog: No such file or directory");
    EXPECT_FALSE(sh("true", {.cwd = "/nonexistent"}).started);
}

TEST(TempDir, FilesAndRemovalEvenWhenReadOnly) {
    fs::path kept;
    {
        TempDir dir;
        kept = dir.path();
        EXPECT_EQ(dir.write("a", std::string("x\0y", 3)), dir / "a");
        EXPECT_EQ(dir.read("a"), std::string("x\0y", 3));
        EXPECT_EQ(dir.read("missing"), "");
        std::string bytes;
        EXPECT_FALSE(read_file(dir.path(), bytes));  // a directory is no file
        fs::create_directory(dir / "ro");
        dir.write("ro/f", "");
        fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_THROW(write_file(dir / "none" / "g", "x"), std::runtime_error);
    }
    EXPECT_FALSE(fs::exists(kept));
}

}  // namespace
}  // namespace vexltest
