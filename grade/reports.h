// The reports of a graded batch: the terminal table, JSON, JUnit XML, the
// static HTML page, and the results file an autograder harness reads for
// one submission. Program output and diagnostics appear in UTF-8.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "runner.h"
#include "suite.h"

namespace grade {

using Results = std::vector<SubmissionResult>;

void write_table(std::ostream& out, const Suite& suite, const Results& results);
void write_json(std::ostream& out, const Suite& suite, const Results& results);
void write_junit(std::ostream& out, const Suite& suite, const Results& results);
void write_html(std::ostream& out, const Suite& suite, const Results& results);

// {"score", "max_score", "output", "tests": [{"name", "score", "max_score",
// "status", "output"}]} for one submission.
std::string results_json(const Suite& suite, const SubmissionResult& result);

// "compiled" or "compile-error".
const char* submission_status(const SubmissionResult& result);

}  // namespace grade
