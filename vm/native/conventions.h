// The conventions of translated code, shared by the engine's two tiers
// (engine.cpp and tier2.cpp). Internal to vm/native.
//
// Inside translated code:
//   r8d-r14d  GR0-GR4, bp, sp (16-bit values, upper bits always zero)
//   r15d      the flags, packed as vm/semantics.h describes
//   rbx       data memory, rdi the pc table, rbp the Context
//   rsi       the remaining step budget (step-counted runs only)
//   rax, rcx, rdx scratch; rsp the engine's own stack, whose top holds
//             (return pc, host return address) pairs of calls
// Code leaves by jumping to `exit` with eax = pc and ecx = an Exit reason
// (the guest state in the registers above), or to `exit_dispatch` with
// eax = pc.
#pragma once

#include <cstdint>

#include "machine.h"

namespace vm::native {

// Why translated code returned to the driver.
enum Exit : std::uint32_t {
    kDispatch = 0,     // pc has no translation yet, or lies past the code
    kInterpret = 1,    // the loop does the instruction at pc
    kBudget = 2,       // the step budget does not cover the block at pc
    kOutputLimit = 3,  // an output instruction used up the output room
};

// What an input or output routine tells translated code.
enum IoStatus : std::uint32_t {
    kIoDone = 0,
    kIoLoop = 1,   // leave the instruction to the loop
    kIoLimit = 2,  // the output room ran out during the instruction
};

// The run context translated code loads from and stores back to (rbp).
struct Context {
    std::uint32_t regs[image::kRegisterCount];
    std::uint32_t flags;
    std::uint32_t pc;
    std::uint32_t reason;
    std::uint64_t budget;
    std::uint32_t lowest_sp;  // for Stats (runs with stats only)
    std::uint64_t entry_rsp;  // the host stack at entry: restored at exit, used for calls out
    std::uint64_t stack_top;  // translated code's own stack
    std::uint64_t call_limit; // below it calls take no more return entries
    Word* mem;
    void** table;
    Machine* machine;
};

}  // namespace vm::native
