// Runs one image on both engines and compares everything observable, and
// generates images for that: instruction streams drawn from a source of
// choices (a seeded generator in the tests, the input bytes in the fuzz
// target), biased to the sequences the compiler emits and to faults.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"
#include "native/engine.h"

namespace vmtest {

// Everything a run shows: output, error text, how it ended, the steps and
// the final state (the dump shows that state after a fault).
struct Observed {
    std::string out, err;
    vm::RunResult result;
    std::array<vm::Word, image::kRegisterCount> regs{};
    vm::Word pc = 0;
    bool zf = false, sf = false;
    std::uint64_t memory = 0;  // a hash of the data memory
    vm::Stats stats;
};

// A run within limits (or none), counting into stats when with_stats.
inline Observed observe(const std::vector<vm::Word>& words, const std::string& input, bool native,
                        const vm::Limits* limits, bool with_stats = false) {
    std::istringstream in(input);
    std::ostringstream out, err;
    vm::Machine m(in, out, err);
    if (native) m.set_engine(vm::native::execute);
    m.load(words);
    Observed o;
    if (!limits)
        o.result = m.execute();
    else if (with_stats)
        o.result = m.execute(*limits, &o.stats);
    else
        o.result = m.execute_capped(limits->max_steps);
    o.out = out.str();
    o.err = err.str();
    o.regs = m.registers();
    o.pc = m.pc();
    o.zf = m.zero_flag();
    o.sf = m.sign_flag();
    const vm::Word* mem = m.memory_data();
    std::uint64_t h = 14695981039346656037u;
    for (std::size_t a = 0; a < vm::kMemoryWords; ++a) h = (h ^ mem[a]) * 1099511628211u;
    o.memory = h;
    return o;
}

// The first difference between two runs, or "".
inline std::string difference(const Observed& a, const Observed& b) {
    if (a.out != b.out) return "output";
    if (a.err != b.err) return "error text";
    if (a.result.end != b.result.end) return "end of the run";
    if (a.result.fault != b.result.fault || a.result.message != b.result.message) return "fault";
    if (a.result.steps != b.result.steps)
        return "steps " + std::to_string(a.result.steps) + " against " + std::to_string(b.result.steps);
    if (a.regs != b.regs) return "registers";
    if (a.pc != b.pc) return "pc";
    if (a.zf != b.zf || a.sf != b.sf) return "flags";
    if (a.memory != b.memory) return "data memory";
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
