// vexl-grade: grades submissions against a test suite and writes a report.
//   vexl-grade [OPTION]... SUITE SUBMISSION...
// Options are declared in grade/options.def, the reports in formats.def.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <thread>
#include <unistd.h>

#include "options.h"
#include "reports.h"
#include "runner.h"
#include "suite.h"

namespace fs = std::filesystem;

namespace {

enum class Option {
#define GRADE_OPTION(id, name, argument, help) id,
#include "options.def"
#undef GRADE_OPTION
};

constexpr cli::OptionRow kOptions[] = {
#define GRADE_OPTION(id, name, argument, help) {name, argument, help},
#include "options.def"
#undef GRADE_OPTION
};

using Writer = void (*)(std::ostream&, const grade::Suite&, const grade::Results&);
struct Format {
    const char* name;
    const char* help;
    Writer write;
};
constexpr Format kFormats[] = {
#define GRADE_FORMAT(id, name, help) {name, help, grade::write_##id},
#include "formats.def"
#undef GRADE_FORMAT
};

constexpr const char* kVersion = "vexl-grade 0.1\n";

void print_help() {
    std::cout << "Usage: vexl-grade [OPTION]... SUITE SUBMISSION...\n"
                 "Compiles each submission (a .vxl file, or a folder holding one) once, runs every\n"
                 "test of the SUITE (a TOML file) on the machine within its limits, and reports\n"
                 "the points.\n\n";
    std::cout << cli::help_listing(kOptions);
    std::cout << "\nFORMATS\n";
    for (const Format& f : kFormats) {
        std::string entry = "  " + std::string(f.name);
        entry.resize(24, ' ');
        cli::append_wrapped(entry, f.help, 24);
        std::cout << entry << '\n';
    }
    std::cout << "\nTest statuses: passed, wrong, runtime-error, limit, timeout; a submission that\n"
                 "does not compile scores 0 (compile-error). See vexl-grade(1) for the suite's keys.\n"
                 "\n"
                 "Exit status: 0 every submission was graded (whatever the scores); 1 the batch\n"
                 "could not be run or a report could not be written; 2 bad command line or a\n"
                 "suite that cannot be used.\n";
}

int bad_usage(const std::string& message) {
    std::cerr << "vexl-grade: " << message << "\nTry 'vexl-grade --help' for more information.\n";
    return 2;
}

int failure(const std::string& message) {
    std::cerr << "vexl-grade: " << message << '\n';
    return 1;
}

// The vexl beside this program (installed together), the one of the build
// tree, else the one on PATH.
std::string default_vexl() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec)
        for (const fs::path& p : {self.parent_path() / "vexl", self.parent_path().parent_path() / "vm" / "vexl"})
            if (access(p.c_str(), X_OK) == 0) return p.string();
    return "vexl";
}

