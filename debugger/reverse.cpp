// Going back in time: the reverse motions and the timeline, over the
// recording every run keeps (vm/record). Each motion looks for the latest
// earlier state that the forward motion would have stopped at, coming from
// the other side: the recording replays stretches of the run and a probe
// tells which states qualify.
#include <algorithm>

#include "session_impl.h"

namespace debugger {

using Impl = Session::Impl;

namespace {

// A probe from a predicate on the state an instruction led to: its pc and
// the call depth.
template <class F>
class StateProbe : public vm::record::Probe {
public:
    explicit StateProbe(F f) : f_(std::move(f)) {}
    bool wanted(const vm::Machine&, const vm::TraceStep& step, std::int64_t depth) override {
        return f_(step.next_pc, depth);
    }

private:
    F f_;
};

// reverse-continue: a breakpoint's address reached (at a state up to
// `last`), or a watched value changed by the instruction that led to a
// state. Of the states it wants, the recording returns the latest; the
// probe keeps what it saw there.
class ContinueProbe : public vm::record::Probe {
public:
    struct Watched {
        int number;
        Word address;
        std::size_t words;
        std::vector<Word> value;  // at the state before
    };
    ContinueProbe(const vm::record::Recording& recording, std::vector<Word> addresses, std::vector<Watched> watched,
                  std::uint64_t last)
        : recording_(recording), addresses_(std::move(addresses)), watched_(std::move(watched)), last_(last) {}

