// The command lines of the programs: the rows of a program's options.def as
// a table, a GNU-style parser over such a table and the --help listing.
#pragma once

#include <span>
#include <string>
#include <string_view>
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

enum class Order {
    // Options may stand anywhere before "--"; everything after "--", a lone
    // "-" and every argument not starting with '-' is an operand.
    anywhere,
    // Only "--name" options, before the first operand: the first argument
    // not starting with "--" (a name like "-x" too) ends the options, and
    // so does "--" itself. For programs whose plain command line is a
    // name that may start with '-'.
    long_before_operands,
};

// "-h" stands for the table's "--help" row, where options may stand.
CommandLine parse(std::span<const OptionRow> table, int argc, const char* const* argv,
                  Order order = Order::anywhere);

// Appends the words of text (separated by spaces) to out, which stands at
// column indent: a new line indented to that column before a word that
// would pass width.
void append_wrapped(std::string& out, std::string_view text, std::size_t indent, std::size_t width = 79);

// One entry per row: "  name[=argument]", then the help text from column
// 24, wrapped at 79 columns; an entry too long for the column puts its
// text on the next line.
std::string help_listing(std::span<const OptionRow> table);

}  // namespace cli
