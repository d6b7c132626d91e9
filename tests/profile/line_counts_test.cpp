// Line counts held to an independent count. For generated programs, every
// line that holds one simple statement (an assignment, input, output or a
// call) gets a marker written before the statement, and the marked program
// goes through its C translation and the C compiler: how often each marker
// appears is how often the statement ran, known without the machine or the
// line table. `vexl --line-counts-json` on the unmarked program must give
// each such line that count, on both engines, and the program's own output
// must be what `vexl` alone prints.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>

#include "generator.h"
#include "test_support.h"

namespace {

using vexltest::Command;
using vexltest::ProcessResult;
using vexltest::run_process;
using vexltest::TempDir;

// The simple statement a line holds alone, or "" when it holds anything else.
std::string simple_statement(const std::string& line) {
    static const std::regex simple(
        R"(^\s*((?:[A-Za-z_]\w*(?:\[[^\]]*\])?\s*:=.*|input\s.*|output\s.*|[A-Za-z_]\w*\(.*\));)\s*$)");
    static const std::regex keyword(R"(\b(if|else|for|while|do|return|break|continue|int|bool|const)\b)");
    std::smatch m;
    if (!std::regex_match(line, m, simple)) return "";
    const std::string stmt = m[1];
    // Texts may hold anything; keywords and braces only count outside them.
    std::string bare;
    bool in_text = false;
    for (std::size_t i = 0; i < stmt.size(); ++i) {
        if (stmt[i] == '"') in_text = !in_text;
        else if (in_text && stmt[i] == '\\') ++i;
        else if (!in_text) bare += stmt[i];
    }
    if (std::regex_search(bare, keyword) || bare.find_first_of("{}") != std::string::npos) return "";
    return stmt;
}

// The program with a marker before each simple statement, on the same line;
// `marked` receives the numbers of those lines.
std::string mark(const std::string& source, std::vector<int>& marked) {
    std::istringstream in(source);
    std::string out;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string stmt = simple_statement(line);
        if (!stmt.empty()) {
            const std::size_t at = line.find(stmt);
            line = line.substr(0, at) + "{ output \"\\x01L" + std::to_string(number) + "\\x02\"; " + stmt + " }" +
                   line.substr(at + stmt.size());
            marked.push_back(number);
        }
        out += line + "\n";
    }
    return out;
}

std::map<int, std::uint64_t> marker_counts(const std::string& output) {
    std::map<int, std::uint64_t> counts;
    for (std::size_t p = output.find('\x01'); p != std::string::npos; p = output.find('\x01', p + 1)) {
        const std::size_t end = output.find('\x02', p);
        if (end == std::string::npos) break;
        ++counts[std::stoi(output.substr(p + 2, end - p - 2))];
    }
    return counts;
}

ProcessResult run(std::vector<std::string> argv, const TempDir& dir, const std::string& input = "") {
    Command c{std::move(argv), dir.path(), input};
    c.timeout_ms = 60000;
    return run_process(c);
}

