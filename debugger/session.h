// The debugger core: a session over one image and its debug information.
//
// Two faces over one state:
//  - the structured API below: run control that returns what happened as a
//    StopEvent, and views of the stopped program (frames, variables with
//    their values, breakpoints and watchpoints with their numbers,
//    registers, the runtime error). Nothing here is text to be parsed: the
//    playground binds these structures, and tests drive them directly.
//  - execute(): one command line of the command language (commands.def),
//    which calls the same functions and formats their results as text on
//    the console sink. `vexldb` is a terminal around execute().
//
// The core knows nothing of terminals or files it was not told about: the
// program's output, the debugger's messages and the errors of failed
// commands go to three separate sinks, and the program's input is a text or
// a stream given by the caller.
//
// The program runs on the machine's reference loop one instruction at a
// time, so breakpoints, watchpoints and stepping need nothing from the
// engine, and a runtime error leaves the machine stopped at the failing
// instruction with its frames intact.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debuginfo.h"
#include "image.h"
#include "machine.h"

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

// ---- The structured API's values ------------------------------------------

// A place in the program.
struct Location {
    Word pc = 0;
    int line = 0;               // 0: no source line
    bool line_start = false;    // pc is where the code of `line` begins
    std::string function;       // empty outside every function
    std::string file;           // the source as the debug information names it
};

// A value as the program sees it: a variable, an element, a slice
// (arr[2]@3), a register or the result of an expression.
struct Value {
    std::string expression;     // as written or as named, e.g. "a[3]"
    debuginfo::Type type = debuginfo::Type::Int;
    bool array = false;         // several elements (a whole array or a slice)
    std::vector<Word> words;    // one per element
    std::string text;           // printed as `print` prints it: "5", "true", "{1, 2}"
};

// One active call, innermost (level 0) first.
struct FrameView {
    int level = 0;
    Location location;          // for outer frames: the call waiting to return
    Word bp = 0;
    std::vector<Value> args;    // the parameters with their values
    // The frame's function as every tool names it ("f",
    // "<global initialisation>", "??"; debuginfo::frame_function), and the
    // frame as backtrace shows it, e.g. "0x0037 in f (n=3) at p.vxl:9".
    std::string name;
    std::string text;
};

// A watchpoint that triggered at a stop.
struct WatchHit {
    int number = 0;
    std::string expression;
    bool scope_ended = false;   // its frame returned; the watchpoint is deleted
    Value old_value, new_value; // unset when scope_ended
};

// Where a runtime error stopped the program.
struct FaultView {
    vm::Fault kind = vm::Fault::none;
    std::string message;        // the machine's message, e.g. "Zero Divide Error ..."
    std::string cause;          // the source-level cause when known, else empty
};

enum class StopReason : std::uint8_t {
    step,          // a step, next, finish, until or advance reached its end
    breakpoint,
    watchpoint,    // watched values changed, or a watched frame returned
    exited,        // the program ended normally
    fault,         // runtime error
    interrupted,
};
const char* reason_name(StopReason r);  // "step", "breakpoint", ...

struct StopEvent {
    StopReason reason = StopReason::step;
    std::vector<int> breakpoints;        // numbers of the breakpoints hit here
    std::vector<WatchHit> watches;       // every watchpoint that triggered, ascending numbers
    std::optional<Location> location;    // absent once the program has ended
    std::optional<FaultView> fault;
    std::optional<Value> returned;       // finish: the value the function returned
    // Going back in time (every run is recorded):
    bool replaying = false;              // the stop lies in the recorded past
    bool history_end = false;            // a reverse motion reached the start of the run
    std::uint64_t replayed_output = 0;   // bytes of output gone over again and not written twice
};

// Where the program stands in its recorded run.
struct RecordView {
    std::uint64_t now = 0;        // instructions executed up to the current state
    std::uint64_t end = 0;        // the furthest state recorded
    std::size_t snapshots = 0;
    std::size_t bytes = 0;        // memory the snapshots hold
    std::uint64_t interval = 0;   // instructions between snapshots
    std::uint64_t output = 0;     // bytes of output the program had written at `now`
};

// A breakpoint or a watchpoint.
struct BreakpointView {
    int number = 0;
    bool watchpoint = false;
    bool enabled = true;
    bool temporary = false;     // tbreak: deleted when hit
    Location location;          // breakpoints: where it stops
    std::string expression;     // watchpoints: what is watched
    std::string condition;      // stops only when this is true; empty for always
    int ignore_count = 0;       // hits still to pass by
    int hits = 0;
};

