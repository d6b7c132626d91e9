// The translating engine: runs a machine's image on the machine's loop
// until an address has proved hot, then as x86-64 code translated block by
// block from there. It works on the machine's own state, writes and reads
// through the machine's own output and input routines, and hands every
// instruction that is about to fail to the machine's loop, so output, errors
// and the dump are the loop's own. Where it cannot run (another processor,
// no executable memory) it runs the loop instead, without a word.
#pragma once

#include <cstdint>

#include "machine.h"

namespace vm::native {

// True when this build can translate for the processor it runs on. Mapping
// code memory may still fail at run time, which falls back to the loop.
bool available();

// The second tier (see tier2.cpp) translates a hot address as a region
// where it can, the first tier the block there otherwise: 2 turns it on,
// 1 keeps it off (the first tier alone), 0 (the default) leaves it to the
// environment variable VEXL_TIER (1 keeps it off; on otherwise). For
// tests; not thread-safe.
void force_tier(int tier);

// How many times execution must arrive at an address (by a taken jump, a
// call or a return) before the engine translates the code there. 0
// translates every address the first time it is reached, without bounding
// the cost of translating by the work done (for tests). The default comes
// from the environment variable VEXL_HOT when it holds a number.
unsigned hot_threshold();
void set_hot_threshold(unsigned arrivals);

// How many instructions of the last run the machine's loop did rather than
// translated code (for tests).
std::uint64_t steps_on_loop();

// Runs as Machine::execute_reference does, with the same results; fits
// Machine::set_engine.
RunResult execute(Machine& machine, const Limits* limits, Stats* stats);

}  // namespace vm::native