bool findable(const std::string& program) {
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0 && !fs::is_directory(program);
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const fs::path p = fs::path(start == end ? "." : dirs.substr(start, end - start)) / program;
        if (access(p.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Writes through a temporary file and a rename, so that a reader never sees
// half a file.
bool write_whole(const fs::path& name, const std::string& text, std::string& error) {
    const fs::path tmp = name.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            error = "cannot write " + tmp.string() + ": " + std::strerror(errno);
            std::error_code ec;
            fs::remove(tmp, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, name, ec);
    if (ec) error = "cannot write " + name.string() + ": " + ec.message();
    return !ec;
}

// One results file per submission, named after it, inside `folder`.
bool write_results_files(const std::string& target, const grade::Suite& suite, const grade::Results& results,
                         std::string& error) {
    if (results.size() == 1) return write_whole(target, grade::results_json(suite, results.front()), error);
    std::error_code ec;
    fs::create_directories(target, ec);
    if (!fs::is_directory(target, ec)) {
        error = "cannot make the folder " + target;
        return false;
    }
    std::set<std::string> used;
    for (const grade::SubmissionResult& s : results) {
        std::string name = fs::path(s.path).lexically_normal().filename().string();
        if (name.empty() || name == "." || name == "..") name = fs::path(s.path).lexically_normal().parent_path().filename().string();
        if (name.size() > 4 && name.substr(name.size() - 4) == ".vxl") name.resize(name.size() - 4);
        if (name.empty()) name = "submission";
        std::string unique = name;
        for (int n = 2; !used.insert(unique).second; ++n) unique = name + "-" + std::to_string(n);
        if (!write_whole(fs::path(target) / (unique + ".json"), grade::results_json(suite, s), error)) return false;
    }
    return true;
}

class Progress {
public:
    explicit Progress(bool on) : on_(on) {}
    void operator()(std::size_t done, std::size_t total) {
        if (!on_ || total == 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (done < total && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        constexpr std::size_t kWidth = 40;
        const std::size_t filled = kWidth * std::min(done, total) / total;
        std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '.').c_str(), done, total);
        std::fflush(stderr);
        shown_ = true;
    }
    ~Progress() {
        if (shown_) std::fputs("\r\033[K", stderr);
    }

private:
    bool on_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace

int main(int argc, char** argv) {
    // -j N and -jN are short for --jobs.
    std::vector<std::string> args(argv, argv + argc);
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--") break;
        if (args[i] == "-j") args[i] = "--jobs";
        else if (args[i].rfind("-j", 0) == 0) args[i] = "--jobs=" + args[i].substr(2);
    }
    std::vector<const char*> argp;
    for (const std::string& a : args) argp.push_back(a.c_str());
    const cli::CommandLine line = cli::parse(kOptions, static_cast<int>(argp.size()), argp.data());
    if (!line.error.empty()) return bad_usage(line.error);

    grade::BatchSettings settings;
    settings.jobs = std::max(1u, std::thread::hardware_concurrency());
    const Format* format = &kFormats[0];
    std::string results_file, progress = "auto";
    for (const cli::ParsedOption& o : line.options) {
        switch (static_cast<Option>(o.row)) {
        case Option::jobs: {
            unsigned n = 0;
            const char* end = o.value.data() + o.value.size();
            const auto r = std::from_chars(o.value.data(), end, n);
            if (o.value.empty() || r.ec != std::errc() || r.ptr != end || n == 0 || n > 1024)
                return bad_usage("invalid number of jobs '" + o.value + "' (1 to 1024)");
            settings.jobs = n;
            break;
        }
        case Option::format: {
            format = nullptr;
            std::string names;
            for (const Format& f : kFormats) {
                if (o.value == f.name) format = &f;
                names += std::string(names.empty() ? "" : ", ") + f.name;
            }
            if (!format) return bad_usage("unknown format '" + o.value + "' (" + names + ")");
            break;
        }
        case Option::timeout_factor: {
            char* end = nullptr;
            const double x = std::strtod(o.value.c_str(), &end);
            if (o.value.empty() || *end || !(x > 0) || x > 1000)
                return bad_usage("invalid timeout factor '" + o.value + "' (more than 0, at most 1000)");
            settings.timeout_factor = x;
            break;
        }
        case Option::results_json: results_file = o.value; break;
        case Option::vexl: settings.vexl = o.value; break;
        case Option::vexl_option: settings.vexl_options.push_back(o.value); break;
        case Option::scratch: settings.scratch = o.value; break;
        case Option::progress: progress = o.value; break;
        case Option::help: print_help(); return 0;
        case Option::version: std::cout << kVersion; return 0;
        }
    }
    if (line.operands.size() < 2)
        return bad_usage(line.operands.empty() ? "missing suite and submissions" : "no submissions given");
    if (settings.vexl.empty()) settings.vexl = default_vexl();
    if (!findable(settings.vexl)) return failure("cannot find the machine program '" + settings.vexl + "' (give it with --vexl)");

    grade::Suite suite;
    try {
        suite = grade::load_suite(line.operands.front());
    } catch (const grade::SuiteError& e) {
        std::cerr << e.what() << '\n';
        return 2;
    }
    const std::vector<std::string> submissions(line.operands.begin() + 1, line.operands.end());

    grade::Results results;
    {
        const bool terminal = isatty(STDERR_FILENO);
        Progress bar(progress == "always" || (progress == "auto" && terminal &&
                                              submissions.size() * suite.tests.size() >= 20));
        settings.progress = [&bar](std::size_t done, std::size_t total) { bar(done, total); };
        try {
            results = grade::grade_batch(suite, submissions, settings);
        } catch (const std::exception& e) {
            return failure(e.what());
        }
    }
    format->write(std::cout, suite, results);
    std::cout.flush();
    if (!std::cout) return failure("cannot write the report on standard output");
    if (!results_file.empty()) {
        std::string error;
        if (!write_results_files(results_file, suite, results, error)) return failure(error);
    }
    return 0;
}
