// GNU-style parsing of a table of options (see options.h).
#include "options.h"

#include <string_view>

namespace cli {

static bool is_choice_of(std::string_view choices, std::string_view word) {
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = choices.find('|', start);
        if (choices.substr(start, bar - start) == word) return true;
        if (bar == std::string_view::npos) return false;
        start = bar + 1;
    }
}

CommandLine parse(std::span<const OptionRow> table, int argc, const char* const* argv, Order order) {
    CommandLine line;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // -h is short for --help wherever an option may stand (an image
        // named "-h" is given after "--").
        if (!options_end && arg == "-h") {
            std::size_t help = table.size();
            for (std::size_t r = 0; r < table.size(); ++r)
                if (std::string_view(table[r].name) == "--help") help = r;
            if (help < table.size()) {
                line.options.push_back({help, {}});
                continue;
            }
        }
        const bool option_like = order == Order::anywhere ? arg.size() >= 2 && arg[0] == '-'
                                                          : arg.size() >= 2 && arg.substr(0, 2) == "--";
        if (options_end || !option_like) {
            line.operands.emplace_back(arg);
            if (order == Order::long_before_operands) options_end = true;
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        std::size_t row = table.size();
        for (std::size_t r = 0; r < table.size(); ++r)
            if (name == table[r].name) row = r;
        if (row == table.size()) {
            line.error = "unrecognized option '" + std::string(arg) + "'";
            return line;
        }
        const std::string_view argument = table[row].argument;
        std::string value;
        if (argument.empty()) {
            if (eq != std::string_view::npos) {
                line.error = "option '" + std::string(name) + "' doesn't allow an argument";
                return line;
            }
        } else if (eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            line.error = "option '" + std::string(name) + "' requires an argument";
            return line;
        }
        if (argument.find('|') != std::string_view::npos && !is_choice_of(argument, value)) {
            line.error = "invalid argument '" + value + "' for '" + std::string(name) + "' (valid: " +
                         std::string(argument) + ")";
            return line;
        }
        line.options.push_back({row, std::move(value)});
    }
    return line;
}

void append_wrapped(std::string& out, std::string_view text, std::size_t indent, std::size_t width) {
    std::size_t column = indent;
    for (std::size_t pos = 0; pos < text.size();) {
        if (text[pos] == ' ') {
            ++pos;
            continue;
        }
        std::size_t end = text.find(' ', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view word = text.substr(pos, end - pos);
        if (column > indent && column + 1 + word.size() > width) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        pos = end;
    }
}

std::string help_listing(std::span<const OptionRow> table) {
    constexpr std::size_t kColumn = 24, kWidth = 79;
    std::string out;
    for (const OptionRow& row : table) {
        std::string entry = std::string("  ") + row.name;
        if (*row.argument) entry += std::string("=") + row.argument;
        if (entry.size() + 2 > kColumn) entry += "\n" + std::string(kColumn, ' ');
        else entry.resize(kColumn, ' ');
        append_wrapped(entry, row.help, kColumn, kWidth);
        out += entry + "\n";
    }
    return out;
}

}  // namespace cli
