// What the translating engine's two tiers share for x86-64: a decoded
// instruction of a block, the host registers of the guest state, and the
// interface through which the second tier (tier2.cpp) emits a block with the
// first tier's code for whatever it leaves to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <xbyak/xbyak.h>

#include "conventions.h"
#include "machine.h"

namespace vm::native {

// A decoded instruction of a block.
struct Insn {
    Word pc;
    unsigned op;
    unsigned a;
    unsigned x;
    Word adr;
    unsigned words;
    bool native;  // false: the loop does it (always a block's last instruction)
    const image::OpInfo* info;
};


// Host registers of the guest registers (see conventions.h).
inline Xbyak::Reg32 r32(unsigned r) { return Xbyak::Reg32(int(8 + r)); }
inline Xbyak::Reg16 r16(unsigned r) { return Xbyak::Reg16(int(8 + r)); }
inline Xbyak::Reg64 r64(unsigned r) { return Xbyak::Reg64(int(8 + r)); }

// The block the first tier has decoded, and its services, for the second.
struct Tier2Block {
    Xbyak::CodeGenerator& g;
    const std::vector<Insn>& block;
    bool falls_through;     // the block continues at `next`
    Word next;
    Word start;
    int budget;             // native instructions of the block (what a counted run pays)
    bool counting;          // step-counted run
    bool lowest_sp;         // the lowest sp is tracked (runs with stats)
    int lowest_sp_offset;   // of the context, 32 bits
    const void* exit;       // eax = pc, ecx = reason
    Xbyak::Label& entry;    // to be bound where the block starts
    Xbyak::Label& tier1;    // the first tier's version of the block
    // The first tier's code for block[k] with the guest state exact in the
    // host registers; returns the index of the last instruction it covered.
    std::function<std::size_t(std::size_t k)> plain;
    // The transfer of a taken jump (block[k]) with the state exact.
    std::function<void(std::size_t k)> goto_target;
    // Continue at a fixed pc with the state exact.
    std::function<void(Word pc)> goto_fixed;
};

// Emits the second tier's version of a block (see tier2.cpp).
void emit_tier2(Tier2Block& b);

}  // namespace vm::native
