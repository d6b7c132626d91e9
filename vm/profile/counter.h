// What a counting run of the machine records: how often each code word
// started an instruction and, per call target, the calls and the
// instructions spent inside them. The loop calls the three hooks below
// (Machine::execute_counted), so the counts are exact and the same
// whichever engine the program would otherwise run on. The machine knows
// nothing of source lines: vm/profile/line_counts.h reads the counts
// through the debug information.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image.h"

namespace vm::profile {

using image::Word;

class Counter {
public:
    explicit Counter(std::size_t code_words)
        : executed_(code_words), calls_(1u << 16), inclusive_(1u << 16), active_(1u << 16) {}

    // How often the word at each address started an instruction.
    const std::vector<std::uint64_t>& executed() const { return executed_; }
    // Per call target address: the CALLs made to it, and the instructions
    // executed from its first one up to its RET (the nested calls included;
    // a recursive call is counted once, in its outermost activation).
    const std::vector<std::uint64_t>& calls() const { return calls_; }
    const std::vector<std::uint64_t>& inclusive() const { return inclusive_; }

    // Instructions started, over every run counted so far (a run may go
    // on in several slices).
    std::uint64_t instructions() const { return steps_; }

    // ---- hooks of the machine's loop
    void instruction(Word pc) {
        ++steps_;
        if (pc < executed_.size()) ++executed_[pc];
    }
    void call(Word target) {
        const std::uint64_t step = steps_;
        ++calls_[target];
        if (stack_.size() >= kMaxDepth) {
            ++lost_;  // beyond the shadow stack: counted, not timed
        } else {
            stack_.push_back({target, step});
            ++active_[target];
        }
    }
    void ret() {
        const std::uint64_t step = steps_;
        if (lost_ > 0) {
            --lost_;
            return;
        }
        if (stack_.empty()) return;  // a RET without a CALL of this run
        const Activation a = stack_.back();
        stack_.pop_back();
        if (--active_[a.target] == 0) inclusive_[a.target] += step - a.step;
    }
    // At the end of the run: the calls still active are timed up to there.
    void finish() {
        while (!stack_.empty() || lost_ > 0) ret();
    }

private:
    static constexpr std::size_t kMaxDepth = std::size_t(1) << 20;
    struct Activation {
        Word target;
        std::uint64_t step;    // of the CALL
    };
    std::vector<std::uint64_t> executed_;
    std::vector<std::uint64_t> calls_;
    std::vector<std::uint64_t> inclusive_;
    std::vector<std::uint32_t> active_;  // activations of each target on the stack
    std::vector<Activation> stack_;
    std::uint64_t lost_ = 0;
    std::uint64_t steps_ = 0;
};

}  // namespace vm::profile
