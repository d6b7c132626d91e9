// The batch of one grading (see runner.h): a single-threaded loop over the
// children's pipes. The compiler keeps global state, so each compilation
// runs in a forked child, which also keeps a compiler fault away from the
// batch; the tests run in the vexl program, whose process is the boundary
// a timeout or a confined machine needs.
#include "runner.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "compile.h"
#include "debuginfo.h"
#include "report.h"
#include "streams.h"

extern char** environ;

namespace grade {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStatusNames[] = {
#define GRADE_STATUS(id, name, cell) name,
#include "statuses.def"
#undef GRADE_STATUS
};
constexpr const char* kStatusCells[] = {
#define GRADE_STATUS(id, name, cell) cell,
#include "statuses.def"
#undef GRADE_STATUS
};

using Clock = std::chrono::steady_clock;
constexpr std::size_t kCompile = static_cast<std::size_t>(-1);  // Job::test of a compilation
constexpr std::size_t kMaxSource = 16 << 20;
constexpr std::size_t kMaxErrors = 64 << 10;  // bytes of standard error kept
constexpr std::size_t kMaxDiagnostics = 1 << 20;

struct Job {
    std::size_t submission;
    std::size_t test;  // kCompile for the compilation
};

// A running child. A compilation writes its diagnostics into a pipe; a run
// writes into two files and is watched through a descriptor of its process
// (pidfd), so that the batch wakes once per run, when it ends.
struct Child {
    Job job;
    pid_t pid = -1;
    int fd = -1;  // the compilation's pipe or the run's pidfd; -1 at its end
    std::string bytes;
    Clock::time_point start, deadline;
    bool killed = false;
    bool reaped = false;  // a run that has been waited for
    int wstatus = 0;
    fs::path out_file, err_file;

    bool done() const { return job.test == kCompile ? fd < 0 : reaped; }
};

// The first `cap` bytes of a file.
std::string read_capped(const fs::path& name, std::size_t cap) {
    std::string bytes;
    std::ifstream in(name, std::ios::binary);
    char buffer[65536];
    while (bytes.size() < cap && in.read(buffer, sizeof buffer).gcount() > 0)
        bytes.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(in.gcount()), cap - bytes.size()));
    return bytes;
}

void write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void write_file(const fs::path& name, std::string_view bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + name.string());
}

// The .vxl file of a submission and its bytes, or the reason there is none
// in `problem`.
void find_source(SubmissionResult& s, std::string& problem) {
    std::error_code ec;
    fs::path file = s.path;
    if (fs::is_directory(file, ec)) {
        std::vector<fs::path> sources;
        for (const fs::directory_entry& e : fs::directory_iterator(file, ec))
            if (e.path().extension() == ".vxl" && e.is_regular_file(ec)) sources.push_back(e.path());
        std::sort(sources.begin(), sources.end());
        if (sources.size() != 1) {
            problem = sources.empty() ? "no .vxl file in this folder" : "more than one .vxl file in this folder:";
            for (const fs::path& p : sources) problem += " " + p.filename().string();
            return;
        }
        file = sources.front();
    } else if (!fs::exists(file, ec)) {
        problem = "no such file or folder";
        return;
    } else if (!fs::is_regular_file(file, ec)) {
        problem = "not a file or a folder";
        return;
    }
    s.source_path = file.string();
    std::ifstream in(file, std::ios::binary);
    if (in) {
        s.source.assign(std::istreambuf_iterator<char>(in), {});
        if (!in.bad() && s.source.size() <= kMaxSource) return;
    }
    problem = in ? "larger than 16 MiB" : "cannot be read";
    s.source.clear();
}

// The compilation, in the forked child: writes prog.exec and prog.dbg into
// `dir`, the diagnostics (UTF-8) on `out`; exits 0 when compiled.
[[noreturn]] void compile_child(const SubmissionResult& s, const fs::path& dir, int out) {
    int status = 1;
    std::string text;
    try {
        CompileOptions options;
        options.g = true;
        const CompileResult r = compile_source(s.source_path, s.source, options);
        ReportStyle style;
        style.format = ReportFormat::gnu;
        style.charset = catalog::Charset::utf8;
        if (!r.diagnostics.empty() || r.fatal || r.status != 0) text = report(r, s.source, style);
        if (r.status == 0 && !r.fatal) {
            const std::string image = (dir / "prog.exec").string();
            write_image_file(image, r.words);
            write_c_file(debuginfo::debug_file_name(image), r.debug_text);
            status = 0;
        }
    } catch (const std::exception& e) {
        text += std::string("vexl-grade: the compilation failed: ") + e.what() + "\n";
        status = 1;
    } catch (...) {
        text += "vexl-grade: the compilation failed\n";
        status = 1;
    }
    write_all(out, text);
    _exit(status);
}

