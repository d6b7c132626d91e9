// Translation must not cost more than the work a run does: images whose
// code is entered at many addresses, each only a few times, may run at most
// twice as long on the translating engine as on the machine's loop.
//
// The two engines run the same image interleaved, several trials each, and
// the fastest trial of each counts: a loaded machine slows some trials of
// both, rarely the best one of either, and the time is the thread's
// processor time. Each trial repeats the image until the loop has spent a
// few milliseconds on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"
#include "native/engine.h"

namespace {

using image::make_word;
using vm::Word;
using namespace image;

void op2(std::vector<Word>& w, Opcode o, unsigned r, unsigned x, Word adr) {
    w.push_back(make_word(o, r, x));
    w.push_back(adr);
}

// A loop that jumps through a register into a region of `count` conditional
// jumps, each entered once and leading back: a new entry address every
// round. `stride` words separate the entries (2 enters each jump, 1 also
// enters their address words, which decode as NOP or as jumps to 4).
std::vector<Word> entry_thrash(unsigned count, unsigned stride) {
    std::vector<Word> w;
    const unsigned base = 14;
    const Word end = Word(base + 2 * count);
    op2(w, LDI, GR1, 0, 0);                     // 0: the entry's offset
    op2(w, LDI, GR2, 0, Word(stride * count));  // 2: the offset past the last
    w.push_back(make_word(CMP_R, GR1, GR2));    // 4: loop
    op2(w, JZE, 0, 0, end);                     // 5: done: past the code
    op2(w, LAD, GR3, GR1, Word(stride));        // 7
    w.push_back(make_word(LD_R, GR1, GR3));     // 9: ZF clear from here on
    op2(w, JUMP, 0, GR1, Word(base - stride));  // 10: to base + offset - stride
    op2(w, JUMP, 0, 0, end);                    // 12
    for (unsigned k = 0; k < count; ++k) op2(w, JNZ, 0, 0, 4);
    return w;
}

// `count` one-instruction blocks (returns), each called `rounds` times from
// a loop that calls through a register.
std::vector<Word> return_blocks(unsigned count, unsigned rounds) {
    std::vector<Word> w;
    const unsigned base = 20;
    op2(w, LDI, GR2, 0, Word(rounds));             // 0
    op2(w, LDI, GR3, 0, Word(count));              // 2
    op2(w, LDI, GR4, 0, 1);                        // 4
    op2(w, LDI, GR1, 0, 0);                        // 6: outer
    op2(w, CALL, 0, GR1, Word(base));              // 8: inner
    w.push_back(make_word(ADD_R, GR1, GR4));       // 10
    w.push_back(make_word(CMP_R, GR1, GR3));       // 11
    op2(w, JNZ, 0, 0, 8);                          // 12
    w.push_back(make_word(SUB_R, GR2, GR4));       // 14
    op2(w, JNZ, 0, 0, 6);                          // 15
    op2(w, JUMP, 0, 0, Word(base + count));        // 17: past the code
    w.push_back(make_word(NOP));                   // 19
    for (unsigned k = 0; k < count; ++k) w.push_back(make_word(RET));
    return w;
}

// The processor time of this thread: what a busy machine inflates least.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Seconds for `reps` runs of the image on one engine, each from the
// machine's initial state, checking that every run ends normally. One
// machine serves them all: allocating and freeing its memory may cost more
// than a short run (the allocator gives memory back to the system and takes
// it again), and that is no part of either engine.
double run_seconds(const std::vector<Word>& words, bool native, int reps) {
    std::istringstream in;
    std::ostringstream out, err;
    vm::Machine m(in, out, err);
    if (native) m.set_engine(vm::native::execute);
    m.load(words);
    const double start = cpu_seconds();
    for (int r = 0; r < reps; ++r) {
        for (unsigned i = 0; i < image::kRegisterCount; ++i) m.set_reg(i, i == image::SP ? 0xFFFF : 0);
        m.set_pc(0);
        m.set_flags(false, false);
        std::fill_n(m.memory_data(), vm::kMemoryWords, Word(0));
        const vm::RunResult result = m.execute();
        EXPECT_EQ(result.end, vm::RunResult::End::finished);
    }
    return cpu_seconds() - start;
}

void expect_bounded(const char* name, const std::vector<Word>& words) {
    // Repetitions for about 5 ms on the loop.
    double once = 1;
    for (int k = 0; k < 3; ++k) once = std::min(once, run_seconds(words, false, 1));
    once = std::max(once, 1e-5);
    const int reps = std::clamp(int(0.005 / once), 1, 200);
    double reference = 1e9, native = 1e9;
    // More trials while it fails: on a busy machine a good trial of each
    // engine may take a while to come.
    for (int trial = 0; trial < 25; ++trial) {
        reference = std::min(reference, run_seconds(words, false, reps));
        native = std::min(native, run_seconds(words, true, reps));
        if (trial >= 2 && native <= 2 * reference) break;
        if (native > 20 * reference) break;  // hopeless: fail without waiting
    }
    EXPECT_LE(native, 2 * reference) << name << ": " << reps << " runs take " << native * 1e3
                                     << " ms translated, " << reference * 1e3 << " ms on the loop";
}

TEST(TranslationCost, BoundedByTheWorkOfTheRun) {
    if (!vm::native::available()) GTEST_SKIP() << "no translating engine here";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers slow the loop and the translator unevenly: the ratio means nothing";
#endif
    expect_bounded("6,001 jumps entered once each", entry_thrash(6001, 2));
    expect_bounded("6,001 jumps and their address words entered once each", entry_thrash(6001, 1));
    expect_bounded("30,000 jumps entered once each", entry_thrash(30000, 2));
    expect_bounded("65,000 returns called 20 times each", return_blocks(65000, 20));
    expect_bounded("65,000 returns called twice each", return_blocks(65000, 2));
}

}  // namespace
