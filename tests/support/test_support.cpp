// Scratch directories, file helpers and the child-process runner; see
// test_support.h.
#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace vexltest {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (fs::path(base && *base ? base : "/tmp") / "vexl-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(path_, ec))
        if (e.is_directory(ec)) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

fs::path TempDir::write(std::string_view name, std::string_view bytes) const {
    const fs::path file = path_ / name;
    write_file(file, bytes);
    return file;
}

std::string TempDir::read(std::string_view name) const { return read_file(path_ / name); }

bool read_file(const fs::path& file, std::string& bytes) {
    std::error_code ec;
    if (fs::is_directory(file, ec)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string read_file(const fs::path& file) {
    std::string bytes;
    return read_file(file, bytes) ? bytes : std::string();
}

void write_file(const fs::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

std::string ProcessResult::describe() const {
    if (!started) return "could not start: " + error;
    if (timed_out) return "timed out";
    if (signal != 0) return "killed by signal " + std::to_string(signal);
    return "exit status " + std::to_string(status);
}

namespace {

constexpr std::size_t kMaxCapture = 64u << 20;

// The test's environment with the changes of Command::env applied.
std::vector<std::string> child_environment(const std::vector<std::string>& changes) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('='));
        std::erase_if(env, [&](const std::string& e) { return e.compare(0, name.size() + 1, name + "=") == 0; });
        if (change.size() > name.size()) env.push_back(change);
    }
    return env;
}

// The input as an anonymous file: the child reads it at its own pace and
// the parent never blocks on a pipe the child does not drain.
int input_file(const std::string& input) {
    const int fd = memfd_create("vexl-test-input", MFD_CLOEXEC);
    if (fd < 0) return -1;
    for (std::size_t done = 0; done < input.size();) {
        const ssize_t k = write(fd, input.data() + done, input.size() - done);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) {
            close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(k);
    }
    if (lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Between fork and exec only async-signal-safe calls are allowed; a failure
// goes back to the parent as an errno value through the report pipe, which
// otherwise closes on a successful exec.
[[noreturn]] void child(const char* cwd, char* const* argv, char* const* envp, int in_fd, int out_fd, int err_fd,
                        int report_fd) {
    setpgid(0, 0);
    if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 || (*cwd && chdir(cwd) != 0)) {
        const int e = errno;
        (void)!write(report_fd, &e, sizeof e);
        _exit(127);
    }
    execve(argv[0], argv, envp);
    const int e = errno;
    (void)!write(report_fd, &e, sizeof e);
    _exit(127);
}

void close_all(std::initializer_list<int> fds) {
    for (int fd : fds)
        if (fd >= 0) close(fd);
}

}  // namespace

ProcessResult run_process(const Command& command) {
    ProcessResult r;
    if (command.argv.empty()) {
        r.error = "no program given";
        return r;
    }
    // Everything the child needs is prepared before fork.
    std::vector<char*> argv;
    for (const std::string& a : command.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env = child_environment(command.env);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string cwd = command.cwd.string();

    // Close-on-exec everywhere: with several threads starting children at
    // once, a child must not inherit another child's pipe end, or that pipe
    // would never report end of file.
    int out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1};
    const int in_fd = input_file(command.input);
    if (in_fd < 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) {
        r.error = std::string("cannot set up the streams: ") + std::strerror(errno);
        close_all({in_fd, out[0], out[1], err[0], err[1], report[0], report[1]});
        return r;
    }
    const pid_t pid = fork();
    if (pid == 0) child(cwd.c_str(), argv.data(), envp.data(), in_fd, out[1], err[1], report[1]);
    const int fork_errno = errno;
    close_all({in_fd, out[1], err[1], report[1]});
    if (pid < 0) {
        r.error = std::string("fork: ") + std::strerror(fork_errno);
        close_all({out[0], err[0], report[0]});
        return r;
    }
    setpgid(pid, pid);  // also here: whichever runs first, both agree

    int exec_errno = 0;
    ssize_t got;
    do got = read(report[0], &exec_errno, sizeof exec_errno);
    while (got < 0 && errno == EINTR);
    close(report[0]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(command.timeout_ms);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open_fds = 2;
    while (open_fds > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            r.timed_out = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            const ssize_t k = read(fds[i].fd, buf, sizeof buf);
            if (k > 0) {
                if (sinks[i]->size() < kMaxCapture) sinks[i]->append(buf, static_cast<std::size_t>(k));
            } else if (k == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof exec_errno)) {
        r.error = command.argv[0] + ": " + std::strerror(exec_errno);
        return r;
    }
    r.started = true;
    if (r.timed_out) return r;
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    return r;
}

}  // namespace vexltest
