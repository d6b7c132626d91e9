// The golden cases: sibling files beside a machine image (vm/NAME.hex or
// vm/NAME.exec) or a source (compiler/**/NAME.vxl, examples/NAME.vxl), found
// at run time and checked against whichever expectation files exist.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "image.h"

namespace golden {

namespace fs = std::filesystem;

// Example programs are source cases too, but bless adds no new files to
// examples/.
enum class Kind { Machine, Compiler, Example, Runtime };

struct Case {
    Kind kind;
    fs::path dir;           // the folder holding the case's files
    std::string name;       // NAME, the common stem
    std::string id;         // "vm/NAME", "compiler/sub/NAME", "examples/NAME"
    std::string test_name;  // id made into a test name

    fs::path file(const std::string& ext) const { return dir / (name + ext); }
};

// The programs a case runs. The compiler is a command prefix (the source
// name is appended), so the runner's own tests can stand in a script.
struct Tools {
    std::vector<std::string> vexlc;
    std::string vexl;      // empty: not built, cases that need it are skipped
    std::string vexldump;  // empty: not checked
    std::string cc;        // C compiler for the ".out" cases of sources
};

struct Outcome {
    std::vector<std::string> failures;  // one readable message each
    std::vector<std::string> blessed;   // expectation files rewritten
    std::string skipped;                // why the case could not run fully
};

// Every case below golden_dir/vm, golden_dir/compiler and examples_dir
// (only sources with a NAME.out), sorted by id. Missing folders are empty.
std::vector<Case> discover(const fs::path& golden_dir, const fs::path& examples_dir);

Outcome check_machine_case(const Case& c, const Tools& tools, bool bless);
Outcome check_compiler_case(const Case& c, const Tools& tools, bool bless);
// runtime/NAME.vxl: compiled with the options in NAME.flags (absent: -g),
// run (with the vexl options in NAME.run-flags) with and without its debug
// file.
Outcome check_runtime_case(const Case& c, const Tools& tools, bool bless);

// Annotated hex words: tokens of 1-4 hex digits, an optional 0x prefix,
// '#' to the end of the line is a comment. False with a message naming the
// line on a bad token.
bool parse_hex_words(const std::string& text, std::vector<image::Word>& words, std::string& error);

// Expected standard error is kept as UTF-8 and compared as code page 932.
// The first fails (returning false, with the offset in error) on a
// character that has no CP932 form; the second keeps undecodable bytes.
bool utf8_to_cp932(const std::string& utf8, std::string& cp932, std::string& error);
std::string cp932_to_utf8(const std::string& cp932);

// A line diff of two texts for failure messages: changed lines with "-"
// and "+", a little context, control bytes escaped.
std::string diff_text(const std::string& expected, const std::string& actual);

}  // namespace golden
