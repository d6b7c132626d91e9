// The command-line option machinery of vexlc: the rows of options.def as a
// table, a GNU-style parser over such a table and the --help listing.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace cli {

struct OptionRow {
    const char* name;      // with its dashes
    const char* argument;  // "" for a flag, "a|b" for a choice, else a placeholder
    const char* help;
};

struct ParsedOption {
    std::size_t row;    // index into the table
    std::string value;  // empty for a flag
};

struct CommandLine {
    std::vector<ParsedOption> options;  // in command-line order
    std::vector<std::string> operands;  // the plain arguments
    std::string error;                  // the complaint, without the program name; empty if none
};

// Options may stand anywhere before "--"; everything after "--", a lone
// "-" and every argument not starting with '-' is an operand.
CommandLine parse(std::span<const OptionRow> table, int argc, const char* const* argv);

// One line per row: "  name[=argument]" and the help text from column 24.
std::string help_listing(std::span<const OptionRow> table);

}  // namespace cli
