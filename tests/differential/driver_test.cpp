// The differential driver's own parts: the summary check and the handling
// of a failing case, with small shell scripts standing in for the tools.
#include <gtest/gtest.h>

#include "differential.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// A shell script standing in for one of the tools.
std::string script(const vexltest::TempDir& t, const std::string& name, const std::string& body) {
    const fs::path p = t.write(name, "#!/bin/sh\n" + body + "\n");
    fs::permissions(p, fs::perms::owner_all);
    return p.string();
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
    vexltest::TempDir t;
    differential::Tools tools;
    FakeTools(const std::string& machine_output, const std::string& c_output, const std::string& compiler_err) {
        tools.vexlc = script(t, "vexlc", "printf '" + compiler_err + "' >&2; : > prog.exec; : > prog.c");
        tools.vexl = script(t, "vexl", "printf '" + machine_output + "'");
        // The "C compiler" writes the program it was asked for as a script.
        tools.cc = script(t, "cc", "printf '#!/bin/sh\\nprintf \"" + c_output + "\"\\n' > prog; chmod +x prog");
    }
};

const std::string kSummary = "prog.vxl - \\203\\107\\203\\211\\201\\133 0\\201\\101\\214\\170\\215\\220 0\\n";

TEST(Differential, EqualOutputsPassAndLeaveNothing) {
    FakeTools f("same", "same", kSummary);
    const fs::path dir = f.t.path() / "seed-7";
    const auto o = differential::check(7, {"program", "1 2\n"}, f.tools, dir);
    EXPECT_TRUE(o.ok) << o.reason;
    EXPECT_FALSE(fs::exists(dir));
}

TEST(Differential, MismatchKeepsAReproducibleCase) {
    FakeTools f("1 2 3", "1 2 4", kSummary);
    const fs::path dir = f.t.path() / "seed-9";
    const auto o = differential::check(9, {"the program\n", "5\n"}, f.tools, dir);
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.reason.find("outputs differ at byte 4"), std::string::npos) << o.reason;
    EXPECT_EQ(o.saved, dir);
    using vexltest::read_file;
    EXPECT_EQ(read_file(dir / "prog.vxl"), "the program\n");
    EXPECT_EQ(read_file(dir / "prog.in"), "5\n");
    EXPECT_EQ(read_file(dir / "vexl.out"), "1 2 3");
    EXPECT_EQ(read_file(dir / "c.out"), "1 2 4");
    EXPECT_NE(read_file(dir / "report.txt").find("seed 9"), std::string::npos);
}

TEST(Differential, CompilerWarningOrMachineErrorFails) {
    FakeTools warn("x", "x", "warning\\n" + kSummary);
    auto o = differential::check(1, {"p", ""}, warn.tools, warn.t.path() / "a");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason.rfind("vexlc", 0), 0u) << o.reason;

    FakeTools vm("x", "x", kSummary);
    vm.tools.vexl = script(vm.t, "vexl2", "printf x; printf 'Error:Illegal Operation' >&2");
    o = differential::check(2, {"p", ""}, vm.tools, vm.t.path() / "b");
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.reason.find("Illegal Operation"), std::string::npos) << o.reason;
}

}  // namespace
