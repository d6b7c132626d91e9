// A recorded run: the machine's past kept explorable backwards within a
// bounded amount of memory.
//
// A run is deterministic given the bytes it reads, so the past needs no
// log of every instruction: the recording keeps a snapshot of the whole
// machine (registers, flags, pc, data memory, how much input had been read
// and how much output written) every `interval` instructions, and reaches
// any earlier state by restoring the snapshot at or before it and running
// forward again. Data memory is kept in pages shared between snapshots
// while they are equal, and when the snapshots pass the memory budget every
// second one is dropped and the interval doubles, so memory stays bounded
// however long the run; a step back costs at most one interval of
// instructions run again.
//
// The machine must read through a RecordedInput and write through a
// ReplayOutput: the input keeps every byte read, so running forward again
// reads the same bytes, and the output passes each byte on once, so output
// already written stays written and is not written twice when execution
// goes over it again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "machine.h"

namespace vm::record {

// The program's input, every byte kept once read from the source.
class RecordedInput : public std::streambuf {
public:
    // source: where new bytes come from (may be null: the input ends there).
    explicit RecordedInput(std::istream* source) : source_(source) {}
    std::size_t position() const { return eback() ? std::size_t(gptr() - eback()) : pos_; }
    void seek(std::size_t position);
    const std::string& bytes() const { return data_; }

protected:
    int_type underflow() override;

private:
    void reset_area(std::size_t position);
    std::istream* source_;
    std::string data_;
    std::size_t pos_ = 0;
};

// The program's output: bytes past the furthest point written so far go on
// to the target, the others were written already and are dropped.
class ReplayOutput : public std::streambuf {
public:
    explicit ReplayOutput(std::streambuf* target) : target_(target) {}
    std::uint64_t position() const { return pos_; }
    std::uint64_t written() const { return high_; }  // bytes passed on
    void seek(std::uint64_t position) { pos_ = position; }
    // The run from here on may differ from the one recorded: what it writes
    // is new output.
    void forget_future() { high_ = pos_; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override { return target_ ? target_->pubsync() : 0; }

private:
    std::streambuf* target_;
    std::uint64_t pos_ = 0;
    std::uint64_t high_ = 0;
};

struct Options {
    std::uint64_t interval = 1024;               // first distance between snapshots
    std::size_t budget = std::size_t(192) << 20; // bytes of snapshots before thinning
    std::size_t max_snapshots = 8192;            // count before thinning
};

// Tells a backward search which states it looks for.
class Probe {
public:
    virtual ~Probe() = default;
    // A stretch of the run is about to be replayed from the machine's
    // current state.
    virtual void begin(const Machine&) {}
    // After an instruction: whether the state it led to is wanted. `step`
    // holds the instruction, the registers, flags and pc after it (the
    // machine's own are only brought up to date when the loop stops); the
    // machine's data memory is current. `depth` is the call depth after it.
    virtual bool wanted(const Machine& machine, const TraceStep& step, std::int64_t depth) = 0;
};

class Recording {
public:
    // Records `machine` from its current state, state 0. Its input stream
    // must be `in`, reading through `input`, and its output must go
    // through `output`.
    Recording(Machine& machine, std::istream& in, RecordedInput& input, ReplayOutput& output,
              const Options& options = {});
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // The current state: instructions completed since state 0.
    std::uint64_t now() const { return now_; }
    // The furthest state the run has reached.
    std::uint64_t end() const { return end_; }
    // Whether the current state lies in the recorded past (going forward
    // re-executes what was recorded and writes no output).
    bool replaying() const { return now_ < end_; }
    // CALLs minus RETs executed since state 0.
    std::int64_t depth() const { return depth_; }

    // One instruction forward, as Machine::execute_capped(1): a run that
    // finished executes nothing, a fault leaves the state where it is.
    RunResult step();
    // Up to `count` instructions forward (fewer when the program ends or
    // faults).
    RunResult run(std::uint64_t count);
    // Goes to state `target`, which must be at most end().
    void seek(std::uint64_t target);
    // The latest state s with low < s <= high (high <= end()) that `probe`
    // wants, or nullopt. Leaves the machine in an unspecified state: seek
    // afterwards.
    std::optional<std::uint64_t> find_last(std::uint64_t low, std::uint64_t high, Probe& probe);
    // The state was changed by hand: the recorded future is forgotten.
    void truncate();

    // Figures: bytes held by the snapshots, their number, the interval now.
    std::size_t bytes() const { return bytes_; }
    std::size_t snapshots() const;
    std::uint64_t interval() const { return interval_; }

private:
    struct Snapshot;
    struct Live;  // the loop's registers, pc and flags at a hook
    RunResult advance(std::uint64_t count, Probe* probe, std::uint64_t low, std::optional<std::uint64_t>* found);
    void take_snapshot(const Live& live);
    void restore(const Snapshot& s);
    void thin();

    Machine& m_;
    std::istream& in_;
    RecordedInput& input_;
    ReplayOutput& output_;
    Options options_;
    std::vector<std::unique_ptr<Snapshot>> snaps_;  // ascending steps; the first is state 0
    std::uint64_t interval_;
    std::size_t bytes_ = 0;
    std::uint64_t now_ = 0;
    std::uint64_t end_ = 0;
    std::int64_t depth_ = 0;
};

}  // namespace vm::record
