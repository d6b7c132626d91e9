// A test suite: the TOML file a teacher writes, read into tests with their
// inputs, expected outputs, points and limits. Inline texts are UTF-8 in
// the file and become the machine's character set (CP932) here; files named
// by input_file and expected_file are taken as bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "compare.h"

namespace grade {

// The bounds of one run of a test.
struct RunLimits {
    std::uint64_t max_steps = 10'000'000;
    std::uint64_t max_output = 1 << 20;  // bytes
    double timeout = 10.0;                // seconds of wall time
};

struct Test {
    std::string name;
    std::string input;     // bytes on the program's standard input
    std::string expected;  // the expected output (the pattern for Match::regex)
    double points = 1;
    RunLimits limits;
    Match match = Match::exact;
    std::shared_ptr<const Expectation> expectation;  // compares an output with `expected`
};

struct Suite {
    std::string path;
    std::vector<Test> tests;
    double max_score() const;
};

// A suite that cannot be used; what() is "FILE:LINE: message" (or "FILE:
// message" where no line applies).
struct SuiteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Suite load_suite(const std::string& path);

}  // namespace grade
