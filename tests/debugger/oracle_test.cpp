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
#include <memory>
#include <optional>
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

// A session over the program whose output and messages go nowhere: the
// oracle reads the structured stops, not text.
std::unique_ptr<debugger::Session> session(const debugger::Program& p, const std::string& input) {
    auto d = std::make_unique<debugger::Session>(
        p, debugger::Sinks{[](std::string_view) {}, [](std::string_view) {}, [](std::string_view) {}});
    d->set_input_text(input);
    return d;
}

// A stop event, or the reason there is none.
debugger::StopEvent stop(std::optional<debugger::StopEvent> e, const std::string& error, const char* what) {
    if (!e) throw std::runtime_error(std::string(what) + ": " + error);
    return *e;
}

bool ended(const debugger::StopEvent& e) {
    return e.reason == debugger::StopReason::exited || e.reason == debugger::StopReason::fault;
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
        const auto session_ = session(p, program.input);
        debugger::Session& d = *session_;
        std::map<int, std::size_t> line_of;  // breakpoint number -> line
        for (std::size_t line : simple) {
            std::string error;
            const std::optional<int> n = d.add_breakpoint(std::to_string(line), {}, false, &error);
            if (!n) {
                fail << "  break " << line << ": " << error << "\n";
                continue;
            }
            line_of[*n] = line;
        }
        for (const debugger::BreakpointView& b : d.breakpoints())
            if (std::size_t(b.location.line) != line_of[b.number])
                fail << "  break " << line_of[b.number] << ": set at line " << b.location.line << "\n";
        std::map<std::size_t, long> hits;
        std::string error;
        for (debugger::StopEvent e = stop(d.run(&error), error, "run");;
             e = stop(d.resume(debugger::Motion::cont, 1, &error), error, "continue")) {
            for (int n : e.breakpoints) ++hits[line_of[n]];
            if (ended(e)) break;
        }
        for (std::size_t line : simple)
            if (hits[line] != expected[line])
                fail << "  breakpoint on line " << line << ": " << hits[line] << " stops, ran " << expected[line]
                     << " times\n";
    }

    // `step` from the first line to the end: the stops at the beginning of
    // a line count.
    {
        const auto session_ = session(p, program.input);
        debugger::Session& d = *session_;
        std::string error;
        if (!d.add_breakpoint("start", {}, false, &error)) return "break start: " + error;
        std::map<std::size_t, long> stops;
        debugger::StopEvent e = stop(d.run(&error), error, "run");
        for (long guard = 0; guard < 1'000'000 && !ended(e); ++guard) {
            if (e.location && e.location->line_start && !e.location->function.empty())
                ++stops[std::size_t(e.location->line)];
            e = stop(d.resume(debugger::Motion::step, 1, &error), error, "step");
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