    void begin(const vm::Machine& m) override {
        state_ = recording_.now();
        for (Watched& w : watched_)
            for (std::size_t i = 0; i < w.words; ++i) w.value[i] = m.memory(Word(w.address - i));
    }
    bool wanted(const vm::Machine& m, const vm::TraceStep& step, std::int64_t) override {
        ++state_;
        std::vector<Change> changes;
        for (Watched& w : watched_) {
            std::vector<Word> now(w.words);
            for (std::size_t i = 0; i < w.words; ++i) now[i] = m.memory(Word(w.address - i));
            if (now == w.value) continue;
            changes.push_back({w.number, w.value, now});
            w.value = std::move(now);
        }
        if (state_ <= last_ &&
            std::find(addresses_.begin(), addresses_.end(), step.next_pc) != addresses_.end()) {
            changes_.clear();
            return true;
        }
        if (changes.empty()) return false;
        changes_ = std::move(changes);
        return true;
    }
    // At the state found: the watched changes that led there (none for a
    // breakpoint).
    struct Change {
        int number;
        std::vector<Word> before, after;
    };
    const std::vector<Change>& changes() const { return changes_; }

private:
    const vm::record::Recording& recording_;
    std::vector<Word> addresses_;
    std::vector<Watched> watched_;
    std::uint64_t last_;
    std::uint64_t state_ = 0;
    std::vector<Change> changes_;
};

}  // namespace

StopEvent Impl::reverse(Motion mode, std::uint64_t count) {
    if (!recording || state == State::idle) throw CommandError("The program is not being run.");
    if ((mode == Motion::step || mode == Motion::next) && !prog.info) info();
    if (mode == Motion::until) throw CommandError("Target does not support this command in reverse.");
    interrupt_request.store(false);
    temporaries_hit.clear();
    condition_error.clear();
    int levels = 1;
    if (mode == Motion::finish) {
        const std::vector<debuginfo::Frame> fs = frames();
        if (state != State::stopped || frame_index + 1 >= fs.size() || !fs[frame_index + 1].function)
            throw CommandError("\"finish\" not meaningful in the outermost frame.");
        levels = int(frame_index) + 1;
    }
    frame_index = 0;
    // Going back from the end of a run: every position in the history is a
    // stopped program, whose variables a breakpoint's condition reads.
    state = State::stopped;
    StopEvent e;
    for (std::uint64_t i = 0; i < std::max<std::uint64_t>(count, 1); ++i) {
        e = mode == Motion::cont ? reverse_continue() : reverse_once(mode, levels);
        levels = 1;
        if (e.reason != StopReason::step || e.history_end) break;
    }
    return arrive(std::move(e));
}

// The program stands at a recorded state: the session follows.
StopEvent Impl::arrive(StopEvent e) {
    state = State::stopped;
    faulted = false;
    depth = recording->depth();
    refresh_watch_values();
    return finish_stop(std::move(e));
}

StopEvent Impl::reverse_once(Motion mode, int levels) {
    StopEvent e;
    const std::uint64_t now = recording->now();
    if (now == 0) {
        e.history_end = true;
        return e;
    }
    const Word pc = machine().pc();
    const std::int64_t d0 = recording->depth();
    // Mid-line, any line start is a step back (to this line's own start).
    const bool mid_line = line_start(pc) == 0;
    const int line0 = prog.info ? prog.info->line_at(pc) : 0;
    std::optional<std::uint64_t> found;
    auto search = [&](auto wanted) {
        StateProbe probe(wanted);
        found = recording->find_last(0, now - 1, probe);
    };
    switch (mode) {
    case Motion::stepi: found = now - 1; break;
    case Motion::nexti: search([&](Word, std::int64_t d) { return d <= d0; }); break;
    case Motion::step:
        // Into a call from its end: the last line of the function called
        // from here, the calls it made being part of that line.
        search([&](Word at, std::int64_t d) {
            const int line = line_start(at);
            return line > 0 && d <= d0 + 1 && (mid_line || line != line0 || d != d0);
        });
        break;
    case Motion::next:
        search([&](Word at, std::int64_t d) {
            const int line = line_start(at);
            return d <= d0 && line > 0 && (mid_line || line != line0 || d < d0);
        });
        break;
    case Motion::finish: search([&](Word, std::int64_t d) { return d <= d0 - levels; }); break;
    default: break;
    }
    if (!found) {
        recording->seek(0);
        e.history_end = true;
        return e;
    }
    recording->seek(*found);
    e.reason = StopReason::step;
    return e;
}

// Back to the latest breakpoint reached or watched change made before now.
// A watched change stops before the instruction that made it; a breakpoint
// whose condition is false there is passed by.
StopEvent Impl::reverse_continue() {
    StopEvent e;
    std::vector<Word> addresses;
    for (const Breakpoint& b : breakpoints)
        if (b.enabled) addresses.push_back(b.address);
    std::vector<ContinueProbe::Watched> watched;
    for (const Watchpoint& w : watchpoints)
        if (w.enabled) watched.push_back({w.number, w.address, w.value.size(), std::vector<Word>(w.value.size())});
    std::uint64_t high = recording->now();
    while (high > 0) {
        ContinueProbe probe(*recording, addresses, watched, high - 1);
        const std::optional<std::uint64_t> found = recording->find_last(0, high, probe);
        if (!found) break;
        if (!probe.changes().empty()) {
            // Before the instruction that changed them: going backwards, the
            // value after it is the old one.
            recording->seek(*found - 1);
            for (const ContinueProbe::Change& c : probe.changes()) {
                auto w = std::find_if(watchpoints.begin(), watchpoints.end(),
                                      [&](const Watchpoint& x) { return x.number == c.number; });
                if (w == watchpoints.end()) continue;
                WatchHit h;
                h.number = w->number;
                h.expression = w->text;
                Operand o;
                o.type = w->variable->type;
                o.array = w->variable->is_array() && w->index < 0;
                o.words = c.after;
                h.old_value = value_of(o, w->text);
                o.words = c.before;
                h.new_value = value_of(o, w->text);
                e.watches.push_back(std::move(h));
            }
            e.reason = StopReason::watchpoint;
            return e;
        }
        recording->seek(*found);
        std::vector<int> hit;
        for (const Breakpoint& b : breakpoints) {
            if (b.address != machine().pc() || !b.enabled || !condition_holds(b)) continue;
            hit.push_back(b.number);
        }
        if (!hit.empty()) {
            e.breakpoints = std::move(hit);
            e.reason = StopReason::breakpoint;
            return e;
        }
        high = *found;
    }
    recording->seek(0);
    e.history_end = true;
    return e;
}

void Impl::mark_output() {
    if (!replay_output) return;
    output_mark = replay_output->position();
    written_mark = replay_output->written();
}

StopEvent Impl::seek(std::uint64_t instruction) {
    if (!recording || state == State::idle) throw CommandError("The program is not being run.");
    if (instruction > recording->end())
        throw CommandError("Instruction " + std::to_string(instruction) + " lies beyond the recorded run (" +
                           std::to_string(recording->end()) + " instructions).");
    frame_index = 0;
    temporaries_hit.clear();
    condition_error.clear();
    recording->seek(instruction);
    StopEvent e;
    e.reason = StopReason::step;
    // The end of a run that finished: the program has ended there.
    if (instruction == recording->end() && machine().pc() >= prog.words.size()) {
        e.reason = StopReason::exited;
        faulted = false;
        depth = recording->depth();
        return finish_stop(std::move(e));
    }
    return arrive(std::move(e));
}

}  // namespace debugger

namespace debugger {

std::vector<Word> Session::memory(Word first, std::size_t count) const {
    std::vector<Word> words;
    if (!impl_->machine_ || impl_->state != Impl::State::stopped) return words;
    for (std::size_t i = 0; i < count; ++i) words.push_back(impl_->machine().memory(Word(first + i)));
    return words;
}

}  // namespace debugger
