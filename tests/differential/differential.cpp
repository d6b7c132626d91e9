// The differential check of one program: both translations must print the
// same bytes, vexlc must accept the program without any warning, and the
// machine must not report a runtime error.
#include "differential.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "test_support.h"

namespace differential {

namespace {

using vexltest::ProcessResult;
using vexltest::run_process;

constexpr int kCompileTimeoutMs = 30000;
constexpr int kRunTimeoutMs = 10000;
constexpr int kCcTimeoutMs = 120000;  // gcc on a loaded two-core machine

bool write_file(const fs::path& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
    return static_cast<bool>(f);
}

// Control bytes and bytes above 0x7E escaped, cut after max bytes.
std::string excerpt(const std::string& s, std::size_t max = 200) {
    std::string r;
    for (std::size_t i = 0; i < s.size() && i < max; ++i) {
        const unsigned char ch = static_cast<unsigned char>(s[i]);
        if (ch == '\n')
            r += "\\n";
        else if (ch < 0x20 || ch > 0x7E) {
            static const char hex[] = "0123456789abcdef";
            r += "\\x";
            r += hex[ch >> 4];
            r += hex[ch & 15];
        } else
            r += static_cast<char>(ch);
    }
    if (s.size() > max) r += "...";
    return r;
}

std::string first_difference(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    const std::size_t from = i > 20 ? i - 20 : 0;
    return "outputs differ at byte " + std::to_string(i) + ": vexl \"" + excerpt(a.substr(from), 60) + "\", C \"" +
           excerpt(b.substr(from), 60) + "\"";
}

}  // namespace

bool clean_summary(const std::string& err) {
    // "エラー 0、警告 0" and a newline, in code page 932.
    static const std::string tail = "\x83\x47\x83\x89\x81\x5b 0\x81\x41\x8c\x78\x8d\x90 0\n";
    return err.size() >= tail.size() && err.compare(err.size() - tail.size(), tail.size(), tail) == 0 &&
           err.find('\n') == err.size() - 1;
}

Outcome check(std::uint64_t seed, const proggen::Program& program, const Tools& tools, const fs::path& dir) {
    Outcome o;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    if (!write_file(dir / "prog.vxl", program.source) || !write_file(dir / "prog.in", program.input)) {
        o.reason = "cannot write the program into " + dir.string();
        return o;
    }
    std::ostringstream report;
    report << "seed " << seed << "\nreproduce: vexl-proggen " << seed << " --input prog.in > prog.vxl\n";
    ProcessResult vm, c;
    auto fail = [&](const std::string& reason) {
        o.reason = reason;
        o.saved = dir;
        report << reason << "\n";
        write_file(dir / "report.txt", report.str());
        write_file(dir / "vexl.out", vm.out);
        write_file(dir / "vexl.err", vm.err);
        write_file(dir / "c.out", c.out);
        return o;
    };

    const ProcessResult comp = run_process({{tools.vexlc, "prog.vxl"}, dir, "", kCompileTimeoutMs});
    if (!comp.exited_with(0) || !clean_summary(comp.err)) {
        write_file(dir / "vexlc.err", comp.err);
        return fail("vexlc: " + comp.describe() + ", standard error \"" + excerpt(comp.err) + "\"");
    }

    vm = run_process({{tools.vexl, "prog.exec"}, dir, program.input, kRunTimeoutMs});
    if (!vm.exited_with(0) || !vm.err.empty())
        return fail("vexl: " + vm.describe() + ", standard error \"" + excerpt(vm.err) + "\"");

    const ProcessResult cc = run_process({{tools.cc, "-std=gnu17", "-w", "-o", "prog", "prog.c"}, dir, "", kCcTimeoutMs});
    if (!cc.exited_with(0)) {
        write_file(dir / "cc.err", cc.err);
        return fail("C compiler: " + cc.describe() + ", standard error \"" + excerpt(cc.err) + "\"");
    }
    // The C program's exit status is whatever main left behind (it is
    // declared void), so only a signal or a timeout counts.
    c = run_process({{(dir / "prog").string()}, dir, program.input, kRunTimeoutMs});
    if (!c.started || c.timed_out || c.signal != 0) return fail("C program: " + c.describe());

    if (vm.out != c.out) return fail(first_difference(vm.out, c.out));
    fs::remove_all(dir, ec);
    o.ok = true;
    return o;
}

}  // namespace differential
