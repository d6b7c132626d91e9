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
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "machine.h"
#include "options.h"
#include "native/engine.h"
#include "sandbox.h"
#include "source_report.h"

namespace {

enum class Option {
#define VEXL_OPTION(id, name, argument, help) id,
#include "options.def"
#undef VEXL_OPTION
};

constexpr cli::OptionRow kOptions[] = {
#define VEXL_OPTION(id, name, argument, help) {name, argument, help},
#include "options.def"
#undef VEXL_OPTION
};

constexpr const char* kVersion = "vexl 0.1\n";

struct Settings {
    vm::Limits limits;
    bool stats = false;
    bool sandbox = true;
    // The translating engine where this build has one, else the loop.
    vm::Machine::Engine engine = vm::native::available() ? vm::native::execute : nullptr;
};

// The engine of a name (one of vm/options.def's --engine choices).
vm::Machine::Engine engine_named(std::string_view name) {
    return name == "native" ? vm::native::execute : nullptr;
}

void print_help() {
    std::cout << "Usage: vexl [OPTION]... IMAGE\n"
                 "Runs an executable image (\".exec\" is appended when IMAGE does not contain it).\n"
                 "\n";
    std::cout << cli::help_listing(kOptions);
    std::cout << "  --                    end of options (for an image name starting with \"--\")\n"
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
    if (const char* name = std::getenv("VEXL_ENGINE"); name && *name) {
        if (std::string_view(name) != "native" && std::string_view(name) != "reference")
            return bad_usage("unknown engine '" + std::string(name) + "' in VEXL_ENGINE (native or reference)");
        settings.engine = engine_named(name);
    }
    const cli::CommandLine line = cli::parse(kOptions, argc, argv, cli::Order::long_before_operands);
    if (!line.error.empty()) return bad_usage(line.error);
    for (const cli::ParsedOption& o : line.options) {
        switch (static_cast<Option>(o.row)) {
        case Option::max_steps:
        case Option::max_output: {
            std::uint64_t n = 0;
            if (!parse_count(o.value, n))
                return bad_usage("invalid number '" + o.value + "' for " + kOptions[o.row].name);
            (static_cast<Option>(o.row) == Option::max_steps ? settings.limits.max_steps
                                                              : settings.limits.max_output) = n;
            break;
        }
        case Option::stats: settings.stats = true; break;
        case Option::no_sandbox: settings.sandbox = false; break;
        case Option::engine: settings.engine = engine_named(o.value); break;
        case Option::help: print_help(); return 0;
        case Option::version: std::cout << kVersion; return 0;
        }
    }
    if (line.operands.size() != 1) {
        std::cout << "Usage:vexl.exe filename\n" << std::flush;
        return 0;
    }
    const char* const image = line.operands.front().c_str();
    try {
        vm::Machine machine(std::cin, std::cout, std::cerr);
        machine.set_engine(settings.engine);
        vm::Stats stats;
        vm::RunResult result;
        // After loading: the debug file is opened for a runtime error's
        // report, and the process confines itself to what a run needs.
        std::ifstream debug_file;
        const auto confine = [&] {
            debug_file.open(vm::debug_file_for(image), std::ios::binary);
            if (settings.sandbox) vm::sandbox::confine();
        };
        const int status = machine.run_file(image, settings.limits,
                                            settings.stats ? &stats : nullptr, &result, confine);
        std::cout.flush();
        if (status == 3) std::cerr << "vexl: " << vm::limit_text(result, settings.limits) << '\n';
        vm::report_source_location(machine, image, result, std::cerr, &debug_file);
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
