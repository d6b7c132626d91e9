// vexl: runs one executable image. Program output goes to standard output,
// input comes from standard input, "file not found:" and runtime errors go
// to standard error.
//
// Options (vm/options.def) come before the image name; without them the
// command line is exactly one image name, and any other number of plain
// arguments prints the usage line.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "machine.h"
#include "native/engine.h"
#include "source_report.h"

namespace {

enum class Option {
#define VEXL_OPTION(id, name, argument, help) id,
#include "options.def"
#undef VEXL_OPTION
};

struct OptionRow {
    Option id;
    const char* name;
    const char* argument;
    const char* help;
};

constexpr OptionRow kOptions[] = {
#define VEXL_OPTION(id, name, argument, help) {Option::id, name, argument, help},
#include "options.def"
#undef VEXL_OPTION
};

constexpr const char* kVersion = "vexl 0.1\n";

struct Settings {
    vm::Limits limits;
    bool stats = false;
    // The translating engine where this build has one, else the loop.
    vm::Machine::Engine engine = vm::native::available() ? vm::native::execute : nullptr;
};

// The engine of a name; false for an unknown name.
bool engine_named(std::string_view name, vm::Machine::Engine& engine) {
    if (name == "native") {
        engine = vm::native::execute;
        return true;
    }
    engine = nullptr;
    return name == "reference";
}

void print_help() {
    std::cout << "Usage: vexl [OPTION]... IMAGE\n"
                 "Runs an executable image (\".exec\" is appended when IMAGE does not contain it).\n"
                 "\n";
    // Help texts are wrapped into a column starting at 22.
    constexpr std::size_t kColumn = 22, kWidth = 79;
    for (const OptionRow& row : kOptions) {
        std::string line = std::string("  ") + row.name;
        if (*row.argument) line += std::string(" ") + row.argument;
        line.resize(std::max(line.size() + 2, kColumn), ' ');
        std::size_t filled = line.size();
        const std::string_view help = row.help;
        for (std::size_t pos = 0; pos < help.size();) {
            std::size_t end = help.find(' ', pos);
            if (end == std::string_view::npos) end = help.size();
            const std::string_view word = help.substr(pos, end - pos);
            if (filled > kColumn && filled + 1 + word.size() > kWidth) {
                line += '\n' + std::string(kColumn, ' ');
                filled = kColumn;
            } else if (filled > kColumn) {
                line += ' ';
                ++filled;
            }
            line += word;
            filled += word.size();
            pos = end + 1;
        }
        std::cout << line << '\n';
    }
    std::cout << "  --                  end of options (for an image name starting with \"--\")\n"
                 "\n"
                 "Exit status: 0 the program ran to its end; 1 image not found or runtime error;\n"
                 "2 bad option; 3 stopped by --max-steps or --max-output.\n";
}

int bad_usage(const std::string& message) {
    std::cout.flush();
    std::cerr << "vexl: " << message << "\nTry 'vexl --help' for more information.\n";
    return 2;
}

bool parse_count(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto res = std::from_chars(text.data(), end, value);
    return !text.empty() && res.ec == std::errc() && res.ptr == end;
}

void print_stats(const vm::Stats& stats) {
    std::cerr << "instructions executed: " << stats.steps << '\n'
              << "deepest stack: " << stats.deepest_stack << " words\n"
              << "bytes written: " << stats.bytes_written << '\n';
}

}  // namespace

int main(int argc, char** argv) {
    // The machine flushes standard output itself before every input and
    // every error line, so the C stdio synchronisation is not needed.
    std::ios::sync_with_stdio(false);
    Settings settings;
    // VEXL_ENGINE in the environment chooses the engine like --engine.
    if (const char* name = std::getenv("VEXL_ENGINE"); name && *name && !engine_named(name, settings.engine))
        return bad_usage("unknown engine '" + std::string(name) + "' in VEXL_ENGINE (native or reference)");
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.size() < 3 || arg.substr(0, 2) != "--") break;
        const std::size_t eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        const OptionRow* row = nullptr;
        for (const OptionRow& r : kOptions)
            if (name == r.name) row = &r;
        if (!row) return bad_usage("unrecognized option '" + std::string(arg) + "'");
        std::string_view value;
        if (*row->argument) {
            if (eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return bad_usage("option '" + std::string(name) + "' requires an argument");
            }
        } else if (eq != std::string_view::npos) {
            return bad_usage("option '" + std::string(name) + "' doesn't allow an argument");
        }
        switch (row->id) {
        case Option::max_steps:
        case Option::max_output: {
            std::uint64_t n = 0;
            if (!parse_count(value, n))
                return bad_usage("invalid number '" +
                                 std::string(value) + "' for " + row->name);
            (row->id == Option::max_steps ? settings.limits.max_steps
                                          : settings.limits.max_output) = n;
            break;
        }
        case Option::stats: settings.stats = true; break;
        case Option::engine:
            if (!engine_named(value, settings.engine))
                return bad_usage("unknown engine '" + std::string(value) + "' (native or reference)");
            break;
        case Option::help: print_help(); return 0;
        case Option::version: std::cout << kVersion; return 0;
        }
    }
    if (argc - i != 1) {
        std::cout << "Usage:vexl.exe filename\n" << std::flush;
        return 0;
    }
    try {
        vm::Machine machine(std::cin, std::cout, std::cerr);
        machine.set_engine(settings.engine);
        vm::Stats stats;
        vm::RunResult result;
        const int status = machine.run_file(argv[i], settings.limits,
                                            settings.stats ? &stats : nullptr, &result);
        std::cout.flush();
        if (status == 3) std::cerr << "vexl: " << vm::limit_text(result, settings.limits) << '\n';
        vm::report_source_location(machine, argv[i], result, std::cerr);
        // Only a run that started has figures (status 1 is also "not found").
        if (settings.stats && (status != 1 || result.end == vm::RunResult::End::fault))
            print_stats(stats);
        return status;
    } catch (const std::exception& e) {
        // Allocation failures outside the loop (a huge image while loading).
        std::cout.flush();
        std::cerr << "Error:" << e.what() << '\n';
        return 1;
    }
}
