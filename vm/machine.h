// The register machine that runs executable images: state, loader, the
// execution loop and the register dump. One Machine runs one image once.
//
// All program input and output goes through the streams handed to the
// constructor, so the machine can be driven from tests as well as from the
// `vexl` program (which passes the standard streams).
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "image.h"

namespace vm {

namespace profile {
class Counter;  // profile/counter.h
}

using image::Word;

constexpr std::size_t kMemoryWords = 65536;

// Why a run stopped with a runtime error.
enum class Fault : std::uint8_t {
    none,
    illegal_memory_access,  // register field 7-15, address out of range, reading past the code
    illegal_operation,      // undefined opcode
    zero_divide,            // DIV or MOD by zero
    stack_overflow,         // with the stack check on: the stack would wrap around memory
    other,                  // any other error caught by the loop (e.g. allocation failure)
};

// The text written after "Error:" for a fault: empty for Fault::none, and
// "Unknown error" for Fault::other, whose runs usually carry the caught
// exception's own text in RunResult::message instead.
const char* fault_text(Fault fault);

// Bounds of one run, for graders and scripts. Every engine honours them the
// same way: a run never starts instruction max_steps + 1, and never writes
// more than max_output bytes of program output (an output instruction that
// would cross the bound writes the bytes that fit, then the run stops with
// pc still at that instruction).
struct Limits {
    static constexpr std::uint64_t kNone = UINT64_MAX;
    std::uint64_t max_steps = kNone;
    std::uint64_t max_output = kNone;
};

// What a measured run counts.
struct Stats {
    std::uint64_t steps = 0;          // instructions started, a failing one included
    std::uint64_t deepest_stack = 0;  // words from the top of memory to the lowest sp
    std::uint64_t bytes_written = 0;  // bytes of program output
};

struct RunResult {
    enum class End : std::uint8_t {
        finished,      // pc ran past the last code word
        fault,         // runtime error; "Error:" line and dump already written
        step_limit,    // the step cap was reached; the machine can be resumed
        output_limit,  // Limits::max_output was reached
        output_error,  // the output stream failed (disk full, closed pipe):
                       // the run stops at the first output that fails
    };
    End end = End::finished;
    Fault fault = Fault::none;
    std::string message;      // text after "Error:" when end == fault
    std::uint64_t steps = 0;  // instructions started (counted by capped and traced runs only)
};

// What the trace hook sees after each completed instruction.
struct TraceStep {
    Word pc;       // address of the instruction just executed
    Word word;     // its instruction word
    Word next_pc;  // pc after it
    std::array<Word, image::kRegisterCount> regs;
    bool zf;
    bool sf;
};
using TraceHook = std::function<void(const TraceStep&)>;

// How the loop serves an engine that translates only hot code (vm/native):
// it counts the arrivals at each address by a taken jump, a call or a
// return (up to 0xFFFF), and hands the run back (before the instruction
// there starts) when it arrives at an address whose count reaches the
// threshold. The engine sets the count of an address it has translated to
// 0xFFFF: one small array tells both, which matters to images that arrive
// at tens of thousands of addresses.
struct Profile {
    std::uint16_t* counts = nullptr;  // per pc, kMemoryWords entries
    std::uint16_t threshold = 1;
    // Steps the stretch runs before it hands back at all (arrivals are still
    // counted): an engine that has just left its code for the loop sets it,
    // so that leaving and entering cannot cost more than the loop's work.
    std::uint64_t stay = 0;
    bool lowest_sp_kept = true;  // false: the run leaves lowest_sp alone
    // Set by the run.
    bool handed_back = false;  // stopped at such an address (the end is step_limit)
    Word lowest_sp = 0xFFFF;   // the lowest sp seen
};

class Machine {
public:
    Machine(std::istream& in, std::ostream& out, std::ostream& err);

    // The whole program run for one command-line argument: appends ".exec"
    // when the name lacks it, loads the file and executes it. Returns the
    // exit status: 0 after a normal end, 1 when the file cannot be read or
    // the run ended with a runtime error, 3 when it was stopped by a limit.
    // `result` (when given) receives how the run ended.
    // `loaded`, when given, is called after the image is loaded and its file
    // closed, before the run starts (vexl confines itself there).
    int run_file(std::string name, const Limits& limits = {}, Stats* stats = nullptr,
                 RunResult* result = nullptr, const std::function<void()>& loaded = nullptr);

    // Replaces the code array; data memory, registers and flags are kept.
    void load(std::vector<Word> words);

    // Runs from the current pc until pc passes the code or a runtime error
    // occurs (which writes "Error:" + message on err and the dump on out).
    RunResult execute();
    // As execute(), within `limits`, counting into `stats` when given.
    // Without limits and stats this is the plain loop.
    RunResult execute(const Limits& limits, Stats* stats = nullptr);
    // As execute(), but stops before starting instruction number max_steps+1.
    RunResult execute_capped(std::uint64_t max_steps);


    // Another engine for every execute() and execute_capped() (vm/native);
    // null, the default, is the loop of this class. Traced runs always use
    // the loop. An engine gets the run as the loop would: uncounted (no
    // limits), or within limits and counting into stats when given.
    using Engine = RunResult (*)(Machine&, const Limits* limits, Stats* stats);
    void set_engine(Engine engine) { engine_ = engine; }

