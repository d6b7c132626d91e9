// Runs a program as a child process (fork/exec) with its standard input
// taken from a file, its standard output and error captured, and a time
// limit after which the child and everything it started are killed.
#pragma once

#include <string>
#include <vector>

namespace differential {

struct RunResult {
    bool started = false;    // false: fork or exec failed (error says why)
    bool timed_out = false;
    int exit_status = -1;    // valid when the child exited normally
    int signal = 0;          // the signal that ended it, else 0
    std::string out, err;
    std::string error;

    bool exited_with(int status) const { return started && !timed_out && signal == 0 && exit_status == status; }
    std::string describe() const;  // "exit status 3", "killed by signal 11", "timed out after ..."
};

struct Command {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::string cwd;                // empty: the current directory
    std::string stdin_file;         // empty: /dev/null
    int timeout_ms = 10000;
};

// Safe to call from several threads at once.
RunResult run(const Command& command);

}  // namespace differential