TEST(LineCounts, EqualToStatementExecutionsOfGeneratedPrograms) {
    int lines_checked = 0;
    for (std::uint64_t seed = 1; seed <= 16; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const proggen::Program program = proggen::generate(seed);
        TempDir dir;
        dir.write("p.vxl", program.source);
        std::vector<int> marked;
        dir.write("m.vxl", mark(program.source, marked));

        ProcessResult r = run({VEXL_VEXLC, "m.vxl"}, dir);
        ASSERT_TRUE(r.exited_with(0)) << r.describe() << r.err;
        r = run({VEXL_CC, "-std=gnu17", "-w", "-o", "m", "m.c"}, dir);
        ASSERT_TRUE(r.exited_with(0)) << r.describe() << r.err;
        const ProcessResult marked_run = run({(dir / "m").string()}, dir, program.input);
        const std::map<int, std::uint64_t> executed = marker_counts(marked_run.out);

        r = run({VEXL_VEXLC, "-g", "p.vxl"}, dir);
        ASSERT_TRUE(r.exited_with(0)) << r.describe();
        const ProcessResult plain = run({VEXL_VEXL, "p"}, dir, program.input);
        for (const char* engine : {"--engine=reference", "--engine=native"}) {
            const ProcessResult counted =
                run({VEXL_VEXL, engine, "--line-counts-json=p.json", "--line-counts=p.gcov", "p"}, dir, program.input);
            ASSERT_EQ(counted.status, plain.status) << engine;
            ASSERT_EQ(counted.out, plain.out) << engine;
            const nlohmann::json j = nlohmann::json::parse(dir.read("p.json"));
            std::map<int, std::uint64_t> counts;
            for (const auto& l : j["lines"]) counts[l["line"].get<int>()] = l["count"].get<std::uint64_t>();
            for (const int line : marked) {
                const auto it = executed.find(line);
                EXPECT_EQ(counts.count(line) ? counts[line] : 0, it == executed.end() ? 0 : it->second)
                    << engine << " line " << line;
            }
        }
        lines_checked += int(marked.size());
    }
    EXPECT_GT(lines_checked, 120);
}

// The text layout: a header, then every source line with its count, "#####"
// for code never run and "-" for a line without code; the flat profile
// counts calls and splits a recursive function's instructions.
TEST(LineCounts, AnnotatedSourceAndProfile) {
    TempDir dir;
    dir.write("f.vxl",
              "int g;\n"
              "function int fact(int n) {\n"
              "    if (n <= 1) {\n"
              "        return 1;\n"
              "    } else {\n"
              "        g := 0 - 1;\n"
              "    }\n"
              "    return n * fact(n - 1);\n"
              "}\n"
              "function void start() {\n"
              "    output fact(4);\n"
              "    if (g > 0) {\n"
              "        output \"never\";\n"
              "    }\n"
              "}\n");
    ASSERT_TRUE(run({VEXL_VEXLC, "-g", "f.vxl"}, dir).exited_with(0));
    const ProcessResult r = run({VEXL_VEXL, "--line-counts=f.gcov", "--profile=f.prof", "f"}, dir);
    ASSERT_TRUE(r.exited_with(0)) << r.err;
    EXPECT_EQ(r.out, "24");
    const std::string gcov = dir.read("f.gcov");
    EXPECT_EQ(gcov.rfind("        -:    0:Source:f.vxl\n        -:    0:Runs:1\n        -:    0:Instructions:", 0), 0u)
        << gcov;
    EXPECT_NE(gcov.find("\n        -:    1:int g;\n"), std::string::npos) << gcov;
    EXPECT_NE(gcov.find("        4:    3:    if (n <= 1) {\n"), std::string::npos) << gcov;
    EXPECT_NE(gcov.find("        1:    4:        return 1;\n"), std::string::npos) << gcov;
    EXPECT_NE(gcov.find("        -:    5:    } else {\n"), std::string::npos) << gcov;
    EXPECT_NE(gcov.find("        3:    8:    return n * fact(n - 1);\n"), std::string::npos) << gcov;
    EXPECT_NE(gcov.find("    #####:   13:        output \"never\";\n"), std::string::npos) << gcov;
    const std::string prof = dir.read("f.prof");
    EXPECT_NE(prof.find("           4  fact\n"), std::string::npos) << prof;
    EXPECT_NE(prof.find("           1  start\n"), std::string::npos) << prof;

    // Without the debug file: a message, and no run.
    std::filesystem::remove(dir / "f.dbg");
    const ProcessResult bare = run({VEXL_VEXL, "--line-counts=x.gcov", "f"}, dir);
    EXPECT_TRUE(bare.exited_with(1));
    EXPECT_EQ(bare.out, "");
    EXPECT_NE(bare.err.find("f.dbg"), std::string::npos) << bare.err;
}

}  // namespace