    // The stack check (off by default; the loop of this class only): a
    // push (PUSH, CALL) or an arithmetic on sp that would take sp around
    // the bottom of memory, and so make the stack overwrite the globals
    // and the oldest frames at the top, stops the run with
    // Fault::stack_overflow before it writes anything, pc at that
    // instruction.
    void set_check_stack(bool on) { check_stack_ = on; }
    bool check_stack() const { return check_stack_; }
    // The loop of this class, whatever the engine.
    RunResult execute_reference(const Limits* limits, Stats* stats);
    // As execute(const Limits&, Stats*) on the loop of this class, whatever
    // the engine, telling `counter` of every instruction started and every
    // call and return (a line-count or profile run; the caller calls
    // counter.finish() when the whole run is over).
    RunResult execute_counted(profile::Counter& counter, const Limits& limits, Stats* stats = nullptr);
    // For engines (vm/native): a stretch of the loop that stops before
    // instruction max_steps + 1 and when `profile` says so, counting steps in
    // the result, with the output room set by set_output_room().
    RunResult execute_profiled(std::uint64_t max_steps, Profile& profile);
    // As execute_capped(), calling hook after every completed instruction.
    RunResult execute_traced(const TraceHook& hook,
                             std::uint64_t max_steps = UINT64_MAX);

    // Writes the four-line register dump to out.
    void dump();

    // Why the output stream failed ("No space left on device"), after a run
    // that ended with RunResult::End::output_error; empty when unknown.
    std::string write_error() const;

    // State access for tests and tools.
    Word reg(unsigned r) const { return regs_.at(r); }
    void set_reg(unsigned r, Word v) { regs_.at(r) = v; }
    const std::array<Word, image::kRegisterCount>& registers() const { return regs_; }
    Word pc() const { return pc_; }
    void set_pc(Word pc) { pc_ = pc; }
    bool zero_flag() const { return zf_; }
    bool sign_flag() const { return sf_; }
    void set_flags(bool zf, bool sf) { zf_ = zf; sf_ = sf; }
    Word memory(Word addr) const { return memory_[addr]; }
    Word* memory_data() { return memory_.get(); }  // kMemoryWords words
    const Word* memory_data() const { return memory_.get(); }
    void set_memory(Word addr, Word v) { memory_[addr] = v; }
    const std::vector<Word>& code() const { return code_; }

    // Program output and input for engines that run instructions themselves:
    // the machine's own formatting, buffering and input rules. The output
    // calls write what fits into the output room and return false when the
    // room ran out (the run must then stop at the instruction).
    bool put_integer(Word value);
    bool put_bool(Word value);
    // OUTS at pc, whose text must end inside the code.
    bool put_text(Word pc);
    // INI: true when a number was read into value; false when none could be
    // (the target stays unchanged). After an input error (see input_error())
    // it returns false at once.
    bool get_integer(Word& value);
    // Why standard input could not be read at all ("" while it could): the
    // next INI on the loop stops the run with it.
    const std::string& input_error() const { return input_error_; }
    void set_output_room(std::uint64_t bytes) { output_room_ = bytes; output_cut_ = false; }
    std::uint64_t output_room() const { return output_room_; }
    std::uint64_t bytes_written() const { return bytes_written_; }

private:
    template <class Policy>
    RunResult run_loop(Policy& policy);
    // run_loop for a policy with an output room and the lowest sp, filling
    // stats when given.
    template <class Policy>
    RunResult run_limited(Policy& policy, std::uint64_t max_output, Stats* stats);

    void report(RunResult& result);
    bool read_integer(Word& value);
    bool scan_integer(Word& value);
    void emit(const char* bytes, std::size_t count);
    void write_integer(Word value);
    void write_bool(Word value);
    std::size_t write_text(std::size_t start);

    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;

    std::array<Word, image::kRegisterCount> regs_{};
    Word pc_ = 0;
    bool zf_ = false;
    bool sf_ = false;
    struct FreeMemory {
        void operator()(Word* p) const { std::free(p); }
    };
    std::unique_ptr<Word[], FreeMemory> memory_;  // kMemoryWords words
    std::vector<Word> code_;
    // Program output: bytes written over the machine's life, and the bytes
    // the current run may still write (see Limits::max_output).
    std::uint64_t bytes_written_ = 0;
    std::uint64_t output_room_ = Limits::kNone;
    bool output_cut_ = false;
    bool write_failed_ = false;  // the output stream failed; see RunResult::End::output_error
    int write_errno_ = 0;
    std::string input_error_;
    Engine engine_ = nullptr;
    bool check_stack_ = false;
};

// "N things" with the singular for 1: count_text(1, "byte", "bytes").
std::string count_text(std::uint64_t n, const char* one, const char* many);

// "step limit of N instructions reached" or "output limit of N bytes
// reached" (singular for 1) for a run that ended at a limit; empty otherwise.
std::string limit_text(const RunResult& result, const Limits& limits);

}  // namespace vm
