// Broken sources, generated from a fixed seed: mutated programs, token
// soup and random bytes go through the whole compiler. Whatever the input,
// the compiler must not crash, must end with status 0, 1 or -1, and its
// summary line must count exactly the errors and warnings it printed.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "driver.h"
#include "support.h"

using vexltest::TempDir;
using vexltest::write_file;
namespace fs = std::filesystem;

namespace {

const char* const kPrograms[] = {
    "int g, t[4];\nconst int k := 3;\nbool flag := true;\n"
    "function int add(int a, const int b) { return a + b; }\n"
    "function void start() {\n  int i;\n  for (i := 0; i < k; i := i + 1) { t[i] := add(i, k) * 2; }\n"
    "  if (t[1] >< 0 and not flag) output \"yes\\\"\"; else output t[2] div 2 mod 3;\n"
    "  while (i > 0) { i := i - 1; if (i = 1) break; else continue; }\n"
    "  do input g; while (g < 0 or g > 100);\n  input t[0];\n  output - g + (+ 1);\n}\n",

    "// line comment\n/* block\n comment */\n"
    "function bool odd(int n) { if (n = 0) return false; return not odd(n - 1) xor false; }\n"
    "function void main() { }\n"
    "function void start() { bool b; b := odd(7) = true; output b; output \"\x83\x41\"; return; }\n",

    "function void start() { int x := 32767, y[2]; x := x * x >= 1 <= 2 < 3 > 4; y[x] := f(1, 2, 3); }\n"
    "function int f(int a, int b, int c) { return a; }\n",
};

const char* const kTokens[] = {
    "void", "int", "bool", "const", "function", "return", "if", "else", "while", "do", "for", "break",
    "continue", "input", "output", ":=", "and", "or", "xor", "><", "<=", ">=", "div", "mod", "not", "&",
    "(", ")", "*", "+", ",", "-", ";", "<", "=", ">", "[", "]", "{", "}", "0", "7", "32768", "true",
    "false", "x", "start", "main", "\"s\"", "\"\\\"", "/*", "*/", "//", "\n", " ", "\r", "\r\n", ":", "/",
    "#", "\"", "\x82", "\xA0", "" /* NUL */, "99999999999", "abcdefghijklmnopqrstuvwxyz0123456",
};

class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    std::string next() {
        switch (pick(6)) {
        case 0: return soup();
        case 1: return bytes();
        default: return mutate(kPrograms[pick(std::size(kPrograms))]);
        }
    }

private:
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
    std::string token() {
        const std::size_t i = pick(std::size(kTokens));
        return *kTokens[i] ? kTokens[i] : std::string(1, '\0');  // the NUL entry
    }

    std::string soup() {
        std::string s;
        for (std::size_t n = pick(80); n > 0; --n) s += token() + (pick(3) ? " " : "");
        return s;
    }

    std::string bytes() {
        std::string s;
        for (std::size_t n = pick(300); n > 0; --n) s += static_cast<char>(pick(256));
        return s;
    }

    std::string mutate(std::string s) {
        for (std::size_t n = 1 + pick(4); n > 0; --n) {
            const std::size_t at = pick(s.size() + 1);
            switch (pick(6)) {
            case 0: s.erase(at, pick(20)); break;                             // drop a piece
            case 1: s.insert(at, token()); break;                             // insert a token
            case 2: s.insert(at, 1, static_cast<char>(pick(256))); break;     // insert a byte
            case 3: s.insert(at, s.substr(pick(s.size() + 1), pick(40))); break;  // repeat a piece
            case 4: s.resize(at); break;                                      // cut the end off
            default:
                if (at < s.size()) s[at] = static_cast<char>(pick(256));      // change a byte
            }
        }
        return s;
    }

    std::mt19937 rng_;
};

int count_prefix(const std::string& text, const std::string& prefix) {
    int n = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        if (text.compare(start, prefix.size(), prefix) == 0) ++n;
        const std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return n;
}

