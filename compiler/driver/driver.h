// The command line of vexlc: options, the source file, the printed
// diagnostics and summary, and the two output files, around one in-memory
// compilation (compile.h). Callable in-process (tests, fuzzing).
#pragma once

#include <cstdio>
#include <string>

// Returns the exit status: 0 success (warnings allowed), the usage line,
// --help or --version; 1 when errors were listed; 2 for a bad command line;
// -1 after a fatal error.
int compile(int argc, const char* const* argv);

// Output names derived from the argument: the last ".vxl" becomes
// ".exec" (or ".exec" is appended), then the last ".exec" becomes ".c".
struct OutputNames {
    std::string exec_name;
    std::string c_name;
};
OutputNames output_names(const std::string& argument);

// Reads the whole of an open source. A read error ends the process with
// the scanner's input failure (status 2): a source that cannot be read to
// its end must not pass for a shorter program.
std::string read_source(std::FILE* source);
