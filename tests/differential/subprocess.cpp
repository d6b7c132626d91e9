// Child processes for the differential test. The child gets its own process
// group so that a timeout also ends the processes it started (gcc runs cc1,
// as and ld). Pipes are created close-on-exec: with several threads
// starting children at once, a child must not inherit another child's pipe,
// or that pipe would never report end of file.
#include "subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace differential {

std::string RunResult::describe() const {
    if (!started) return "could not start: " + error;
    if (timed_out) return "timed out";
    if (signal != 0) return "killed by signal " + std::to_string(signal);
    return "exit status " + std::to_string(exit_status);
}

namespace {

// Between fork and exec only async-signal-safe calls are allowed; failures
// are reported through the exec-status pipe as an errno value.
[[noreturn]] void child(const Command& command, char* const* argv, int out_fd, int err_fd, int status_fd) {
    setpgid(0, 0);
    int in_fd = open(command.stdin_file.empty() ? "/dev/null" : command.stdin_file.c_str(), O_RDONLY);
    if (in_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 ||
        (!command.cwd.empty() && chdir(command.cwd.c_str()) != 0)) {
        int e = errno;
        (void)!write(status_fd, &e, sizeof e);
        _exit(127);
    }
    execv(argv[0], argv);
    int e = errno;
    (void)!write(status_fd, &e, sizeof e);
    _exit(127);
}

}  // namespace

RunResult run(const Command& command) {
    RunResult r;
    std::vector<char*> argv;
    for (const std::string& a : command.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (command.argv.empty()) {
        r.error = "no program";
        return r;
    }

    int out[2], err[2], status[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        r.error = std::strerror(errno);
        return r;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        r.error = std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return r;
    }
    if (pipe2(status, O_CLOEXEC) != 0) {
        r.error = std::strerror(errno);
        for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
        return r;
    }
    const pid_t pid = fork();
    if (pid == 0) child(command, argv.data(), out[1], err[1], status[1]);
    close(out[1]);
    close(err[1]);
    close(status[1]);
    if (pid < 0) {
        r.error = std::strerror(errno);
        for (int fd : {out[0], err[0], status[0]}) close(fd);
        return r;
    }
    // The status pipe closes on a successful exec; a value in it is exec's errno.
    int exec_errno = 0;
    ssize_t got;
    do got = read(status[0], &exec_errno, sizeof exec_errno);
    while (got < 0 && errno == EINTR);
    close(status[0]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(command.timeout_ms);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open_fds = 2;
    while (open_fds > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            r.timed_out = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            break;
        }
        const int n = poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            const ssize_t k = read(fds[i].fd, buf, sizeof buf);
            if (k > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(k));
            } else if (k == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof exec_errno)) {
        r.error = std::string("cannot run ") + command.argv[0] + ": " + std::strerror(exec_errno);
        return r;
    }
    r.started = true;
    if (WIFEXITED(wstatus)) r.exit_status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    return r;
}

}  // namespace differential
