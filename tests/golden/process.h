// Running a program for a golden case: no shell, standard streams redirected
// to files, the exact exit status, and a time limit so that a looping
// program fails its case instead of hanging the suite.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace golden {

namespace fs = std::filesystem;

struct RunRequest {
    std::vector<std::string> argv;  // argv[0] is the program's path
    fs::path cwd;                   // working directory of the child
    fs::path stdin_file;            // empty: /dev/null
    fs::path capture_dir;           // receives the files "stdout" and "stderr"
    int timeout_ms = 10000;
};

struct RunResult {
    std::string out, err;    // everything written to stdout and stderr
    int status = -1;         // exit status 0-255 when the child exited
    int signal = 0;          // the signal that ended it, else 0
    bool timed_out = false;  // killed after timeout_ms
    std::string failure;     // why it could not be started, else empty

    bool exited() const { return failure.empty() && !timed_out && signal == 0; }
    // "exit status 3", "killed by signal 11", "timed out", ...
    std::string describe() const;
};

RunResult run_program(const RunRequest& request);

// A fresh directory under the system temporary directory, removed with
// everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Whole-file helpers; read_file returns false when the file cannot be read.
bool read_file(const fs::path& file, std::string& bytes);
void write_file(const fs::path& file, const std::string& bytes);

}  // namespace golden