// "FILE:LINE: runtime error: MESSAGE" in the machine's standard error: the
// line and "runtime error: MESSAGE".
int runtime_error_line(const std::string& errors, std::string& message) {
    std::size_t start = 0;
    while (start < errors.size()) {
        std::size_t end = errors.find('\n', start);
        if (end == std::string::npos) end = errors.size();
        const std::string line = errors.substr(start, end - start);
        const std::size_t mark = line.find(": runtime error: ");
        if (mark != std::string::npos) {
            const std::size_t colon = line.rfind(':', mark - 1);
            if (colon != std::string::npos) {
                const int number = std::atoi(line.c_str() + colon + 1);
                if (number > 0) {
                    message = line.substr(mark + 2);
                    return number;
                }
            }
        }
        start = end + 1;
    }
    return 0;
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string seconds_text(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", s);
    return buf;
}

class Batch {
public:
    Batch(const Suite& suite, const std::vector<std::string>& paths, const BatchSettings& settings)
        : suite_(suite), settings_(settings) {
        results_.resize(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) results_[i].path = paths[i];
    }

    // Children still running after a failure of the batch are stopped.
    ~Batch() {
        for (Child& c : children_) {
            if (c.fd >= 0) ::close(c.fd);
            if (c.reaped) continue;
            ::kill(c.pid, SIGKILL);
            while (::waitpid(c.pid, nullptr, 0) < 0 && errno == EINTR) {}
        }
        std::error_code ec;
        if (settings_.scratch.empty() && !root_.empty()) fs::remove_all(root_, ec);
    }

    std::vector<SubmissionResult> run() {
        prepare_scratch();
        left_.assign(results_.size(), 0);
        for (std::size_t i = 0; i < results_.size(); ++i) {
            std::string problem;
            find_source(results_[i], problem);
            if (problem.empty()) {
                ready_.push_back({i, kCompile});
                ++total_;
            } else {
                results_[i].diagnostics = results_[i].path + ": " + problem + "\n";
            }
        }
        total_ += ready_.size() * suite_.tests.size();  // at most; fewer when some do not compile
        loop();
        // Summed in the suite's order, so that fractional points give the
        // same total whatever order the runs ended in.
        for (SubmissionResult& s : results_)
            for (const TestResult& t : s.tests) s.score += t.score;
        return std::move(results_);
    }

private:
    void prepare_scratch() {
        if (settings_.scratch.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexl-grade-XXXXXX";
            if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder in " + pattern + ": " + std::strerror(errno));
            root_ = pattern;
        } else {
            root_ = settings_.scratch;
            std::error_code ec;
            fs::create_directories(root_, ec);
            if (!fs::is_directory(root_)) throw std::runtime_error("cannot make the scratch folder " + root_.string());
        }
        root_ = fs::absolute(root_);
        std::error_code ec;
        fs::create_directories(root_ / "inputs", ec);
        for (std::size_t t = 0; t < suite_.tests.size(); ++t)
            write_file(input_file(t), suite_.tests[t].input);
    }

    fs::path input_file(std::size_t t) const { return root_ / "inputs" / (std::to_string(t + 1) + ".in"); }
    fs::path folder(std::size_t s) const { return root_ / std::to_string(s + 1); }

    void loop() {
        while (!ready_.empty() || !children_.empty()) {
            while (!ready_.empty() && children_.size() < std::max(1u, settings_.jobs)) {
                const Job job = ready_.front();
                ready_.pop_front();
                start(job);
            }
            wait_and_read();
            for (std::size_t i = 0; i < children_.size();) {
                if (children_[i].done()) {
                    Child done = std::move(children_[i]);
                    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
                    finish(done);
                } else {
                    ++i;
                }
            }
        }
    }

    static void make_pipe(int p[2]) {
        if (pipe2(p, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }

    void start(const Job& job) {
        Child c;
        c.job = job;
        c.start = Clock::now();
        if (job.test == kCompile) {
            std::error_code ec;
            fs::create_directories(folder(job.submission), ec);
            int out[2];
            make_pipe(out);
            c.pid = fork();
            if (c.pid == 0) {
                ::close(out[0]);
                compile_child(results_[job.submission], folder(job.submission), out[1]);
            }
            ::close(out[1]);
            if (c.pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
            c.fd = out[0];
            c.deadline = c.start + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(settings_.compile_timeout));
        } else {
            const Test& test = suite_.tests[job.test];
            const std::string image = (folder(job.submission) / "prog.exec").string();
            std::vector<std::string> args{settings_.vexl};
            args.insert(args.end(), settings_.vexl_options.begin(), settings_.vexl_options.end());
            args.push_back("--max-steps=" + std::to_string(test.limits.max_steps));
            args.push_back("--max-output=" + std::to_string(test.limits.max_output));
            args.push_back("--");
            args.push_back(image);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);

            const int in = ::open(input_file(job.test).c_str(), O_RDONLY | O_CLOEXEC);
            if (in < 0) throw std::runtime_error("cannot open " + input_file(job.test).string());
            c.out_file = folder(job.submission) / (std::to_string(job.test + 1) + ".out");
            c.err_file = folder(job.submission) / (std::to_string(job.test + 1) + ".err");
            const int out = ::open(c.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            const int err = ::open(c.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (out < 0 || err < 0) {
                for (int fd : {in, out, err})
                    if (fd >= 0) ::close(fd);
                throw std::runtime_error("cannot write in " + folder(job.submission).string());
            }
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, in, 0);
            posix_spawn_file_actions_adddup2(&actions, out, 1);
            posix_spawn_file_actions_adddup2(&actions, err, 2);
            const bool search = settings_.vexl.find('/') == std::string::npos;
            const int rc = search ? posix_spawnp(&c.pid, argv[0], &actions, nullptr, argv.data(), environ)
                                  : posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), environ);
            posix_spawn_file_actions_destroy(&actions);
            for (int fd : {in, out, err}) ::close(fd);
            if (rc != 0) throw std::runtime_error("cannot start " + settings_.vexl + ": " + std::strerror(rc));
            // Without a pidfd (before Linux 5.3) the loop looks every few
            // milliseconds.
            c.fd = static_cast<int>(::syscall(SYS_pidfd_open, c.pid, 0));
            c.deadline = c.start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                       test.limits.timeout * settings_.timeout_factor));
        }
        children_.push_back(std::move(c));
    }

    void wait_and_read() {
        std::vector<pollfd> fds;
        std::vector<std::size_t> owner;
        Clock::time_point next = Clock::time_point::max();
        bool unwatched = false;
        for (std::size_t i = 0; i < children_.size(); ++i) {
            const Child& c = children_[i];
            if (c.fd >= 0) {
                fds.push_back({c.fd, POLLIN, 0});
                owner.push_back(i);
            } else if (!c.done()) {
                unwatched = true;
            }
            if (!c.killed) next = std::min(next, c.deadline);
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(wait, 0, 1000000));
        }
        if (unwatched && (timeout < 0 || timeout > 2)) timeout = 2;
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        char buffer[65536];
        for (std::size_t f = 0; n > 0 && f < fds.size(); ++f) {
            if (!fds[f].revents) continue;
            Child& c = children_[owner[f]];
            if (c.job.test != kCompile) continue;  // a pidfd: reaped below
            const ssize_t got = ::read(c.fd, buffer, sizeof buffer);
            if (got > 0) {
                c.bytes.append(buffer, std::min(kMaxDiagnostics - std::min(kMaxDiagnostics, c.bytes.size()),
                                                static_cast<std::size_t>(got)));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                ::close(c.fd);
                c.fd = -1;
            }
        }
        for (Child& c : children_)
            if (c.job.test != kCompile && !c.reaped && ::waitpid(c.pid, &c.wstatus, WNOHANG) == c.pid) {
                c.reaped = true;
                if (c.fd >= 0) ::close(c.fd);
                c.fd = -1;
            }
        const Clock::time_point now = Clock::now();
        for (Child& c : children_)
            if (!c.killed && now >= c.deadline) {
                ::kill(c.pid, SIGKILL);
                c.killed = true;
            }
    }

    void finish(Child& c) {
        int wstatus = c.wstatus;
        if (!c.reaped)
            while (::waitpid(c.pid, &wstatus, 0) < 0 && errno == EINTR) {}
        const double seconds = std::chrono::duration<double>(Clock::now() - c.start).count();
        SubmissionResult& s = results_[c.job.submission];
        ++done_;
        if (c.job.test == kCompile) {
            s.diagnostics = std::move(c.bytes);
            if (c.killed) {
                s.diagnostics += "vexl-grade: the compilation did not end within " +
                                 seconds_text(settings_.compile_timeout) + " s\n";
            } else if (WIFSIGNALED(wstatus)) {
                s.diagnostics += "vexl-grade: the compiler stopped on signal " + std::to_string(WTERMSIG(wstatus)) +
                                 " (" + strsignal(WTERMSIG(wstatus)) + ")\n";
            } else if (WEXITSTATUS(wstatus) == 0) {
                s.compiled = true;
                s.tests.resize(suite_.tests.size());
                left_[c.job.submission] = suite_.tests.size();
                // The runs of a compiled submission go first, so that its
                // scratch folder can go soon.
                for (std::size_t t = suite_.tests.size(); t-- > 0;) ready_.push_front({c.job.submission, t});
            }
            if (!s.compiled) {
                total_ -= suite_.tests.size();
                drop_folder(c.job.submission);
            }
        } else {
            classify(c, wstatus, seconds);
            if (--left_[c.job.submission] == 0) drop_folder(c.job.submission);
        }
        if (settings_.progress) settings_.progress(done_, total_);
    }

    void classify(Child& c, int wstatus, double seconds) {
        const Test& test = suite_.tests[c.job.test];
        SubmissionResult& s = results_[c.job.submission];
        TestResult& r = s.tests[c.job.test];
        // Room for the register dump after the program's own output.
        r.output = read_capped(c.out_file, std::min<std::uint64_t>(test.limits.max_output, 1ull << 30) + 4096);
        r.errors = read_capped(c.err_file, kMaxErrors);
        if (settings_.scratch.empty()) {
            std::error_code ec;
            fs::remove(c.out_file, ec);
            fs::remove(c.err_file, ec);
        }
        r.seconds = seconds;
        if (c.killed) {
            r.status = Status::timeout;
            r.detail = "no end within " + seconds_text(test.limits.timeout * settings_.timeout_factor) + " s";
        } else if (WIFSIGNALED(wstatus)) {
            r.status = Status::runtime_error;
            r.detail = "the machine stopped on signal " + std::to_string(WTERMSIG(wstatus)) + " (" +
                       strsignal(WTERMSIG(wstatus)) + ")";
        } else if (WEXITSTATUS(wstatus) == 0) {
            r.status = test.expectation->matches(r.output) ? Status::passed : Status::wrong;
            if (r.status == Status::wrong) r.detail = "the output differs from the expected output";
        } else if (WEXITSTATUS(wstatus) == 3) {
            r.status = Status::limit;
            r.detail = first_line(r.errors);
            if (r.detail.rfind("vexl: ", 0) == 0) r.detail.erase(0, 6);
        } else {
            r.status = Status::runtime_error;
            std::string message;
            r.error_line = runtime_error_line(r.errors, message);
            r.detail = r.error_line ? "line " + std::to_string(r.error_line) + ": " + message : first_line(r.errors);
            if (r.detail.empty()) r.detail = "the machine ended with status " + std::to_string(WEXITSTATUS(wstatus));
        }
        if (r.status == Status::passed) r.score = test.points;
    }

    void drop_folder(std::size_t submission) {
        if (!settings_.scratch.empty()) return;
        std::error_code ec;
        fs::remove_all(folder(submission), ec);
    }

    const Suite& suite_;
    const BatchSettings& settings_;
    std::vector<SubmissionResult> results_;
    std::vector<std::size_t> left_;  // runs still to finish, per submission
    std::deque<Job> ready_;
    std::vector<Child> children_;
    fs::path root_;
    std::size_t done_ = 0, total_ = 0;
};

}  // namespace

const char* status_name(Status status) { return kStatusNames[static_cast<int>(status)]; }
const char* status_cell(Status status) { return kStatusCells[static_cast<int>(status)]; }

std::vector<SubmissionResult> grade_batch(const Suite& suite, const std::vector<std::string>& submissions,
                                          const BatchSettings& settings) {
    return Batch(suite, submissions, settings).run();
}

}  // namespace grade
