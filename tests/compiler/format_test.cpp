// The formatter against the compiler: every example and thousands of
// generated programs, their layout scrambled and comments added, must
// format to a text that compiles to the same image, that formats to
// itself, and (without comments) that does not depend on the layout it
// came in. VEXL_FORMAT_PROGRAMS sets how many generated programs (2,000).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "compile.h"
#include "format.h"
#include "generator.h"

namespace {

std::vector<image::Word> image_of(const std::string& source) {
    const CompileResult r = compile_source("p.vxl", source);
    EXPECT_EQ(r.status, 0) << source;
    return r.words;
}

std::string formatted(const std::string& source) {
    const format::Result r = format::format_source(source);
    EXPECT_TRUE(r.ok) << r.line << ": " << r.error << "\n" << source;
    return r.text;
}

// The source with every run of blanks outside texts and comments replaced
// by a random one (a run holding a blank line keeps it, one beside a
// comment whether it breaks the line), blanks added around the
// one-byte tokens that cannot fuse with a neighbour and, with `comments`,
// comments after some statements and before some tokens.
std::string scrambled(const std::string& s, std::mt19937_64& random, bool comments) {
    // The first three hold no line break: added blanks must not make a
    // blank line with the run beside them.
    static const char* const kBlanks[] = {" ", "  ", "\t", "\n", "\n\t  ", " \n "};
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::string out;
    bool in_text = false;
    bool after_comment = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (in_text) {
            out += c;
            if (c == '"' && s[i - 1] != '\\') in_text = false;
            continue;
        }
        if (c == '"') {
            in_text = true;
            out += c;
            continue;
        }
        if (s.compare(i, 2, "//") == 0 || s.compare(i, 2, "/*") == 0) {  // comments stay as they are
            const std::size_t end = s[i + 1] == '/' ? s.find('\n', i) : s.find("*/", i) + 2;
            out.append(s, i, end - i);
            after_comment = true;
            i = end - 1;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n') {
            std::size_t j = i;
            int breaks = 0;
            while (j < s.size() && (s[j] == ' ' || s[j] == '\t' || s[j] == '\n')) breaks += s[j++] == '\n';
            // Beside a comment, whether the run breaks the line stays.
            const bool beside_comment = after_comment || s.compare(j, 2, "//") == 0 || s.compare(j, 2, "/*") == 0;
            if (breaks >= 2) out += "\n\n";
            else if (beside_comment) out += breaks ? kBlanks[3 + pick(3)] : kBlanks[pick(3)];
            else out += kBlanks[pick(6)];
            after_comment = false;
            i = j - 1;
            continue;
        }
        const bool safe = std::string_view("()[]{},;").find(c) != std::string_view::npos;
        if (safe && pick(4) == 0) out += kBlanks[pick(3)];
        // A comment goes only where a token surely starts.
        const auto single = [](char b) { return std::string_view("()[]{},; \t\n").find(b) != std::string_view::npos; };
        if (comments && (safe || i == 0 || single(s[i - 1])) && pick(40) == 0) out += "/* c */";
        out += c;
        if (safe && pick(4) == 0) out += kBlanks[pick(3)];
        if (comments && (c == ';' || c == '{') && pick(8) == 0) out += pick(2) ? " // note\n" : "\n// own line\n";
    }
    return out;
}

void check(const std::string& source, std::mt19937_64& random) {
    const std::vector<image::Word> image = image_of(source);
    const std::string once = formatted(source);
    ASSERT_EQ(formatted(once), once) << "not idempotent:\n" << source;
    ASSERT_EQ(image_of(once), image) << "another image:\n" << source << "\n---\n" << once;
    // The layout it came in does not matter, comments aside.
    const std::string plain = scrambled(source, random, false);
    ASSERT_EQ(formatted(plain), once) << "depends on the layout:\n" << plain;
    const std::string noted = formatted(scrambled(source, random, true));
    ASSERT_EQ(formatted(noted), noted) << "not idempotent with comments:\n" << noted;
    ASSERT_EQ(image_of(noted), image) << "another image with comments:\n" << noted;
}

}  // namespace

TEST(Format, EveryExample) {
    std::mt19937_64 random(1);
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(VEXL_EXAMPLES_DIR)) {
        if (e.path().extension() != ".vxl") continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        SCOPED_TRACE(e.path().string());
        // The examples are written in the canonical layout.
        EXPECT_EQ(formatted(text.str()), text.str());
        check(text.str(), random);
        ++n;
    }
    EXPECT_GT(n, 10);
}

TEST(Format, GeneratedPrograms) {
    const char* count = std::getenv("VEXL_FORMAT_PROGRAMS");
    const int programs = count ? std::atoi(count) : 2000;
    std::mt19937_64 random(2);
    for (int seed = 1; seed <= programs; ++seed) {
        SCOPED_TRACE("vexl-proggen " + std::to_string(seed));
        check(proggen::generate(static_cast<std::uint64_t>(seed)).source, random);
        if (HasFatalFailure()) return;
    }
}

TEST(Format, Layout) {
    const std::string messy =
        "// head\nint   g:=1 ;int a[3],b;   // trailing\n\n\n"
        "function int f(int x,int y){if(x<y)return -x;else return x- -y;}\n"
        "function void start(){\n   /* block */ int i;\n"
        "   do { i := i - 1; } while (i > 0);\n"
        "   if (i = 0) { output \"z\"; } else if (i >< 1)\n   {\n  output \"y\";   /* after */\n   }\n\n\n"
        "   while(not(i>=5))i:=i+1;\n   i := a[ 1 ]+(\n      2 // inside\n      * 3);\n}\n";
    EXPECT_EQ(formatted(messy),
              "// head\nint g := 1;\nint a[3], b; // trailing\n\n"
              "function int f(int x, int y) {\n    if (x < y) return -x;\n    else return x - -y;\n}\n"
              "function void start() {\n    /* block */ int i;\n"
              "    do {\n        i := i - 1;\n    } while (i > 0);\n"
              "    if (i = 0) {\n        output \"z\";\n    } else if (i >< 1) {\n        output \"y\"; /* after */\n    }\n\n"
              "    while (not (i >= 5)) i := i + 1;\n    i := a[1] + (2 // inside\n        * 3);\n}\n");
    // Tokens that would fuse stay apart; CR LF becomes LF.
    EXPECT_EQ(formatted("x:=a< =b>  <c;\r\nx:=- -1;"), "x := a < = b > < c;\nx := --1;\n");
    // What is no token is not formatted.
    for (const char* bad : {"int x; #", "x := \"\";", "/* open", "a : b"}) {
        const format::Result r = format::format_source(bad);
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_EQ(r.line, 1) << bad;
    }
}

TEST(Format, Lines) {
    const std::string source = "function void start() {\nint x;\n  x:=1;   output x;\nx := 2 +\n3;\n}\n";
    const format::Result r = format::format_lines(source, 3, 4);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "function void start() {\nint x;\n    x := 1;\n    output x;\n    x := 2 + 3;\n}\n");
    EXPECT_EQ(format::format_lines(source, 1, 6).text, formatted(source));
}
