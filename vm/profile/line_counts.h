// Line counts, coverage and the flat profile of one run, from a counting
// run of the machine (counter.h) and the image's debug information.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "counter.h"
#include "debuginfo.h"

namespace vm::profile {

struct LineCount {
    int line = 0;
    bool has_code = false;          // some code word belongs to the line
    // Times its code was entered: how often the first word of each run of
    // code of the line (where a breakpoint on the line stops) started an
    // instruction.
    std::uint64_t count = 0;
    std::uint64_t instructions = 0; // instructions executed in its code
};

struct FunctionCount {
    std::string name;
    int line = 0;
    std::uint64_t calls = 0;
    std::uint64_t inclusive = 0;  // instructions in its calls, nested calls included
    std::uint64_t exclusive = 0;  // instructions of its own code
};

struct Report {
    std::string source;              // the source's name, as the debug file gives it
    std::uint64_t instructions = 0;  // started by the run
    std::uint64_t outside = 0;       // of them, in no function (start-up code)
    std::vector<LineCount> lines;    // one per line, line 1 first
    std::vector<FunctionCount> functions;  // the flat profile: most exclusive first
};

// `source_lines` is the number of lines of the source text (lines of the
// line table beyond it are reported too).
Report make_report(const debuginfo::DebugInfo& info, const Counter& counter, std::uint64_t instructions,
                   std::size_t source_lines);

// The source annotated line by line in the layout of gcov: "COUNT:LINE:TEXT"
// with COUNT right-aligned in 9 columns and LINE in 5, "#####" for a line
// whose code never ran and "-" for a line without code, after the header
// lines "-:0:Source:NAME", "-:0:Runs:1" and "-:0:Instructions:N".
std::string annotated_source(const Report& report, const std::vector<std::string>& source);

// The same as one JSON object: {"source", "instructions", "lines": [{"line",
// "count", "instructions"}] for the lines with code, "functions": [...]}.
std::string json(const Report& report);

// The flat profile as a table, most exclusive instructions first.
std::string flat_profile(const Report& report);

}  // namespace vm::profile