// Checks one compilation's outcome; returns a description of what is wrong.
std::string check(int status, const std::string& err, const std::string& name, bool outputs) {
    const int errors = count_prefix(err, "エラー("_sj);
    const int warnings = count_prefix(err, "警告("_sj) + count_prefix(err, "警告: "_sj);
    const std::string head = name + " - エラー "_sj;
    const std::size_t at = err.rfind(head);
    if (at != std::string::npos && (at == 0 || err[at - 1] == '\n')) {
        const std::string expected = head + std::to_string(errors) + "、警告 "_sj + std::to_string(warnings) + "\n";
        // the output stage may still fail after the summary
        if (err.compare(at, expected.size(), expected) != 0) return "summary does not match the listed diagnostics";
        if (status == -1) return "";
        if (at + expected.size() != err.size()) return "text after the summary line";
        if (status != (errors > 0 ? 1 : 0)) return "status " + std::to_string(status);
        if (outputs != (errors == 0)) return outputs ? "files written despite errors" : "files missing";
        return "";
    }
    if (status != -1) return "no summary line, status " + std::to_string(status);
    const std::string abort = "コンパイルを中断します\n"_sj;
    if (err.size() < abort.size() || err.compare(err.size() - abort.size(), abort.size(), abort) != 0)
        return "no fatal message";
    if (outputs) return "files written after a fatal error";
    return "";
}

}  // namespace

TEST(Random, BrokenSourcesInProcess) {
    TempDir dir;
    const std::string source = (dir / "case.vxl").string();
    const fs::path exec_file = dir / "case.exec", c_file = dir / "case.c";
    // A crash leaves the case that caused it behind.
    std::printf("random sources are written to %s\n", source.c_str());
    Generator gen(20240611);
    int seen[3] = {0, 0, 0};  // statuses -1, 0 and 1
    for (int i = 0; i < 400; ++i) {
        const std::string text = gen.next();
        write_file(source, text);
        fs::remove(exec_file);
        fs::remove(c_file);
        const char* argv[] = {"vexlc", source.c_str()};
        testing::internal::CaptureStderr();
        const int status = compile(2, argv);
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string problem = check(status, err, source, fs::exists(exec_file) && fs::exists(c_file));
        ASSERT_EQ(problem, "") << "case " << i << ", source:\n" << text << "\nstandard error:\n" << err;
        ++seen[status + 1];
    }
    // the mix reaches every outcome
    std::printf("statuses -1/0/1: %d/%d/%d\n", seen[0], seen[1], seen[2]);
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
    EXPECT_GT(seen[2], 0);
}

// A few of the same kind through the real program: exit statuses as the
// shell sees them, and no crash.
TEST(Random, BrokenSourcesAsProgram) {
    TempDir dir;
    Generator gen(7);
    for (int i = 0; i < 25; ++i) {
        const std::string text = gen.next();
        write_file(dir / "case.vxl", text);
        fs::remove(dir / "case.exec");
        fs::remove(dir / "case.c");
        const vexltest::ProcessResult r = vexltest::run_vexlc({"case.vxl"}, dir.path());
        ASSERT_EQ(r.signal, 0) << "case " << i << ", source:\n" << text;
        ASSERT_TRUE(r.status == 0 || r.status == 1 || r.status == 255) << r.status;
        const int status = r.status == 255 ? -1 : r.status;
        EXPECT_EQ(check(status, r.err, "case.vxl", fs::exists(dir / "case.exec") && fs::exists(dir / "case.c")), "")
            << "case " << i << ", source:\n" << text << "\nstandard error:\n" << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// Very long lines of every kind in one source.
TEST(Random, VeryLongLines) {
    TempDir dir;
    const std::size_t mb = 1 << 20;
    std::string text = "/*" + std::string(mb, 'c') + "*/\n// " + std::string(mb, '/') + "\n";
    text += "function void start() {\n output \"" + std::string(mb, 's') + "\";\n";
    text += " x := " + std::string(mb, '9') + ";\n " + std::string(mb, 'v') + " := 1;\n";
    text += std::string(mb / 4, '\x82') + "\n}\n";
    write_file(dir / "long.vxl", text);
    const vexltest::ProcessResult r = vexltest::run_vexlc({"long.vxl"}, dir.path());
    ASSERT_EQ(r.signal, 0);
    // so many illegal bytes end the compilation at the 101st
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(count_prefix(r.err, "エラー("_sj), 101);
}
