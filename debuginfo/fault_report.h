// Runtime errors at their source lines: the lines that follow a machine's
// "Error:" line and register dump when the image's debug file is at hand.
#pragma once

#include <string>
#include <vector>

#include "debuginfo.h"

namespace debuginfo {

// The runtime error classes of the machine.
enum class Fault : std::uint8_t { illegal_memory_access, illegal_operation, zero_divide, stack_overflow, other };

// The report, one line each, innermost first:
//   FILE:LINE: runtime error: CAUSE
//   FILE:LINE: in FUNCTION            (one per active call)
// The cause names what the state shows: a division by zero, a subscript
// check that failed, an element access far outside its array, a stack
// that wrapped around into the globals ("stack exhausted" with the call
// depth), a jump or return to a place outside the program's code. Long
// call chains keep their innermost and outermost frames.
std::string fault_report(const DebugInfo& info, const MachineState& state, Fault fault);
// The same report line by line (without line ends), each with the source
// line it names (0 for none), for callers that place the lines.
struct ReportLine {
    int line = 0;
    std::string text;
};
std::vector<ReportLine> fault_report_lines(const DebugInfo& info, const MachineState& state, Fault fault);
// The CAUSE of the report's first line alone.
std::string fault_cause(const DebugInfo& info, const MachineState& state, Fault fault);

}  // namespace debuginfo
