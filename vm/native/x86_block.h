// What the translating engine's two tiers share for x86-64: a decoded
// instruction, the host registers of the guest state, and the interface
// through which the second tier (tier2.cpp) emits a region in front of the
// first tier's block.
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

// A region for the second tier: the hot address, and the first tier's
// services.
struct Tier2Region {
    Xbyak::CodeGenerator& g;
    Word entry;
    std::size_t room;       // bytes g may write at most
    std::size_t n;          // words of code
    std::function<Insn(Word pc)> decode;
    bool counting;          // step-counted run (rsi is the budget)
    bool lowest_sp;         // the lowest sp is tracked (runs with stats)
    int lowest_sp_offset;   // of the context, 32 bits
    const void* exit;       // eax = pc, ecx = reason
    Xbyak::Label& entry_label;  // to be bound where the region starts
    Xbyak::Label& tier1;        // the first tier's version of the entry's block
    // Continue at a fixed pc with the state exact (the first tier's code
    // there, or the dispatcher).
    std::function<void(Word pc)> goto_fixed;
};

// Emits the second tier's version of the region entered at r.entry and
// returns true, or returns false having emitted nothing (see tier2.cpp).
bool emit_tier2(Tier2Region& r);

}  // namespace vm::native
