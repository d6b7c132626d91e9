// Whole runs: loading image files, the end of a run, runtime errors with the
// register dump, the trace hook, and the vexl program's command line and
// exit statuses (run as a subprocess).
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "harness.h"
#include "test_support.h"

using namespace vmtest;
using End = vm::RunResult::End;
using vexltest::TempDir;
namespace fs = std::filesystem;

namespace {

std::string bytes_of(const std::vector<Word>& words) {
    std::string s;
    for (Word w : words) {
        s.push_back(char(w >> 8));
        s.push_back(char(w & 0xFF));
    }
    return s;
}

TEST(Loader, ExecIsAppendedOnlyWhenMissing) {
    TempDir dir;
    const std::string out_a = bytes_of({op(LDI, GR1), 'A', op(OUTS), 'p', 0x0000});
    dir.write("prog.exec", out_a);
    dir.write("prog.exec.bak", bytes_of({op(OUTS), 'b', 0x0000}));
    dir.write("a.execute", bytes_of({op(OUTS), 'c', 0x0000}));
    const std::pair<std::string, std::string> cases[] = {
        {"prog", "p"}, {"prog.exec", "p"}, {"prog.exec.bak", "b"}, {"a.execute", "c"}};
    for (const auto& [arg, output] : cases) {
        Harness h;
        EXPECT_EQ(h.m.run_file((dir.path() / arg).string()), 0) << arg;
        EXPECT_EQ(h.out.str(), output) << arg;
    }
}

TEST(Loader, MissingFileOrDirectoryIsNotFound) {
    TempDir dir;
    fs::create_directory(dir.path() / "d.exec");
    const std::pair<std::string, std::string> cases[] = {
        {"nothing", "nothing.exec"}, {"d.exec", "d.exec"}, {"d", "d.exec"}};
    for (const auto& [arg, tried] : cases) {
        Harness h;
        EXPECT_EQ(h.m.run_file((dir.path() / arg).string()), 1);
        EXPECT_EQ(h.err.str(), "file not found:" + (dir.path() / tried).string() + "\n");
        EXPECT_EQ(h.out.str(), "");
    }
}

TEST(Run, FullImageWrapsAroundAndNeverEnds) {
    Harness h;
    const vm::RunResult r = h.run(std::vector<Word>(65536, op(NOP)), 70000);
    EXPECT_EQ(r.end, End::step_limit);
    EXPECT_EQ(h.m.pc(), 70000 - 65536);
}

TEST(Faults, UndefinedOpcodes) {
    for (unsigned code = 0; code < 256; ++code) {
        Harness h;
        h.m.set_reg(GR3, 1);  // keeps indexed operands in range
        h.step({op(Opcode(code), GR1, GR3), 0x0000, 0x0000});
        const bool illegal = h.err.str() == "Error:Illegal Operation\n";
        EXPECT_EQ(illegal, !image::op_info(code).defined()) << std::hex << code;
    }
}

TEST(Trace, HookSeesEachInstructionAfterItRuns) {
    Harness h;
    std::vector<vm::TraceStep> steps;
    h.m.load({op(LDI, GR1), 0x0003, op(SUB_R, GR1, GR1), op(JZE), 0x0000});
    const vm::RunResult r = h.m.execute_traced([&](const vm::TraceStep& s) { steps.push_back(s); }, 4);
    EXPECT_EQ(r.end, End::step_limit);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].pc, 0);
    EXPECT_EQ(steps[0].next_pc, 2);
    EXPECT_EQ(steps[0].regs[GR1], 3);
    EXPECT_EQ(steps[1].word, op(SUB_R, GR1, GR1));
    EXPECT_EQ(steps[1].regs[GR1], 0);
    EXPECT_TRUE(steps[1].zf);
    EXPECT_EQ(steps[2].next_pc, 0);
    EXPECT_EQ(steps[3].pc, 0);
}

TEST(Trace, ExceptionFromTheHookIsAnOtherError) {
    Harness h;
    h.m.load({op(NOP)});
    const vm::RunResult r = h.m.execute_traced([](const vm::TraceStep&) { throw std::runtime_error("hook"); });
    EXPECT_EQ(r.fault, vm::Fault::other);
    EXPECT_EQ(h.err.str(), "Error:hook\n");
}

// ---- the vexl program

using Program = vexltest::ProcessResult;

// Runs vexl in dir with the blank-separated arguments.
Program vexl(const TempDir& dir, const std::string& args, const std::string& input = "") {
    std::vector<std::string> argv{VEXL_PROGRAM};
    std::istringstream words(args);
    for (std::string w; words >> w;) argv.push_back(w);
    return vexltest::run_process({argv, dir.path(), input});
}

