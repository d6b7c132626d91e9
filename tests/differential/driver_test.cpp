// The differential driver's own parts: the child-process runner (output,
// input, status, signals, timeouts), the summary check and the handling of
// a failing case, with small shell scripts standing in for the tools.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sys/stat.h>

#include "differential.h"
#include "subprocess.h"

namespace {

namespace fs = std::filesystem;
using differential::run;

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() / ("difftest-" + std::to_string(getpid()) + "-" +
                                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path script(const std::string& name, const std::string& body) const {
        const fs::path p = path / name;
        std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
        chmod(p.c_str(), 0755);
        return p;
    }
};

TEST(Subprocess, CapturesOutputErrorAndStatus) {
    const auto r = run({{"/bin/sh", "-c", "printf 'a\\nb'; printf err >&2; exit 3"}, "", "", 5000});
    ASSERT_TRUE(r.started) << r.error;
    EXPECT_EQ(r.out, "a\nb");
    EXPECT_EQ(r.err, "err");
    EXPECT_TRUE(r.exited_with(3));
    EXPECT_EQ(r.describe(), "exit status 3");
}

TEST(Subprocess, InputFromFileAndWorkingDirectory) {
    TempDir t;
    std::ofstream(t.path / "in.txt") << "12 34\n";
    const auto r = run({{"/bin/sh", "-c", "cat; pwd"}, t.path.string(), (t.path / "in.txt").string(), 5000});
    EXPECT_EQ(r.out, "12 34\n" + fs::canonical(t.path).string() + "\n");
    // Without an input file the child reads an empty standard input.
    EXPECT_EQ(run({{"/bin/cat"}, "", "", 5000}).out, "");
}

TEST(Subprocess, LargeOutputOnBothStreams) {
    // More than a pipe holds on each stream at once: neither may block.
    const auto r = run({{"/bin/sh", "-c", "head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2"}, "", "", 10000});
    EXPECT_EQ(r.out.size(), 300000u);
    EXPECT_EQ(r.err.size(), 200000u);
    EXPECT_TRUE(r.exited_with(0));
}

TEST(Subprocess, TimeoutKillsTheChildAndItsChildren) {
    const auto start = std::chrono::steady_clock::now();
    // The grandchild keeps the output pipe open; it must be ended as well.
    const auto r = run({{"/bin/sh", "-c", "sleep 30 & sleep 30"}, "", "", 300});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.timed_out);
    EXPECT_FALSE(r.exited_with(0));
    EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(Subprocess, SignalAndMissingProgram) {
    const auto r = run({{"/bin/sh", "-c", "kill -SEGV $$"}, "", "", 5000});
    EXPECT_EQ(r.signal, 11);
    EXPECT_EQ(r.describe(), "killed by signal 11");
    const auto missing = run({{"/nonexistent/program"}, "", "", 5000});
    EXPECT_FALSE(missing.started);
    EXPECT_NE(missing.error.find("/nonexistent/program"), std::string::npos);
}

TEST(Differential, CleanSummaryIsTheOnlyAcceptedStandardError) {
    const std::string ok = "prog.vxl - \x83\x47\x83\x89\x81\x5b 0\x81\x41\x8c\x78\x8d\x90 0\n";
    EXPECT_TRUE(differential::clean_summary(ok));
    EXPECT_FALSE(differential::clean_summary(ok.substr(0, ok.size() - 1)));            // no newline
    EXPECT_FALSE(differential::clean_summary("\x8c\x78\x8d\x90(3): x\n" + ok));        // a warning line
    EXPECT_FALSE(differential::clean_summary("prog.vxl - \x83\x47\x83\x89\x81\x5b 0\x81\x41\x8c\x78\x8d\x90 1\n"));
    EXPECT_FALSE(differential::clean_summary(""));
}

// Stand-in tools: a compiler that writes prog.exec and prog.c, a machine
// and a C compiler given as scripts. outputs of the two sides decide.
struct FakeTools {
    TempDir t;
    differential::Tools tools;
    FakeTools(const std::string& machine_output, const std::string& c_output, const std::string& compiler_err) {
        tools.vexlc = t.script("vexlc", "printf '" + compiler_err + "' >&2; : > prog.exec; : > prog.c").string();
        tools.vexl = t.script("vexl", "printf '" + machine_output + "'").string();
        // The "C compiler" writes the program it was asked for as a script.
        tools.cc = t.script("cc", "printf '#!/bin/sh\\nprintf \"" + c_output + "\"\\n' > prog; chmod +x prog").string();
    }
};

const std::string kSummary = "prog.vxl - \\203\\107\\203\\211\\201\\133 0\\201\\101\\214\\170\\215\\220 0\\n";

TEST(Differential, EqualOutputsPassAndLeaveNothing) {
    FakeTools f("same", "same", kSummary);
    const fs::path dir = f.t.path / "seed-7";
    const auto o = differential::check(7, {"program", "1 2\n"}, f.tools, dir);
    EXPECT_TRUE(o.ok) << o.reason;
    EXPECT_FALSE(fs::exists(dir));
}

TEST(Differential, MismatchKeepsAReproducibleCase) {
    FakeTools f("1 2 3", "1 2 4", kSummary);
    const fs::path dir = f.t.path / "seed-9";
    const auto o = differential::check(9, {"the program\n", "5\n"}, f.tools, dir);
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.reason.find("outputs differ at byte 4"), std::string::npos) << o.reason;
    EXPECT_EQ(o.saved, dir);
    auto read = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(dir / "prog.vxl"), "the program\n");
    EXPECT_EQ(read(dir / "prog.in"), "5\n");
    EXPECT_EQ(read(dir / "vexl.out"), "1 2 3");
    EXPECT_EQ(read(dir / "c.out"), "1 2 4");
    EXPECT_NE(read(dir / "report.txt").find("seed 9"), std::string::npos);
}

TEST(Differential, CompilerWarningOrMachineErrorFails) {
    FakeTools warn("x", "x", "warning\\n" + kSummary);
    auto o = differential::check(1, {"p", ""}, warn.tools, warn.t.path / "a");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason.rfind("vexlc", 0), 0u) << o.reason;

    FakeTools vm("x", "x", kSummary);
    vm.tools.vexl = vm.t.script("vexl2", "printf x; printf 'Error:Illegal Operation' >&2").string();
    o = differential::check(2, {"p", ""}, vm.tools, vm.t.path / "b");
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.reason.find("Illegal Operation"), std::string::npos) << o.reason;
}

}  // namespace
