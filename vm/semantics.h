// What the instructions compute, written once for every engine: the
// arithmetic and logical operations, division, the flag rules, the jump
// conditions and the effective address. The loop (machine.cpp) calls these
// functions; the translating engines (vm/native) emit host code for the same
// operations by the effect column of image/opcodes.def and are held to these
// functions by the tests, which run every instruction on both.
//
// Flags come in two forms:
//   - bits: ZF in bit 0, SF in bit 1 (the loop and the Machine's state);
//   - packed: one 32-bit word F where ZF is F == 0 and SF is F < 0 as a
//     signed number, which translated code keeps in one host register. A
//     stored result r is packed as r itself (never negative, zero exactly
//     when r is); a CMP difference d as d << 16 (bit 15 becomes the sign).
//     The packed form cannot hold ZF and SF both set, which no instruction
//     produces (only a machine handed over in that state has it).
#pragma once

#include <cstdint>

#include "image.h"

namespace vm::sem {

using image::Effect;
using image::Word;

constexpr unsigned kZF = 1;
constexpr unsigned kSF = 2;

// Loads, POP and the arithmetic and logical instructions: ZF from the value
// stored, SF cleared.
constexpr unsigned result_flags(Word r) { return r == 0 ? kZF : 0; }

// CMP: the 16-bit difference, not widened; SF is its bit 15.
constexpr Word difference(Word a, Word b) { return Word(a - b); }
constexpr unsigned compare_flags(Word a, Word b) {
    const Word d = difference(a, b);
    return d == 0 ? kZF : (d >> 15) * kSF;
}

constexpr std::uint32_t packed_result(Word r) { return r; }
constexpr std::uint32_t packed_compare(Word a, Word b) { return std::uint32_t(difference(a, b)) << 16; }
constexpr std::uint32_t pack(unsigned flags) {
    return (flags & kZF) ? 0 : (flags & kSF) ? 0x80000000u : 1;
}
constexpr unsigned unpack(std::uint32_t f) {
    return f == 0 ? kZF : std::int32_t(f) < 0 ? kSF : 0;
}

// DIV and MOD take both operands as signed 16-bit numbers and truncate
// toward zero; the remainder has the sign of the dividend. The divisor must
// not be 0 (that is a fault, tested before anything else). -32768 / -1 is
// 32768, stored as 0x8000.
constexpr Word quotient(Word a, Word d) { return Word(int(std::int16_t(a)) / int(std::int16_t(d))); }
constexpr Word remainder(Word a, Word d) { return Word(int(std::int16_t(a)) % int(std::int16_t(d))); }

// The value an instruction of effect e stores into register a from a and
// its operand b (add ... xor_, div and mod with b != 0; move stores b).
constexpr Word compute(Effect e, Word a, Word b) {
    switch (e) {
    case Effect::add: return Word(a + b);
    case Effect::sub: return Word(a - b);
    case Effect::mul: return Word(unsigned(a) * unsigned(b));
    case Effect::div: return quotient(a, b);
    case Effect::mod: return remainder(a, b);
    case Effect::and_: return Word(a & b);
    case Effect::or_: return Word(a | b);
    case Effect::xor_: return Word(a ^ b);
    default: return b;
    }
}

// Whether a jump of effect e is taken with the flags (bits).
constexpr bool taken(Effect e, unsigned flags) {
    switch (e) {
    case Effect::jmi: return (flags & kSF) != 0;
    case Effect::jnz: return (flags & kZF) == 0;
    case Effect::jze: return (flags & kZF) != 0;
    case Effect::jpl: return flags == 0;
    default: return true;  // jump, call
    }
}
// The same with packed flags: jmi is F < 0, jnz F != 0, jze F == 0, jpl F > 0.
constexpr bool taken_packed(Effect e, std::uint32_t f) { return taken(e, unpack(f)); }

// Effective address of the memory forms: adr alone (x = 0), or adr taken as
// signed plus the index register's value taken as unsigned, computed
// exactly; false when that lies outside 0..0xFFFF.
constexpr bool effective_address(Word adr, bool indexed, Word index, Word& ea) {
    if (!indexed) {
        ea = adr;
        return true;
    }
    // Through unsigned 32 bits a negative sum is huge: one compare for both ends.
    const std::uint32_t e = std::uint32_t(std::int32_t(std::int16_t(adr)) + index);
    ea = Word(e);
    return e <= 0xFFFF;
}

// Jump and call targets, and the value of LAD: (index + adr) mod 2^16,
// never checked.
constexpr Word target(Word adr, Word index) { return Word(index + adr); }

// The rules as the documentation states them.
static_assert(quotient(Word(-7), 2) == Word(-3) && remainder(Word(-7), 2) == Word(-1));
static_assert(remainder(7, Word(-2)) == 1 && quotient(0x8000, 0xFFFF) == 0x8000);
static_assert(compare_flags(30000, Word(-30000)) == kSF && compare_flags(7, 5) == 0);
static_assert(unpack(packed_compare(5, 7)) == compare_flags(5, 7));
static_assert(unpack(packed_result(0xFFFF)) == result_flags(0xFFFF));

}  // namespace vm::sem
