// Inside a debugger session: the state shared by run control and the
// structured views (session.cpp) and the command language that formats
// them (commands.cpp).
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <streambuf>

#include "expression.h"
#include "machine.h"
#include "record/recording.h"
#include "session.h"

namespace debugger {

// Thrown by a command handler or the core: the command failed for this reason.
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

struct Breakpoint {
    int number = 0;
    Word address = 0;
    int hits = 0;
    bool enabled = true;
    bool temporary = false;
    std::string condition;
    int ignore = 0;
};

struct Watchpoint {
    int number = 0;
    std::string text;         // canonical: "a[3]" for a[k] with k = 3
    const debuginfo::Variable* variable = nullptr;
    int index = -1;
    Word address = 0;         // of the scalar, the element or element 0
    std::vector<Word> value;  // last value seen, one word per element
    bool local = false;       // of a frame: ends when that frame returns
    std::int64_t depth = 0;   // call depth of that frame
    bool enabled = true;
    int hits = 0;
};

struct Display {
    int number = 0;
    std::string text;
    char format = 0;  // 0 or a print format letter
    bool enabled = true;
};

struct Session::Impl {
    Impl(Program program, Sinks sinks);

    // ---- commands (commands.cpp)
    using Handler = void (Impl::*)(std::string_view args);
#define DEBUG_COMMAND(name, forms, arguments, help) void cmd_##name(std::string_view args);
#define INFO_COMMAND(name, forms, help) void info_##name(std::string_view args);
#include "commands.def"

    bool execute(std::string_view line);
    void show_stop(const StopEvent& e);
    void show_displays();
    std::string location_text(const FrameView& f) const;
    std::string breakpoint_text(int number, Word address) const;
    std::vector<std::string> completions(std::string_view before, std::string_view word) const;

    // ---- run control (session.cpp); these throw CommandError
    StopEvent run();
    StopEvent go();
    StopEvent resume(Motion motion, std::uint64_t count);
    StopEvent run_to(std::vector<Word> targets);
    void start();
    // ---- going back (reverse.cpp)
    StopEvent reverse(Motion mode, std::uint64_t count);
    StopEvent reverse_once(Motion mode, int levels);
    StopEvent reverse_continue();
    StopEvent seek(std::uint64_t instruction);
    StopEvent arrive(StopEvent e);
    void mark_output();  // before a forward motion: for StopEvent::replayed_output
    std::uint64_t output_mark = 0, written_mark = 0;
    StopEvent advance(Motion mode, int levels, const std::vector<Word>& targets);
    bool condition_holds(const Breakpoint& b);
    bool breakpoints_at(Word pc, StopEvent& e);
    bool check_watchpoints(StopEvent& e);
    StopEvent finish_stop(StopEvent e);
    void require_running() const;
    void end_program();
    int add_breakpoint(Word address, std::string condition, bool temporary);
    Word parse_location(std::string_view text, bool for_list = false) const;
    int parse_line_spec(std::string_view text) const;  // FILE:LINE or LINE, checked
    int add_watchpoint(std::string_view text);

    // ---- the stopped program
    const vm::Machine& machine() const { return *machine_; }
    std::vector<debuginfo::Frame> frames() const;
    debuginfo::Frame selected() const;
    FrameView frame_view(const debuginfo::Frame& f, std::size_t level) const;
    std::vector<FrameView> backtrace() const;
    Location location_of(Word pc) const;
    int line_start(Word pc) const;  // line beginning exactly at pc, or 0
    std::string source_text(int line) const;
    std::string instruction_text(Word pc) const;
    bool source_matches(std::string_view file) const;

    // ---- values
    Operand eval(std::string_view text, bool places = false) const;
    void check_condition(std::string_view condition, Word pc) const;
    Value value_of(const Operand& o, std::string expression, char format = 0) const;
    Value variable_value(const debuginfo::Variable& v, Word bp) const;
    std::vector<Value> variables_of(const std::vector<debuginfo::Variable>& vars, std::size_t level) const;
    Word address_of(const debuginfo::Variable& v, int index) const;
    std::string format_word(Word w, debuginfo::Type type, char format) const;
    std::string format_words(const std::vector<Word>& words, debuginfo::Type type, bool array, char format = 0) const;
    void assign(const Operand& target, const Operand& value);
    void refresh_watch_values();

    void say(std::string_view text) { sinks.console(text); }
    const debuginfo::DebugInfo& info() const;

    Program prog;
    Sinks sinks;

    // Program input.
    std::string input_text;
    std::istream* input_stream = nullptr;
    std::function<void()> input_fresh;
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
    // Every run is recorded: the machine reads through recorded_input and
    // writes through replay_output, so it can be taken back and run forward
    // again without reading other input or writing output twice.
    std::unique_ptr<vm::record::RecordedInput> recorded_input;
    std::unique_ptr<std::istream> machine_in;
    std::unique_ptr<vm::record::ReplayOutput> replay_output;
    std::unique_ptr<std::ostream> machine_out;
    std::unique_ptr<vm::Machine> machine_;
    std::unique_ptr<vm::record::Recording> recording;
    enum class State : std::uint8_t { idle, stopped, ended } state = State::idle;
    bool faulted = false;
    std::string fault_message;
    vm::Fault fault_kind = vm::Fault::none;
    std::int64_t depth = 0;  // CALLs minus RETs since the start of the run

    std::vector<int> line_starts;  // per code address: the line beginning there, or 0
    std::vector<Breakpoint> breakpoints;
    std::vector<Watchpoint> watchpoints;
    std::vector<Display> displays;
    std::vector<int> temporaries_hit;  // tbreaks deleted at the last stop
    std::string condition_error;       // a condition that could not be tested at the last stop
    int next_number = 1;  // shared by breakpoints and watchpoints
    int next_display = 1;
    std::vector<Value> history;  // $1, $2, ... of print
    std::size_t frame_index = 0;
    int list_next = 0;    // first line of the next plain `list`, 0 when none
    int list_first = 0;   // first line of the last listing
    std::optional<StopEvent> last_stop;

    std::string last_command;
    bool repeat_on_empty = false;
    bool quit = false;
    std::atomic<bool> interrupt_request{false};
};

// Helpers shared by both halves.
std::string hex4(unsigned value);  // "0x002a"
std::string trim(std::string_view s);
std::optional<long> parse_int(std::string_view s);

}  // namespace debugger
