// The debugger held to an oracle that owes nothing to the line table:
// generated programs are run twice. Once as a copy in which every line
// holding one simple statement first prints a marker naming the line (run
// on the machine; the markers count how often each statement executed),
// and once unchanged under the debugger, which must stop at a breakpoint
// on each such line exactly that often, and whose `step` sequence must
// stop at the beginning of each such line exactly that often.
//
//   debugger_oracle [--count N] [--first-seed S] [--budget B]
// VEXL_ORACLE_COUNT overrides the count (CTest runs a bounded sample).
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "compile.h"
#include "report.h"
#include "debuginfo.h"
#include "generator.h"
#include "machine.h"
#include "session.h"

namespace {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// A line holding one simple statement (an assignment, input, output, a
// call, return, break or continue) and nothing else.
bool simple_statement(const std::string& line) {
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line.back() != ';') return false;
    const std::string s = line.substr(first);
    for (const char* word : {"int ", "bool ", "const ", "if ", "if(", "else", "for ", "for(", "while", "do ",
                             "do{", "}", "{", "function", "//"})
        if (starts_with(s, word)) return false;
    // A text may hold a semicolon; the statement ends at the last one only.
    bool in_text = false;
    std::size_t semicolons = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && in_text) ++i;
        else if (s[i] == '"') in_text = !in_text;
        else if (s[i] == ';' && !in_text) ++semicolons;
    }
    return semicolons == 1;
}

// The marker of a line: backticks and semicolons never occur in generated
// texts, nor in numbers and truth values.
std::string marker(std::size_t line) { return "`" + std::to_string(line) + ";"; }

struct Debugged {
    std::string console, error;
    debugger::Session session;
    explicit Debugged(debugger::Program p)
        : session(std::move(p), {[](std::string_view) {}, [this](std::string_view t) { console += t; },
                                 [this](std::string_view t) { error += t; }}) {}
    // Runs a command and returns what it said.
    std::string run(const std::string& command) {
        console.clear();
        if (!session.execute(command)) throw std::runtime_error(command + ": " + error);
        return console;
    }
};

bool ended(const std::string& said) {
    return said.find("[program exited normally]") != std::string::npos ||
           said.find("runtime error") != std::string::npos;
}

// Checks one seed; returns the failures as text, empty when it passed.
std::string check(std::uint64_t seed, const proggen::Options& options, std::size_t& checked_lines,
                  long& executions) {
    const proggen::Program program = proggen::generate(seed, options);
    const std::vector<std::string> lines = split_lines(program.source);
    std::vector<std::size_t> simple;  // line numbers
    std::string counted_source;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (simple_statement(lines[i])) {
            simple.push_back(i + 1);
            const std::size_t indent = lines[i].find_first_not_of(' ');
            counted_source += lines[i].substr(0, indent) + "{ output \"" + marker(i + 1) + "\"; " +
                              lines[i].substr(indent) + " }\n";
        } else {
            counted_source += lines[i] + "\n";
        }
    }
    std::ostringstream fail;

    // The oracle: how often each line ran.
    const CompileResult counted = compile_source("counted.vxl", counted_source);
    if (counted.status != 0) return "the counting copy does not compile:\n" + report(counted, counted_source, ReportStyle{});
    std::map<std::size_t, long> expected;
    {
        std::istringstream in(program.input);
        std::ostringstream out, err;
        vm::Machine m(in, out, err);
        m.load(counted.words);
        const vm::RunResult r = m.execute_capped(50'000'000);
        if (r.end != vm::RunResult::End::finished) return "the counting copy did not finish";
        const std::string text = out.str();
        for (std::size_t line : simple) {
            const std::string mark = marker(line);
            long n = 0;
            for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) ++n;
            expected[line] = n;
            executions += n;
        }
    }

    CompileOptions g;
    g.g = true;
    const CompileResult compiled = compile_source("p.vxl", program.source, g);
    if (compiled.status != 0) return "does not compile";
    debuginfo::ReadResult read = debuginfo::read(compiled.debug_text);
    if (!read.info) return "debug information rejected: " + read.error;
    debugger::Program p;
    p.image_name = "p.exec";
    p.words = compiled.words;
    p.info = std::move(read.info);
    p.source = lines;

    // Breakpoints on every simple line, counted through one run.
    {
        Debugged d(p);
        d.session.set_input_text(program.input);
        std::map<int, std::size_t> line_of;  // breakpoint number -> line
        const std::regex set(R"(^Breakpoint (\d+) at 0x[0-9a-f]+: file p\.vxl, line (\d+)\.)");
        for (std::size_t line : simple) {
            const std::string said = d.run("break " + std::to_string(line));
            std::smatch m;
            if (!std::regex_search(said, m, set) || std::stoul(m[2]) != line) {
                fail << "  break " << line << ": " << said;
                continue;
            }
            line_of[std::stoi(m[1])] = line;
        }
        std::map<std::size_t, long> hits;
        const std::regex hit(R"(\nBreakpoint (\d+), )");
        for (std::string said = d.run("run");; said = d.run("continue")) {
            for (std::sregex_iterator it(said.begin(), said.end(), hit), end; it != end; ++it)
                ++hits[line_of[std::stoi((*it)[1])]];
            if (ended(said)) break;
        }
        for (std::size_t line : simple)
            if (hits[line] != expected[line])
                fail << "  breakpoint on line " << line << ": " << hits[line] << " stops, ran " << expected[line]
                     << " times\n";
    }

    // `step` from the first line to the end: a stop at the beginning of a
    // line names no address.
    {
        Debugged d(p);
        d.session.set_input_text(program.input);
        d.run("break start");
        std::map<std::size_t, long> stops;
        const std::regex at(R"(^(Breakpoint \d+, )?(0x[0-9a-f]+ in )?\S+ \(.*\) at p\.vxl:(\d+)$)");
        std::string said = d.run("run");
        for (long guard = 0; guard < 1'000'000; ++guard) {
            for (const std::string& line : split_lines(said)) {
                std::smatch m;
                if (!std::regex_match(line, m, at)) continue;
                if (!m[2].matched) ++stops[std::stoul(m[3])];
                break;
            }
            if (ended(said)) break;
            said = d.run("step");
        }
        for (std::size_t line : simple)
            if (stops[line] != expected[line])
                fail << "  step stops at line " << line << ": " << stops[line] << ", ran " << expected[line]
                     << " times\n";
    }
    checked_lines += simple.size();
    return fail.str();
}

}  // namespace

int main(int argc, char** argv) {
    long count = 100;
    std::uint64_t first = 1;
    proggen::Options options;
    options.budget = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--count") == 0) count = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--first-seed") == 0) first = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--budget") == 0) options.budget = std::atol(argv[i + 1]);
        else {
            std::cerr << "usage: debugger_oracle [--count N] [--first-seed S] [--budget B]\n";
            return 2;
        }
    }
    if (const char* env = std::getenv("VEXL_ORACLE_COUNT")) count = std::atol(env);
    int failed = 0;
    std::size_t lines = 0;
    long executions = 0;
    for (long i = 0; i < count; ++i) {
        const std::uint64_t seed = first + std::uint64_t(i);
        std::string failures;
        try {
            failures = check(seed, options, lines, executions);
        } catch (const std::exception& e) {
            failures = std::string("  ") + e.what() + "\n";
        }
        if (!failures.empty()) {
            ++failed;
            std::cout << "FAIL: seed " << seed << "\n" << failures;
        }
    }
    std::cout << count << " programs, " << lines << " simple lines executed " << executions << " times, " << failed
              << " failed\n";
    return failed == 0 ? 0 : 1;
}