TEST(Program, UsageOnWrongArgumentCount) {
    TempDir dir;
    for (const char* args : {"", "a b"}) {
        const Program p = vexl(dir, args);
        EXPECT_EQ(p.status, 0);
        EXPECT_EQ(p.out, "Usage:vexl.exe filename\n");
        EXPECT_EQ(p.err, "");
    }
}

TEST(Program, FileNotFoundExitsWithOne) {
    TempDir dir;
    const Program p = vexl(dir, "prog");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "file not found:prog.exec\n");
    EXPECT_EQ(p.out, "");
}

TEST(Program, RuntimeErrorExitsWithOneAndKeepsTheOrder) {
    TempDir dir;
    dir.write("bad.exec", bytes_of({op(OUTS), 'h', 'i', 0x0000, op(DIV_R, GR1, GR2)}));
    const Program p = vexl(dir, "bad.exec");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "Error:Zero Divide Error\n");
    EXPECT_EQ(p.out.substr(0, 20), "hiDebug Information\n");
    EXPECT_NE(p.out.find("pc :0x0004"), std::string::npos);

    // Both streams into one file: the output before the error line, the dump after it.
    const vexltest::ProcessResult both =
        vexltest::run_process({{"/bin/sh", "-c", "'" VEXL_PROGRAM "' bad 2>&1"}, dir.path()});
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.out.substr(0, 44), "hiError:Zero Divide Error\nDebug Information\n");
}

// ---- limits and statistics

TEST(Limits, StepLimitStopsBeforeInstructionNPlusOne) {
    // Five instructions: LDI, three NOPs, OUTI.
    const std::vector<Word> words{op(LDI, GR1), 7, op(NOP), op(NOP), op(NOP), op(OUTI_R, GR1)};
    for (std::uint64_t n : {0u, 4u, 5u, 6u}) {
        Harness h;
        h.m.load(words);
        vm::Stats stats;
        const vm::RunResult r = h.m.execute(vm::Limits{n, vm::Limits::kNone}, &stats);
        EXPECT_EQ(r.end, n >= 5 ? End::finished : End::step_limit) << n;
        EXPECT_EQ(stats.steps, std::min<std::uint64_t>(n, 5)) << n;
        EXPECT_EQ(h.out.str(), n >= 5 ? "7" : "") << n;
        EXPECT_EQ(h.m.pc(), n == 0 ? 0 : n == 4 ? 5 : 6) << n;
    }
}

TEST(Limits, OutputLimitWritesWhatFitsAndStopsAtTheInstruction) {
    const std::vector<Word> words{op(OUTS), 'a', 'b', 0, op(LDI, GR1), 0xFFF4, op(OUTI_R, GR1), op(NOP)};
    const std::pair<std::uint64_t, std::string> cases[] = {
        {0, ""}, {1, "a"}, {2, "ab"}, {4, "ab-1"}, {5, "ab-12"}, {6, "ab-12"}};
    for (const auto& [room, text] : cases) {
        Harness h;
        h.m.load(words);
        vm::Stats stats;
        const vm::RunResult r = h.m.execute(vm::Limits{vm::Limits::kNone, room}, &stats);
        EXPECT_EQ(h.out.str(), text) << room;
        EXPECT_EQ(stats.bytes_written, text.size()) << room;
        // Room for exactly all output (5 bytes) is no stop.
        EXPECT_EQ(r.end, room >= 5 ? End::finished : End::output_limit) << room;
        if (room < 2) {
            EXPECT_EQ(h.m.pc(), 0) << room;
        } else if (room == 4) {
            EXPECT_EQ(h.m.pc(), 6) << room;
        }
    }
}

TEST(Limits, StatsCountTheDeepestStackAndAFailingInstruction) {
    Harness h;
    // CALL pushes the return address, the callee pushes two more words and
    // returns; then DIV by zero fails.
    h.m.load({op(CALL), 4, op(DIV_R, GR1, GR2), op(NOP), op(PUSH_R, GR1), op(PUSH_R, GR1),
              op(POP, GR1), op(POP, GR1), op(RET)});
    vm::Stats stats;
    const vm::RunResult r = h.m.execute(vm::Limits{}, &stats);
    EXPECT_EQ(r.end, End::fault);
    EXPECT_EQ(stats.steps, 7u);
    EXPECT_EQ(stats.deepest_stack, 3u);
    EXPECT_EQ(h.err.str(), "Error:Zero Divide Error\n");
}

