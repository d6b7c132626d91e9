// Helpers shared by the compiler's unit tests: scanning and parsing a text
// in-process and running the vexlc program in a directory.
//
// Note: the compiler library is built with the Shift-JIS execution
// character set, and so are these tests, so a Japanese literal in a test
// holds exactly the bytes the compiler prints.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "node.h"
#include "test_support.h"

namespace vexltest {

// One token as the parser would receive it.
struct Token {
    int code;
    int line;  // line_number right after the token was returned
};

struct ScanResult {
    std::vector<Token> tokens;  // without the final end-of-input token
    std::string diagnostics;    // the listed diagnostics as printed
    std::vector<int> codes() const;
};

// Scans `source` (read in text mode like the driver does) to end of input.
ScanResult scan(const std::string& source);

struct ParseResult {
    int result = -1;           // parse()'s return value
    program* root = nullptr;   // parse_root afterwards
    std::string diagnostics;   // scanner and parser diagnostics as printed
};

// Resets the compiler's globals, then parses `source`. The tree stays valid
// until the next scan() or parse_text().
ParseResult parse_text(const std::string& source);

// The body statements of the first function of a parsed program, in order
// (null entries are statements dropped by error recovery).
std::vector<statement*> body_statements(const ParseResult& r);

// Runs the built vexlc with `args` in `dir`.
ProcessResult run_vexlc(const std::vector<std::string>& args, const fs::path& dir);

}  // namespace vexltest
