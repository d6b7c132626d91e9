// fork/exec with redirected streams and a deadline; see process.h.
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace golden {

std::string RunResult::describe() const {
    if (!failure.empty()) return "could not run: " + failure;
    if (timed_out) return "timed out and was killed";
    if (signal != 0) return "killed by signal " + std::to_string(signal);
    return "exit status " + std::to_string(status);
}

RunResult run_program(const RunRequest& request) {
    RunResult result;
    const fs::path out_path = request.capture_dir / "stdout";
    const fs::path err_path = request.capture_dir / "stderr";
    const std::string in_path = request.stdin_file.empty() ? "/dev/null" : request.stdin_file.string();

    // Everything the child needs is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<char*> argv;
    for (const std::string& a : request.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string cwd = request.cwd.string();

    const int in_fd = open(in_path.c_str(), O_RDONLY | O_CLOEXEC);
    const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int report[2] = {-1, -1};  // the child writes errno here if exec fails
    if (in_fd < 0 || out_fd < 0 || err_fd < 0 || pipe2(report, O_CLOEXEC) != 0) {
        result.failure = std::string("cannot set up the streams: ") + std::strerror(errno);
        for (int fd : {in_fd, out_fd, err_fd, report[0], report[1]})
            if (fd >= 0) close(fd);
        return result;
    }

    const pid_t pid = fork();
    if (pid == 0) {
        // A process group of its own, so a timeout also kills what the child
        // started (gcc runs cc1, as and ld).
        setpgid(0, 0);
        if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 ||
            chdir(cwd.c_str()) != 0) {
            int e = errno;
            (void)!write(report[1], &e, sizeof e);
            _exit(127);
        }
        execv(argv[0], argv.data());
        int e = errno;
        (void)!write(report[1], &e, sizeof e);
        _exit(127);
    }
    close(in_fd);
    close(out_fd);
    close(err_fd);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        result.failure = std::string("fork: ") + std::strerror(errno);
        return result;
    }
    setpgid(pid, pid);  // also here: whichever runs first wins, both agree

    // The report pipe closes on a successful exec; a read of an errno means
    // the program never started.
    int child_errno = 0;
    ssize_t n;
    do n = read(report[0], &child_errno, sizeof child_errno);
    while (n < 0 && errno == EINTR);
    close(report[0]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(request.timeout_ms);
    int wstatus = 0;
    for (;;) {
        const pid_t w = waitpid(pid, &wstatus, WNOHANG);
        if (w == pid) break;
        if (w < 0 && errno != EINTR) {
            result.failure = std::string("waitpid: ") + std::strerror(errno);
            return result;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
            while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {}
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    if (n == static_cast<ssize_t>(sizeof child_errno)) {
        result.failure = request.argv[0] + ": " + std::strerror(child_errno);
    } else if (!result.timed_out) {
        if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
        else if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
    }
    read_file(out_path, result.out);
    read_file(err_path, result.err);
    return result;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (fs::path(base && *base ? base : "/tmp") / "vexl-golden-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

bool read_file(const fs::path& file, std::string& bytes) {
    std::error_code ec;
    if (fs::is_directory(file, ec)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void write_file(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace golden
