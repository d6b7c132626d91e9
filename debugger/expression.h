// Expressions of the debugger's print, display, watch, set var and
// breakpoint conditions, in the language's own syntax: integers, true and
// false, variables, elements (a[i - 1]), the operators of the language at
// its precedences (or and xor / = >< / < <= > >= / + - / * div mod / prefix
// + - not), parentheses, registers ($pc, $sp, $bp, $gr0 ...), the value
// history ($, $$, $N, $$N) and, outermost only, a slice ADDR@COUNT. No
// calls: evaluating never runs the program. Arithmetic is the machine's:
// 16-bit words with wrap-around, comparisons by the sign of the 16-bit
// difference, div and mod truncating, a zero divisor an error.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "debuginfo.h"

namespace debugger {

using image::Word;

struct EvalError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The result of an expression.
struct Operand {
    debuginfo::Type type = debuginfo::Type::Int;
    bool array = false;       // several words (a whole array or a slice)
    std::vector<Word> words;  // one per element
    std::string name;         // canonical text of an lvalue ("a[3]"), else empty
    // Where an lvalue lives: a variable (element `index`, -1 for the whole
    // or a scalar) at `address` (element i of an array at address - i), or
    // register `reg` (0-6, 7 for pc).
    const debuginfo::Variable* variable = nullptr;
    int index = -1;
    std::optional<Word> address;
    int reg = -1;
};

// What an expression can see; each throws EvalError when it cannot.
class Scope {
public:
    virtual ~Scope() = default;
    // A variable as seen from the selected frame (scalar or whole array).
    virtual Operand variable(std::string_view name) const = 0;
    virtual Operand element(const Operand& array, long index) const = 0;
    virtual Operand reg(std::string_view name) const = 0;  // without the $
    // The value history: absolute number n (relative false), or n back
    // from the last (relative true; 0 is the last).
    virtual Operand history(long n, bool relative) const = 0;
    virtual Word memory(Word address) const = 0;
};

Operand evaluate(std::string_view text, const Scope& scope);

// The position of a top-level ":=" in text, or npos.
std::size_t find_assignment(std::string_view text);

}  // namespace debugger
