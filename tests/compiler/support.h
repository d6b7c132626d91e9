// Helpers shared by the compiler's unit tests: scanning and parsing a text
// in-process and running the vexlc program in a directory.
//
// Japanese literals are written in UTF-8 with the suffix _sj, which turns
// them into the code page 932 bytes the compiler prints.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "node.h"
#include "test_support.h"

namespace vexltest {

// UTF-8 text converted to code page 932.
std::string to_cp932(std::string_view utf8);

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

inline std::string operator""_sj(const char* utf8, std::size_t size) {
    return vexltest::to_cp932(std::string_view(utf8, size));
}
