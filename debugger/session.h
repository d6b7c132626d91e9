// The debugger core: a session over one image and its debug information,
// driven by command lines and writing text. It knows nothing of terminals
// or files it was not told about, so the same core serves `vexldb` and the
// browser playground: the program's output, the debugger's messages and the
// errors of failed commands go to three separate sinks, and the program's
// input is a text or a stream given by the caller.
//
// The program runs on the machine's reference loop one instruction at a
// time, so breakpoints, watchpoints and stepping need nothing from the
// engine, and a runtime error leaves the machine stopped at the failing
// instruction with its frames intact.
#pragma once

#include <atomic>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debuginfo.h"
#include "image.h"

namespace debugger {

using image::Word;

// What is debugged.
struct Program {
    std::string image_name;                    // as shown in messages
    std::vector<Word> words;                   // the image
    std::optional<debuginfo::DebugInfo> info;  // absent: machine level only
    std::vector<std::string> source;           // source lines, line 1 first; empty when unreadable
};

// Loads the image named as `vexl` takes it (".exec" appended when the name
// lacks it), its debug file when it matches, and the source file the debug
// information names (as given, else beside the image). Returns nullopt and
// sets `error` when the image cannot be read; `note` receives a line about
// missing, stale or damaged debug information (empty when all is well).
std::optional<Program> load_program(std::string name, std::string& error, std::string& note);

struct Sinks {
    std::function<void(std::string_view)> program;  // the program's output
    std::function<void(std::string_view)> console;  // the debugger's messages
    std::function<void(std::string_view)> error;    // why a command failed
};

class Session {
public:
    Session(Program program, Sinks sinks);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The program's input for the following runs: a text read from its
    // beginning at every run, or a stream the caller keeps alive (read on
    // from where it stands). `run < FILE` replaces either.
    void set_input_text(std::string text);
    void set_input_stream(std::istream* in);
    // A file opened anew at every run, as `run < FILE` does.
    void set_input_file(std::string name);

    // Whether an empty command line repeats the previous command (as at a
    // terminal). Off by default.
    void set_repeat_on_empty(bool on);

    // Runs one command line. Returns false when the command failed; the
    // reason went to the error sink.
    bool execute(std::string_view line);
    // Whether `quit` was given.
    bool quit_requested() const;
    // Whether the program has been started and has not ended.
    bool running() const;

    // Asks a running command (continue, step, ...) to stop at the next
    // instruction. Safe to call from a signal handler.
    void interrupt();

    // The command names, in the order of `help` (for completion).
    static std::vector<std::string> command_names();

    struct Impl;  // session_impl.h

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace debugger
