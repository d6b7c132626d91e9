// One run of the compiler: argument, outputs, source, both passes, the
// diagnostics and the two files. Callable in-process (tests, fuzzing).
#pragma once

#include <string>

// Returns the exit status: 0 success (warnings allowed) or usage line,
// 1 when errors were listed, -1 after a fatal error.
int compile(int argc, const char* const* argv);

// Output names derived from the argument: the last ".vxl" becomes
// ".exec" (or ".exec" is appended), then the last ".exec" becomes ".c".
struct OutputNames {
    std::string exec_name;
    std::string c_name;
};
OutputNames output_names(const std::string& argument);
