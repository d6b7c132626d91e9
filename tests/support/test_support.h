// What every test program shares: a scratch directory that cleans up after
// itself, whole-file helpers, and a runner for child processes.
//
//   vexltest::TempDir dir;                         // fresh, removed at scope exit
//   dir.write("prog.vxl", "function void start() { output 1; }");
//   const vexltest::ProcessResult r =
//       vexltest::run_process({{VEXLC, "prog.vxl"}, dir.path()});
//   EXPECT_TRUE(r.exited_with(0)) << r.describe();
//
// The runner uses no shell: argv is passed to the program unchanged. The
// child gets its standard input from Command::input, a process group of its
// own (a timeout kills it and everything it started, e.g. the compiler
// passes of gcc) and the environment of the test plus Command::env. It is
// safe to call from several threads at once.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vexltest {

namespace fs = std::filesystem;

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// on destruction, also when a test made parts of it read-only.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(std::string_view name) const { return path_ / name; }
    // Writes (or replaces) the file `name` in the directory; returns its path.
    fs::path write(std::string_view name, std::string_view bytes) const;
    // The bytes of the file `name` in the directory, "" when unreadable.
    std::string read(std::string_view name) const;

private:
    fs::path path_;
};

// Whole files as bytes. read_file(file, bytes) is false when the file cannot
// be read (a directory cannot); the one-argument form returns "" then.
// write_file throws std::runtime_error when the file cannot be written.
bool read_file(const fs::path& file, std::string& bytes);
std::string read_file(const fs::path& file);
void write_file(const fs::path& file, std::string_view bytes);

struct Command {
    std::vector<std::string> argv{};  // argv[0] is the program's path; PATH is not searched
    fs::path cwd{};                   // working directory of the child; empty: the current one
    std::string input{};              // the bytes on standard input (then end of file)
    int timeout_ms = 10000;           // then the child's process group is killed
    std::vector<std::string> env{};   // "NAME=value" sets, a bare "NAME" removes a variable
};

struct ProcessResult {
    bool started = false;    // false: it could not be started; error says why
    bool timed_out = false;  // killed after Command::timeout_ms
    int status = -1;         // exit status 0-255 when the child exited
    int signal = 0;          // the signal that ended it, else 0
    std::string out, err;    // standard output and error (each cut at 64 MiB)
    std::string error;       // e.g. "/bin/prog: No such file or directory"

    bool exited() const { return started && !timed_out && signal == 0; }
    bool exited_with(int s) const { return exited() && status == s; }
    // "exit status 3", "killed by signal 11", "timed out", "could not start: ..."
    std::string describe() const;
};

ProcessResult run_process(const Command& command);

}  // namespace vexltest
