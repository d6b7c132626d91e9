// Runtime errors at their source lines: the lines that follow a machine's
// "Error:" line and register dump when the image's debug file is at hand.
#pragma once

#include <string>

#include "debuginfo.h"

namespace debuginfo {

// The runtime error classes of the machine.
enum class Fault : std::uint8_t { illegal_memory_access, illegal_operation, zero_divide, other };

// The report, one line each, innermost first:
//   FILE:LINE: runtime error: CAUSE
//   FILE:LINE: in FUNCTION            (one per active call)
// The cause names what the state shows: a division by zero, a subscript
// check that failed, an element access far outside its array, a stack
// that wrapped around into the globals ("stack exhausted" with the call
// depth), a jump or return to a place outside the program's code. Long
// call chains keep their innermost and outermost frames.
std::string fault_report(const DebugInfo& info, const MachineState& state, Fault fault);
// The CAUSE of the report's first line alone.
std::string fault_cause(const DebugInfo& info, const MachineState& state, Fault fault);

// The word that a failed subscript check executes to stop the run: LD with
// the nonexistent index register 15 ("Illegal memory access"). Its
// operand word holds the array size; GR2 holds the index.
constexpr Word kSubscriptTrap = image::make_word(image::LD_M, image::GR0, 15);

}  // namespace debuginfo
