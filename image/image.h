// The executable image format shared by the compiler, the machine and the
// tools: instruction word layout, register numbers, the opcode table and the
// big-endian word file.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace image {

using Word = std::uint16_t;

// Operand forms of an instruction (see opcodes.def).
enum class Form : std::uint8_t { Undefined, N, M, R, I, J, A, S, T };

enum Opcode : std::uint8_t {
#define OP(name, code, mnem, form, words, roles, effect) name = code,
#include "opcodes.def"
#undef OP
};

// What an instruction reads, writes and does: the roles column of
// opcodes.def (its header explains each bit).
enum Role : std::uint32_t {
    RA = 1u << 0,
    RB = 1u << 1,
    RX = 1u << 2,
    LOAD = 1u << 3,
    STORE = 1u << 4,
    WA = 1u << 5,
    FR = 1u << 6,
    FC = 1u << 7,
    PUSH = 1u << 8,
    POPS = 1u << 9,
    BR = 1u << 10,
    GO = 1u << 11,
    OUT = 1u << 12,
    IN = 1u << 13,
    DZ = 1u << 14,
};

// The operation of an instruction: the effect column of opcodes.def.
enum class Effect : std::uint8_t {
    none, move, address, add, sub, mul, div, mod, and_, or_, xor_, cmp,
    jmi, jnz, jze, jpl, jump,
};

struct OpInfo {
    const char* mnemonic = nullptr;  // null for an undefined opcode
    Form form = Form::Undefined;
    std::uint8_t words = 0;          // fixed length; OUTS adds its text
    std::uint32_t roles = 0;         // Role bits
    Effect effect = Effect::none;
    bool defined() const { return mnemonic != nullptr; }
    bool has(std::uint32_t role_bits) const { return (roles & role_bits) != 0; }
    // Moves sp: pushes, pops and calls, not counting a write of register a
    // that names sp.
    bool moves_sp() const { return has(PUSH | POPS); }
    // Ends a straight line of code: any jump, call or return.
    bool ends_block() const { return has(BR | GO); }
    bool does_io() const { return has(OUT | IN); }
    // Whether the instruction uses field r, and field x, as register numbers.
    bool uses_r() const { return has(RA); }
    bool uses_x() const { return has(RB | RX); }
};

// Indexed by the opcode byte; undefined opcodes have a null mnemonic.
const std::array<OpInfo, 256>& op_table();
inline const OpInfo& op_info(unsigned opcode) { return op_table()[opcode & 0xFF]; }

// Register numbers as they appear in the r and x fields.
enum Reg : std::uint8_t { GR0 = 0, GR1 = 1, GR2 = 2, GR3 = 3, GR4 = 4, BP = 5, SP = 6 };
constexpr int kRegisterCount = 7;
const char* register_name(unsigned reg);  // "GR0".."GR4", "bp", "sp", or "?"

// Instruction word: opcode in bits 15-8, r in 7-4, x in 3-0.
constexpr Word make_word(Opcode op, unsigned r = 0, unsigned x = 0) {
    return static_cast<Word>((unsigned(op) << 8) | ((r & 0xF) << 4) | (x & 0xF));
}
constexpr unsigned opcode_of(Word w) { return w >> 8; }
constexpr unsigned field_r(Word w) { return (w >> 4) & 0xF; }
constexpr unsigned field_x(Word w) { return w & 0xF; }

constexpr std::size_t kMaxWords = 65536;  // largest image the compiler writes

// Number of words of the instruction at code[pc] (for OUTS: the instruction
// word, its text and the terminating 0x0000), or 0 when it is undefined or
// does not fit inside the code (an operand word or a text terminator past
// the end).
std::size_t instruction_length(const Word* code, std::size_t size, std::size_t pc);

// Reads a whole image: two bytes per word, high byte first; an odd final
// byte is dropped.
std::vector<Word> read_words(std::istream& in);
// Writes words high byte first.
void write_words(std::ostream& out, const std::vector<Word>& words);

}  // namespace image
