// vexl: runs one executable image. Program output goes to standard output,
// input comes from standard input, "file not found:" and runtime errors go
// to standard error.
//
// Options (vm/options.def) come before the image name; without them the
// command line is exactly one image name, and any other number of plain
// arguments prints the usage line.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <malloc.h>
#include <pthread.h>

#include "version.h"
#include "machine.h"
#include "options.h"
#include "native/engine.h"
#include "profile/line_counts.h"
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

constexpr const char* kVersion = "vexl " VEXL_VERSION "\n";

struct Settings {
    vm::Limits limits;
    bool stats = false;
    bool check_stack = false;
    // Files for the counts of a counting run; empty: not wanted.
    std::string line_counts, line_counts_json, profile;
    bool counting() const { return !line_counts.empty() || !line_counts_json.empty() || !profile.empty(); }
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
              << "deepest stack: " << vm::count_text(stats.deepest_stack, "word", "words") << '\n'
              << "bytes written: " << stats.bytes_written << '\n';
}

std::vector<std::string> read_lines(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    if (!in) return lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

// Writes text to file; false (with a message) when it cannot.
bool write_file(const std::string& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (out) out.write(text.data(), std::streamsize(text.size()));
    if (out) out.close();
    if (!out) {
        std::cerr << "vexl: cannot write " << file << ": " << std::strerror(errno) << '\n';
        return false;
    }
    return true;
}

// A run that counts lines and calls (on the machine's own loop, whatever
// the engine). The debug file must describe the image; the counts are
// written after the run, whatever its end. Returns the exit status.
int counted_run(vm::Machine& machine, const std::string& argument, const Settings& settings,
                vm::Stats* stats, vm::RunResult& result) {
    std::string name = argument;
    if (name.rfind(".exec") == std::string::npos) name += ".exec";
    std::error_code ec;
    std::ifstream file;
    if (std::filesystem::is_regular_file(name, ec)) file.open(name, std::ios::binary);
    if (!file.is_open()) return machine.run_file(argument, settings.limits, stats, &result);
    std::vector<vm::Word> words = image::read_words(file);
    file.close();
    const debuginfo::LoadResult debug = debuginfo::load_for_image(name, words);
    if (!debug.info) {
        std::string why = debuginfo::load_note(debug);
        if (why.empty()) why = debug.file + ": no debug information (compile with vexlc -g)";
        std::cerr << "vexl: line counts and profiles need the debug file: " << why << '\n';
        return 1;
    }
    const debuginfo::DebugInfo& info = *debug.info;
    vm::profile::Counter counter(words.size());
    machine.load(std::move(words));
    result = machine.execute_counted(counter, settings.limits, stats);
    counter.finish();
    std::cout.flush();
    int status = result.end == vm::RunResult::End::fault      ? 1
                 : result.end == vm::RunResult::End::finished ? 0
                                                              : 3;
    // The source as the compiler was given it, else beside the image.
    std::vector<std::string> source = read_lines(info.source);
    if (source.empty()) {
        const std::filesystem::path beside =
            std::filesystem::path(name).parent_path() / std::filesystem::path(info.source).filename();
        source = read_lines(beside.string());
    }
    const vm::profile::Report report = vm::profile::make_report(info, counter, result.steps, source.size());
    bool written = true;
    if (!settings.line_counts.empty())
        written &= write_file(settings.line_counts, vm::profile::annotated_source(report, source));
    if (!settings.line_counts_json.empty())
        written &= write_file(settings.line_counts_json, vm::profile::json(report));
    if (!settings.profile.empty()) written &= write_file(settings.profile, vm::profile::flat_profile(report));
    if (!written && status == 0) status = 1;
    return status;
}

int run(int argc, char** argv) {
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
        case Option::check_stack: settings.check_stack = true; break;
        case Option::line_counts: settings.line_counts = o.value; break;
        case Option::line_counts_json: settings.line_counts_json = o.value; break;
        case Option::profile: settings.profile = o.value; break;
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
        // The stack check is a feature of the machine's own loop.
        machine.set_engine(settings.check_stack ? nullptr : settings.engine);
        machine.set_check_stack(settings.check_stack);
        vm::Stats stats;
        vm::RunResult result;
        vm::Stats* const wanted = settings.stats ? &stats : nullptr;
        // After loading: the debug file is opened for a runtime error's
        // report, and the process confines itself to what a run needs. A
        // counting run writes its files after the run and stays unconfined.
        vm::ReportFiles report_files;
        bool files_read = false;
        const auto confine = [&] {
            report_files = vm::read_report_files(machine, image);
            files_read = true;
            if (settings.sandbox) vm::sandbox::confine();
        };
        const int status = settings.counting() ? counted_run(machine, image, settings, wanted, result)
                                               : machine.run_file(image, settings.limits, wanted, &result, confine);
        std::cout.flush();
        if (status == 3) std::cerr << "vexl: " << vm::limit_text(result, settings.limits) << '\n';
        if (result.end == vm::RunResult::End::output_error) {
            const std::string why = machine.write_error();
            std::cerr << "vexl: write error on standard output" << (why.empty() ? "" : ": " + why) << '\n';
        }
        vm::report_source_location(machine, image, result, std::cerr, files_read ? &report_files : nullptr);
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

// The run on a thread with a stack of its own: a small stack limit for the
// process (ulimit -s 16) leaves too little room for loading, the machine and
// the translator on the first thread. Where no thread can be started, the
// run goes on here.
struct Arguments {
    int argc;
    char** argv;
    int status;
};
constexpr std::size_t kRunStack = std::size_t(8) << 20;
}  // namespace

int main(int argc, char** argv) {
    // The run's thread allocates from the main heap: a heap of its own would
    // read /proc when it shrinks, which the confined machine does not allow.
#if defined(M_ARENA_MAX)
    mallopt(M_ARENA_MAX, 1);
#endif
    Arguments a{argc, argv, 0};
    pthread_attr_t attr;
    pthread_t thread;
    if (pthread_attr_init(&attr) == 0) {
        const bool started =
            pthread_attr_setstacksize(&attr, kRunStack) == 0 &&
            pthread_create(&thread, &attr, [](void* p) -> void* {
                auto* args = static_cast<Arguments*>(p);
                args->status = run(args->argc, args->argv);
                return nullptr;
            }, &a) == 0;
        pthread_attr_destroy(&attr);
        if (started) {
            pthread_join(thread, nullptr);
            return a.status;
        }
    }
    return run(argc, argv);
}
