// The translating engine: runs a machine's image as x86-64 code translated
// block by block as execution first reaches each entry address. It works on
// the machine's own state and hands every instruction it does not translate
// (input and output, and any instruction that is about to fail) to the
// machine's loop for exactly one step, so output, errors and the dump are the
// loop's own. Where it cannot run (another processor, no executable memory)
// it runs the loop instead, without a word.
#pragma once

#include <cstdint>

#include "machine.h"

namespace vm::native {

// True when this build can translate for the processor it runs on. Mapping
// code memory may still fail at run time, which falls back to the loop.
bool available();

// The second tier (see tier2.cpp) for every translated block: 2 forces it,
// 1 keeps it off, 0 (the default) leaves it to the environment variable
// VEXL_TIER (2 forces it). For tests; not thread-safe.
void force_tier(int tier);

// Runs as Machine::execute_reference does, with the same results; fits
// Machine::set_engine.
RunResult execute(Machine& machine, const Limits* limits, Stats* stats);

}  // namespace vm::native
