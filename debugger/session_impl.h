// Inside a debugger session: the state shared by run control
// (session.cpp) and the command handlers (commands.cpp).
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <streambuf>

#include "machine.h"
#include "session.h"

namespace debugger {

// Thrown by a command handler: the command failed for this reason.
struct CommandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A stream buffer that hands every write to a function.
class Tap : public std::streambuf {
public:
    explicit Tap(std::function<void(std::string_view)> target) : target_(std::move(target)) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        target_(std::string_view(&ch, 1));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        target_(std::string_view(s, std::size_t(n)));
        return n;
    }

private:
    std::function<void(std::string_view)> target_;
};

// Something to show: a variable (or one element of it), or a register.
struct Expression {
    std::string text;  // as written, for messages
    const debuginfo::Variable* variable = nullptr;
    int index = -1;     // element of an array variable, -1 for all of it
    int reg = -1;       // 0-6 as in the image format, 7 for pc
};

struct Breakpoint {
    int number = 0;
    Word address = 0;
    int hits = 0;
};

struct Watchpoint {
    int number = 0;
    std::string text;
    const debuginfo::Variable* variable = nullptr;
    int index = -1;
    Word address = 0;         // of the scalar, the element or element 0
    std::vector<Word> value;  // last value seen, one word per element
    bool local = false;       // of a frame: ends when that frame returns
    std::int64_t depth = 0;   // call depth of that frame
};

struct Display {
    int number = 0;
    std::string text;
};

enum class Mode : std::uint8_t { cont, step, next, finish, stepi, nexti };

enum class Stop : std::uint8_t {
    done,         // the step or finish reached its end
    breakpoint,
    watchpoint,   // a watched value changed, or its frame returned
    exited,       // the program ended normally
    fault,        // runtime error
    interrupted,
};

struct Session::Impl {
    Impl(Program program, Sinks sinks);

    // ---- commands (commands.cpp)
    using Handler = void (Impl::*)(std::string_view args);
#define DEBUG_COMMAND(name, forms, arguments, help) void cmd_##name(std::string_view args);
#define INFO_COMMAND(name, forms, help) void info_##name(std::string_view args);
#include "commands.def"

    bool execute(std::string_view line);

    // ---- run control (session.cpp)
    void start();
    void resume(Mode mode, std::uint64_t count = 1);
    Stop advance(Mode mode, int levels);
    bool check_watchpoints(Stop& stop);
    void report_stop(Stop stop);
    void require_running() const;
    void end_program();

    // ---- the stopped program
    const vm::Machine& machine() const { return *machine_; }
    std::vector<debuginfo::Frame> frames() const;
    debuginfo::Frame selected() const;
    int line_start(Word pc) const;  // line beginning exactly at pc, or 0
    std::string frame_text(const debuginfo::Frame& frame, bool innermost) const;
    std::string location_text(const debuginfo::Frame& frame, bool innermost) const;
    std::string source_text(int line) const;
    std::string instruction_text(Word pc) const;

    // ---- variables
    Expression parse_expression(std::string_view text, bool allow_registers) const;
    Word address_of(const debuginfo::Variable& v, int index) const;
    std::string value_text(const Expression& e, bool hex) const;
    std::string format_word(Word w, debuginfo::Type type, bool hex) const;
    std::string format_words(const std::vector<Word>& words, debuginfo::Type type, bool array,
                             bool hex = false) const;
    std::vector<Word> read_words(const Expression& e) const;
    void show_displays();

    void say(std::string_view text) { sinks.console(text); }
    const debuginfo::DebugInfo& info() const;

    Program prog;
    Sinks sinks;

    // Program input.
    std::string input_text;
    std::istream* input_stream = nullptr;
    std::string input_file;  // from `run < FILE`
    std::unique_ptr<std::istream> run_input;

    // The machine of the current run. Its error stream only ever receives
    // the "Error:" line of a runtime error; the register dump that follows
    // on its output stream is not program output and is dropped (`info
    // registers` shows the same).
    bool fault_reported = false;
    Tap program_tap;
    Tap error_tap;
    std::ostream program_out;
    std::ostream error_out;
    std::unique_ptr<vm::Machine> machine_;
    enum class State : std::uint8_t { idle, stopped, ended } state = State::idle;
    bool faulted = false;
    std::string fault_message;
    vm::Fault fault_kind = vm::Fault::none;
    std::int64_t depth = 0;  // CALLs minus RETs since the start of the run

    std::vector<int> line_starts;  // per code address: the line beginning there, or 0
    std::vector<Breakpoint> breakpoints;
    std::vector<Watchpoint> watchpoints;
    std::vector<Display> displays;
    int next_number = 1;  // shared by breakpoints and watchpoints
    int next_display = 1;
    int history = 0;      // $N of print
    std::size_t frame_index = 0;
    int list_next = 0;    // first line of the next plain `list`, 0 when none

    std::string last_command;
    bool repeat_on_empty = false;
    bool quit = false;
    std::atomic<bool> interrupt_request{false};
};

// Helpers shared by both halves.
std::string hex4(unsigned value);  // "0x002a"
std::string trim(std::string_view s);

}  // namespace debugger
