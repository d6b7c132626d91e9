// Runs one image on both engines and compares everything observable, and
// generates images for that: instruction streams drawn from a source of
// choices (a seeded generator in the tests, the input bytes in the fuzz
// target), biased to the sequences the compiler emits and to faults.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"
#include "native/engine.h"

namespace vmtest {

// A finished run: the machine with its state and data memory, its output
// and error text, how it ended and what it counted.
struct Observed {
    std::istringstream in;
    std::ostringstream out, err;
    vm::Machine m{in, out, err};
    vm::RunResult result;
    vm::Stats stats;
};

// Runs within limits (or none), counting into stats when with_stats.
inline std::unique_ptr<Observed> observe(const std::vector<vm::Word>& words, const std::string& input,
                                         bool native, const vm::Limits* limits, bool with_stats = false) {
    auto o = std::make_unique<Observed>();
    o->in.str(input);
    if (native) o->m.set_engine(vm::native::execute);
    o->m.load(words);
    if (!limits)
        o->result = o->m.execute();
    else if (with_stats)
        o->result = o->m.execute(*limits, &o->stats);
    else
        o->result = o->m.execute_capped(limits->max_steps);
    return o;
}

// Whether two data memories are equal. Kept out of the fuzzer's coverage:
// instrumented, comparing 128 KiB took most of each fuzz run.
#if defined(__clang__)
__attribute__((no_sanitize("coverage")))
#endif
inline bool same_memory(const vm::Word* a, const vm::Word* b) {
    return std::memcmp(a, b, vm::kMemoryWords * sizeof(vm::Word)) == 0;
}

// The first difference between two runs, or "".
inline std::string difference(const Observed& a, const Observed& b) {
    if (a.out.str() != b.out.str()) return "output";
    if (a.err.str() != b.err.str()) return "error text";
    if (a.result.end != b.result.end) return "end of the run";
    if (a.result.fault != b.result.fault || a.result.message != b.result.message) return "fault";
    if (a.result.steps != b.result.steps)
        return "steps " + std::to_string(a.result.steps) + " against " + std::to_string(b.result.steps);
    if (a.m.registers() != b.m.registers()) return "registers";
    if (a.m.pc() != b.m.pc()) return "pc";
    if (a.m.zero_flag() != b.m.zero_flag() || a.m.sign_flag() != b.m.sign_flag()) return "flags";
    if (!same_memory(a.m.memory_data(), b.m.memory_data())) return "data memory";
    if (a.stats.steps != b.stats.steps || a.stats.deepest_stack != b.stats.deepest_stack ||
        a.stats.bytes_written != b.stats.bytes_written)
        return "stats";
    return "";
}

// Builds images from choices: below(n) returns a number in 0..n-1.
template <class Choices>
struct ImageGen {
    Choices& c;
    std::vector<vm::Word> w;
    std::size_t length = 0;

    unsigned below(unsigned n) { return c.below(n); }
    unsigned reg() {  // mostly the registers the compiler uses, sometimes 7-15
        const unsigned k = below(32);
        return k < 28 ? k % 7 : 7 + below(9);
    }
    vm::Word address() { return vm::Word(below(unsigned(length) + 3)); }
    vm::Word data() {
        switch (below(6)) {
        case 0: return vm::Word(below(8));
        case 1: return vm::Word(0xFFFF - below(8));
        case 2: return vm::Word(0x8000 - 2 + below(4));
        case 3: return vm::Word(below(65536));
        default: return vm::Word(below(64) - 32);  // small offsets from bp and sp
        }
    }
    void op(image::Opcode o, unsigned r = 0, unsigned x = 0) { w.push_back(image::make_word(o, r, x)); }
    void op2(image::Opcode o, unsigned r, unsigned x, vm::Word adr) {
        op(o, r, x);
        w.push_back(adr);
    }
    image::Opcode jump() {
        static const image::Opcode js[] = {image::JMI, image::JNZ, image::JZE, image::JPL, image::JUMP};
        return js[below(5)];
    }
    image::Opcode binary() {
        static const image::Opcode ops[] = {image::ADD_R, image::SUB_R, image::MUL_R, image::DIV_R,
                                            image::MOD_R, image::AND_R, image::OR_R,  image::XOR_R,
                                            image::CMP_R, image::LD_R};
        return ops[below(10)];
    }
    unsigned index() { return below(4) == 0 ? reg() : unsigned(image::GR3); }

    void piece() {
        using namespace image;
        switch (below(16)) {
        case 0: op2(LD_M, GR0, below(3) ? unsigned(BP) : unsigned(GR4), data()); op(PUSH_R, GR0); break;
        case 1: op2(LDI, below(3), 0, data()); op(PUSH_R, GR0); break;
        case 2: op(POP, GR1 + below(2)); op(POP, GR0); op(binary(), GR0, GR1 + below(2)); op(PUSH_R, GR0); break;
        case 3: op(POP, GR0); op2(below(2) ? JZE : JNZ, 0, index(), address()); break;
        case 4: op(CMP_R, GR1, GR2); op2(jump(), 0, index(), address()); break;
        case 5: op(PUSH_R, BP); op(LD_R, BP, SP); op2(LAD, SP, SP, vm::Word(-int(below(4)))); break;
        case 6: op2(CALL, 0, index(), address()); break;
        case 7: op(LD_R, SP, BP); op(POP, BP); op(RET); break;
        case 8: op2(below(2) ? ST : LD_M, GR0, below(2) ? unsigned(GR4) : unsigned(BP), data()); break;
        case 9: op(PUSH_R, reg()); op(POP, reg()); break;
        case 10: {  // output and input
            switch (below(4)) {
            case 0: op(OUTI_R, reg()); break;
            case 1: op2(OUTB_M, 0, index(), data()); break;
            case 2: op(INI_R, reg()); break;
            default:
                op(OUTS);
                for (unsigned k = below(5); k > 0; --k) w.push_back(vm::Word("ab\\nx7q1"[below(8)]));
                if (below(8)) w.push_back(0);
            }
            break;
        }
        case 11: w.push_back(vm::Word(below(65536))); break;
        case 12: {  // any defined or undefined opcode, any fields
            op(Opcode(below(256)), reg(), reg());
            if (below(2)) w.push_back(data());
            break;
        }
        case 13: op2(Opcode(0x20 + 2 * below(5)), reg(), index(), data()); break;  // memory forms
        case 14: op2(CMP_M, reg(), index(), data()); op2(jump(), 0, index(), address()); break;
        default: op(binary(), reg(), reg()); break;
        }
    }

    std::vector<vm::Word> image() {
        using namespace image;
        length = 2 + below(100);
        w.clear();
        if (below(4) != 0) {  // the compiler's entry code
            op2(LDI, GR3, 0, 0);
            op2(LDI, GR4, 0, 0xFFFF);
        }
        while (w.size() < length) piece();
        return w;
    }
};

}  // namespace vmtest
