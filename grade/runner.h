// Grading a batch: each submission compiled once in a child process of its
// own, each test run by the vexl program in a child process with the test's
// limits and a wall-clock timeout, up to `jobs` children at a time, in a
// scratch folder per submission. Results do not depend on the order in
// which children finish.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "suite.h"

namespace grade {

enum class Status {
#define GRADE_STATUS(id, name, cell) id,
#include "statuses.def"
#undef GRADE_STATUS
};
const char* status_name(Status status);
const char* status_cell(Status status);

struct TestResult {
    Status status = Status::wrong;
    double score = 0;
    std::string output;  // what the program wrote (CP932), cut at max_output plus a margin
    std::string errors;  // the machine's standard error
    std::string detail;  // one line on what went wrong; empty for a pass
    int error_line = 0;  // the source line of a runtime error, when the debug file named it
    double seconds = 0;  // wall time of the run
};

struct SubmissionResult {
    std::string path;         // as given on the command line
    std::string source_path;  // the .vxl file graded ("" when none was found)
    std::string source;       // its bytes
    bool compiled = false;
    std::string diagnostics;  // UTF-8, one "FILE:LINE: ..." line each, with the summary
    std::vector<TestResult> tests;  // one per suite test, empty when not compiled
    double score = 0;
};

struct BatchSettings {
    std::string vexl;              // the machine program
    std::vector<std::string> vexl_options;  // given to vexl before the limits
    unsigned jobs = 1;
    std::string scratch;           // a folder to compile and run in, kept; "" a temporary one
    double compile_timeout = 60;   // seconds
    double timeout_factor = 1;     // every test's timeout is multiplied by it
    // Called after each finished compilation or run with the counts.
    std::function<void(std::size_t done, std::size_t total)> progress;
};

// Throws std::runtime_error when the scratch folder cannot be made.
std::vector<SubmissionResult> grade_batch(const Suite& suite, const std::vector<std::string>& submissions,
                                          const BatchSettings& settings);

}  // namespace grade