struct Registers {
    std::array<Word, image::kRegisterCount> regs{};  // GR0-GR4, bp, sp
    Word pc = 0;
    bool zero_flag = false, sign_flag = false;
};

// How run control goes on.
enum class Motion : std::uint8_t { cont, step, next, finish, stepi, nexti, until };

class Session {
public:
    Session(Program program, Sinks sinks);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The program's input for the following runs: a text read from its
    // beginning at every run, or a stream the caller keeps alive. For a
    // stream, `fresh` (when given) is called as every run starts, to clear
    // what an earlier run left (end of input, a failed read, typed-ahead
    // text); the stream's own state flags are cleared in any case.
    // `run < FILE` replaces either.
    void set_input_text(std::string text);
    void set_input_stream(std::istream* in, std::function<void()> fresh = {});
    // A file opened anew at every run, as `run < FILE` does.
    void set_input_file(std::string name);

    // Whether an empty command line repeats the previous command (as at a
    // terminal). Off by default.
    void set_repeat_on_empty(bool on);

    // ---- the command language

    // Runs one command line. Returns false when the command failed; the
    // reason went to the error sink.
    bool execute(std::string_view line);
    // Whether `quit` was given.
    bool quit_requested() const;

    // Asks a running command (continue, step, ...) to stop at the next
    // instruction. Safe to call from a signal handler.
    void interrupt();

    // The command names, in the order of `help`; the `info` subcommands;
    // and the words that complete after `word` (command names for the first
    // word, else variables, functions or info subcommands), for line editing.
    static std::vector<std::string> command_names();
    static std::vector<std::string> info_names();
    std::vector<std::string> completions(std::string_view line_before_word, std::string_view word) const;

    // ---- the structured API (nothing is written to the console sink; the
    // program's output still goes to the program sink). Failures return
    // nullopt (or false) with the reason in *error when given.

    // Starts the program from the beginning and runs it to its first stop.
    std::optional<StopEvent> run(std::string* error = nullptr);
    // Goes on from a stop; `count` as in `step 3` (for cont: the number of
    // breakpoint hits to pass, as `continue N`). `until`/`advance` with a
    // line use run_to().
    std::optional<StopEvent> resume(Motion motion, std::uint64_t count = 1, std::string* error = nullptr);
    // Runs until `where` (as `advance` takes it: LINE, FILE:LINE, FUNCTION)
    // or the current frame returns.
    std::optional<StopEvent> run_to(std::string_view where, std::string* error = nullptr);
    // Goes back in time: `motion` as for resume() (cont: to the last
    // breakpoint or watched change before this point, or the start), undone
    // in reverse. Output already written stays written.
    std::optional<StopEvent> reverse(Motion motion, std::uint64_t count = 1, std::string* error = nullptr);
    // Goes to the state after `instruction` instructions of the recorded run
    // (at most RecordView::end), as a timeline does.
    std::optional<StopEvent> seek(std::uint64_t instruction, std::string* error = nullptr);
    // The recording of the current run; nullopt before the first run.
    std::optional<RecordView> record() const;
    // The last stop (of either face); nullopt before the first run.
    const std::optional<StopEvent>& last_stop() const;
    // Whether the program has been started and has not ended.
    bool running() const;

    // Breakpoints: `where` as `break` takes it. Return the new number.
    std::optional<int> add_breakpoint(std::string_view where, std::string condition = {}, bool temporary = false,
                                      std::string* error = nullptr);
    std::optional<int> add_watchpoint(std::string_view expression, std::string* error = nullptr);
    bool delete_breakpoint(int number);
    bool enable_breakpoint(int number, bool enabled);
    std::vector<BreakpointView> breakpoints() const;

    // Views of the stopped program (empty or nullopt when not running).
    std::vector<FrameView> backtrace() const;
    std::size_t selected_frame() const;
    bool select_frame(std::size_t level);
    std::vector<Value> args(std::size_t level) const;
    std::vector<Value> locals(std::size_t level) const;
    std::vector<Value> globals() const;
    std::optional<Registers> registers() const;
    // `count` words of data memory from `first` (wrapping at the top);
    // empty when not running.
    std::vector<Word> memory(Word first, std::size_t count) const;
    // An expression of the language (no calls; see expression.h) in the
    // selected frame. Does not add to the value history.
    std::optional<Value> evaluate(std::string_view expression, std::string* error = nullptr) const;

    struct Impl;  // session_impl.h

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace debugger