TEST(Program, LimitsStopWithStatusThreeAfterTheOutput) {
    TempDir dir;
    // An endless loop writing "x".
    dir.write("loop.exec", bytes_of({op(OUTS), 'x', 0, op(JUMP), 0}));
    Program p = vexl(dir, "--max-steps 5 loop");
    EXPECT_EQ(p.status, 3);
    EXPECT_EQ(p.out, "xxx");
    EXPECT_EQ(p.err, "vexl: step limit of 5 instructions reached\n");
    p = vexl(dir, "--max-output=4 --stats loop");
    EXPECT_EQ(p.status, 3);
    EXPECT_EQ(p.out, "xxxx");
    EXPECT_EQ(p.err,
              "vexl: output limit of 4 bytes reached\n"
              "instructions executed: 9\n"
              "deepest stack: 0 words\n"
              "bytes written: 4\n");
    // One of a kind is singular.
    p = vexl(dir, "--max-steps 1 loop");
    EXPECT_EQ(p.err, "vexl: step limit of 1 instruction reached\n");
    p = vexl(dir, "--max-output 1 loop");
    EXPECT_EQ(p.err, "vexl: output limit of 1 byte reached\n");
    // A limit that is not reached changes nothing.
    dir.write("hi.exec", bytes_of({op(OUTS), 'h', 'i', 0}));
    p = vexl(dir, "--max-steps 1 --max-output 2 hi");
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out + p.err, "hi");
}

// vexl run by the shell, for redirections and limits the test cannot set.
Program vexl_in_shell(const TempDir& dir, const std::string& script) {
    return vexltest::run_process({{"/bin/sh", "-c", script, "sh", VEXL_PROGRAM}, dir.path(), ""});
}

TEST(Program, UnreadableInputStopsWithTheMachinesOwnWords) {
    TempDir dir;
    // Output, then INI GR1 twice (the first one translated or not).
    dir.write("ini.exec", bytes_of({op(OUTS), 'a', 0, op(INI_R, GR1), op(INI_R, GR1)}));
    const std::string dump =
        "Debug Information\n"
        "GR0:0x0000 GR1:0x0000 GR2:0x0000 GR3:0x0000\n"
        "GR4:0x0000 bp :0x0000 sp :0xffff\n"
        "pc :0x0003 SF :0x0000 ZF :0x0000\n";
    const std::pair<const char*, const char*> cases[] = {
        {"\"$1\" ini < .", "Is a directory"}, {"\"$1\" ini <&-", "Bad file descriptor"}};
    for (const auto& [script, reason] : cases) {
        const Program p = vexl_in_shell(dir, script);
        EXPECT_EQ(p.status, 1) << script;
        EXPECT_EQ(p.out, "a" + dump) << script;
        EXPECT_EQ(p.err, std::string("Error:cannot read standard input: ") + reason + "\n") << script;
    }
}

// Calls nest on the host stack of neither engine: a call to itself ends at
// the step limit however small the process's stack is, the output before
// it kept. Where the stack starts varies from run to run, so it runs often.
TEST(Program, EndlessRecursionUnderASmallStackStopsAtTheStepLimit) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's runtime needs more stack than these limits to start,
    // and its build of vexl is linked dynamically.
    GTEST_SKIP() << "not under AddressSanitizer";
#endif
    TempDir dir;
    dir.write("selfcall.exec", bytes_of({op(OUTS), 'o', 0, op(CALL), 3}));
    for (const char* limit : {"16", "64"}) {
        const Program p = vexl_in_shell(
            dir, std::string("ulimit -s ") + limit +
                     " && for i in 1 2 3 4 5 6 7 8 9 10 11 12; do \"$1\" --max-steps 100000 selfcall; "
                     "echo \" $?\"; done 2>&1");
        std::string expected;
        for (int i = 0; i < 12; ++i) expected += "ovexl: step limit of 100000 instructions reached\n 3\n";
        EXPECT_EQ(p.out, expected) << "ulimit -s " << limit;
    }
}

TEST(Program, OptionsComeBeforeTheImage) {
    TempDir dir;
    dir.write("--odd.exec", bytes_of({op(OUTS), 'o', 0}));
    Program p = vexl(dir, "-- --odd");
    EXPECT_EQ(p.out, "o");
    // Without an image, or with two, the usage line as always.
    for (const char* args : {"--stats", "--stats -- a b", "a --stats"}) {
        p = vexl(dir, args);
        EXPECT_EQ(p.status, 0) << args;
        EXPECT_EQ(p.out, "Usage:vexl.exe filename\n") << args;
    }
    for (const char* args : {"--nope a", "--max-steps", "--max-steps 1x a", "--max-output -1 a",
                             "--max-steps 99999999999999999999 a", "--stats=1 a"}) {
        p = vexl(dir, args);
        EXPECT_EQ(p.status, 2) << args;
        EXPECT_EQ(p.out, "") << args;
        EXPECT_NE(p.err.find("Try 'vexl --help'"), std::string::npos) << args;
    }
    p = vexl(dir, "--help");
    EXPECT_EQ(p.status, 0);
    for (const char* name : {"--max-steps=N", "--max-output=BYTES", "--stats", "--version"})
        EXPECT_NE(p.out.find(name), std::string::npos) << name;
}

}  // namespace
