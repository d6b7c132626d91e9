// Shared helpers of the machine tests: instruction words and a machine wired
// to string streams.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"
#include "native/engine.h"

namespace vmtest {

using image::Opcode;
using vm::Word;
using namespace image;  // opcode and register names

constexpr Word op(Opcode o, unsigned r = 0, unsigned x = 0) { return make_word(o, r, x); }

// One machine with its input preset, its output and error text collected.
struct Harness {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    vm::Machine m{in, out, err};

    // VEXL_ENGINE=native runs the machine tests on the translating engine.
    explicit Harness(std::string input = "") : in(std::move(input)) {
        const char* engine = std::getenv("VEXL_ENGINE");
        if (engine != nullptr && std::string(engine) == "native") m.set_engine(vm::native::execute);
    }

    vm::RunResult run(std::vector<Word> words, std::uint64_t max_steps = 100000) {
        m.load(std::move(words));
        return m.execute_capped(max_steps);
    }
    // Runs only the first instruction(s), to look at pc and state midway.
    vm::RunResult step(std::vector<Word> words, std::uint64_t n = 1) { return run(std::move(words), n); }
};

}  // namespace vmtest
