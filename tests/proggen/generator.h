// Seeded random program generator for differential testing: builds a valid,
// warning-free source program whose two translations must print the same
// output, together with an input file that supplies every number it reads.
#pragma once

#include <cstdint>
#include <string>

namespace proggen {

struct Options {
    int max_functions = 4;  // functions besides start
    long budget = 2000;     // bound on the statements one run executes
    long max_inputs = 200;  // bound on the numbers one run reads
    // Globals without initialiser (and arrays) are normally declared before
    // the initialised ones: on the machine, the stack words an initialiser
    // pushes become the storage of the globals declared after it, which
    // then do not start as 0 as in C. True mixes the two kinds.
    bool mixed_global_order = false;
};

struct Program {
    std::string source;  // the program text
    std::string input;   // decimal numbers separated by blanks and newlines
};

// The same seed and options always give the same program.
Program generate(std::uint64_t seed, const Options& options = {});

}  // namespace proggen
