// Fuzz target for the compiler: every input is a source file in a private
// temporary folder, compiled in-process by compile() with fd 2 caught in a
// file. The folder is passed by absolute path (the outputs are named from
// the argument), so the fuzzer's own relative paths keep working. After each run the target checks what a caller of the compiler
// relies on and aborts on any breach:
//   - the status is 0, 1 or -1;
//   - after status 1 or -1 no output file was created, and output files
//     left by an earlier run are untouched; after status 0 both exist anew;
//   - with status 0 or 1 the last line is the summary, and its counts equal
//     the printed error and warning lines (status 1 exactly when errors > 0);
//   - with status -1 there is no summary line, the text ends with the abort
//     line, and an error-limit stop has listed exactly 101 errors.
// Inputs whose first byte is odd run with stale output files planted first.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "driver.h"
#include "streams.h"
#include "symbols.h"

namespace {

// Absolute names inside the private folder.
std::string g_workdir, g_source, g_exec, g_c, g_caught;
const std::string kStaleExec = "stale image\n";
const std::string kStaleC = "/* stale C text */\n";

// The compiler's printed prefixes in code page 932.
const std::string kErrorLine = "\x83\x47\x83\x89\x81\x5b(";       // "エラー("
const std::string kWarningLine = "\x8c\x78\x8d\x90(";             // "警告("
const std::string kWarningNoLine = "\x8c\x78\x8d\x90: ";          // "警告: "
const std::string kSummaryErrors = " - \x83\x47\x83\x89\x81\x5b ";  // " - エラー "
const std::string kSummaryWarnings = "\x81\x41\x8c\x78\x8d\x90 ";   // "、警告 "
const std::string kAbort =                                          // "コンパイルを中断します"
    "\x83\x52\x83\x93\x83\x70\x83\x43\x83\x8b\x82\xf0\x92\x86\x92\x66\x82\xb5\x82\xdc\x82\xb7";
const std::string kTooManyErrors =  // "エラーの数が100を超えました"
    "\x83\x47\x83\x89\x81\x5b\x82\xcc\x90\x94\x82\xaa" "100" "\x82\xf0\x92\xb4\x82\xa6\x82\xdc\x82\xb5\x82\xbd";

int g_real_stderr = -1;   // the process's own stderr, kept while fd 2 is caught
bool g_catching = false;  // fd 2 currently goes to the caught file

void restore_stderr() {
    if (!g_catching) return;
    std::fflush(stderr);
    dup2(g_real_stderr, 2);
    g_catching = false;
}

std::string read_file(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool exists(const std::string& name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

void write_file(const std::string& name, const std::string& bytes) {
    std::ofstream f(name, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    if (!f) {
        std::fprintf(stderr, "fuzz_compiler: cannot write %s\n", name.c_str());
        std::abort();
    }
}

void remove_outputs() {
    std::remove(g_exec.c_str());
    std::remove(g_c.c_str());
}

// If the compiler ends the process itself (the scanner's fatal exit), the
// report must reach the real stderr, and the working directory goes away.
void at_exit() {
    if (g_catching) {
        restore_stderr();
        std::fprintf(stderr, "fuzz_compiler: the compiler ended the process; its stderr was:\n%s\n",
                     read_file(g_caught).c_str());
    }
    remove_outputs();
    std::remove(g_source.c_str());
    std::remove(g_caught.c_str());
    if (!g_workdir.empty()) rmdir(g_workdir.c_str());
}

[[noreturn]] void violation(const std::string& what, int status, const std::string& caught) {
    std::fprintf(stderr, "fuzz_compiler: %s (status %d); the compiler's stderr was:\n", what.c_str(), status);
    std::fwrite(caught.data(), 1, caught.size(), stderr);
    std::fputs("\n", stderr);
    std::abort();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

bool is_summary(const std::string& line) {
    return line.starts_with(g_source) && line.find(kSummaryErrors) != std::string::npos;
}

void check(int status, const std::string& caught, bool stale_planted) {
    auto fail = [&](const std::string& what) { violation(what, status, caught); };
    if (status != 0 && status != 1 && status != -1) fail("exit status outside 0, 1, -1");
    if (!caught.empty() && caught.back() != '\n') fail("stderr does not end with a newline");

    const std::vector<std::string> lines = split_lines(caught);
    long errors = 0, warnings = 0;
    for (const std::string& l : lines) {
        if (l.starts_with(kErrorLine)) ++errors;
        else if (l.starts_with(kWarningLine) || l.starts_with(kWarningNoLine)) ++warnings;
    }

    if (status == -1) {
        for (const std::string& l : lines)
            if (is_summary(l)) fail("summary line printed after a fatal error");
        if (lines.size() < 2 || lines.back() != kAbort) fail("fatal error without the abort line");
        const bool limit = lines[lines.size() - 2] == kTooManyErrors;
        if (limit && errors != 101) fail("error limit reported after " + std::to_string(errors) + " errors");
        if (!limit && errors > 100) fail("more than 100 errors listed without the limit message");
    } else {
        const std::string summary = g_source + kSummaryErrors + std::to_string(errors) +
                                    kSummaryWarnings + std::to_string(warnings);
        if (lines.empty() || lines.back() != summary)
            fail("last line is not the summary \"" + summary + "\" matching the listed diagnostics");
        for (std::size_t i = 0; i + 1 < lines.size(); ++i)
            if (is_summary(lines[i])) fail("more than one summary line");
        if ((status == 1) != (errors > 0)) fail("status does not tell whether errors were listed");
        if (errors > 100) fail("more than 100 errors without a fatal stop");
    }

    if (status == 0) {
        if (!exists(g_exec) || !exists(g_c)) fail("successful compilation without both output files");
        const std::string image = read_file(g_exec);
        if (image.size() % 2 != 0) fail("image with an odd number of bytes");
        if (stale_planted && (image == kStaleExec || read_file(g_c) == kStaleC))
            fail("successful compilation left a stale output file");
    } else if (stale_planted) {
        if (!exists(g_exec) || read_file(g_exec) != kStaleExec) fail("failed compilation changed the old image");
        if (!exists(g_c) || read_file(g_c) != kStaleC) fail("failed compilation changed the old C text");
    } else if (exists(g_exec) || exists(g_c)) {
        fail("failed compilation created an output file");
    }
}

// compile() resets the global compiler state when it starts, so a run's
// diagnostics, words, C text and symbols stay allocated until the next run.
// Releasing them here keeps each run's allocations balanced; otherwise the
// fuzzer suspects a leak after almost every input and re-runs it to check.
void release_compiler_state() {
    diagnostics.clear();
    word_stream.clear();
    c_text.clear();
    map_manager.clear();
}

// Makes the private folder and registers its removal. Done at the first
// input rather than at start-up, so that a run that never gets that far
// leaves nothing behind, and so that the exit handler runs before the
// fuzzer's own one reports an exit of the compiler.
void set_up() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexl-fuzz-compiler-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        std::fprintf(stderr, "fuzz_compiler: cannot create %s: %s\n", buf.data(), std::strerror(errno));
        std::abort();
    }
    g_workdir = buf.data();
    g_source = g_workdir + "/fuzz.vxl";
    g_exec = g_workdir + "/fuzz.exec";
    g_c = g_workdir + "/fuzz.c";
    g_caught = g_workdir + "/stderr.txt";
    std::atexit(at_exit);
    // Sanitizer reports must not vanish into the caught file when they
    // happen during a compilation.
    g_real_stderr = dup(2);
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(g_real_stderr)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = (set_up(), true);
    (void)ready;

    const bool stale = size > 0 && (data[0] & 1) != 0;
    remove_outputs();
    if (stale) {
        write_file(g_exec, kStaleExec);
        write_file(g_c, kStaleC);
    }
    write_file(g_source, std::string(reinterpret_cast<const char*>(data), size));

    const int fd = open(g_caught.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    std::fflush(stderr);
    dup2(fd, 2);
    close(fd);
    g_catching = true;
    const char* const argv[] = {"vexlc", g_source.c_str(), nullptr};
    const int status = compile(2, argv);
    restore_stderr();

    release_compiler_state();

    check(status, read_file(g_caught), stale);
    return 0;
}
