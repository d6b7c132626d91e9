// Instruction throughput of the machine's execution loop on two images: a
// loop of loads, arithmetic, compares, jumps and stack traffic, and a loop
// dominated by CALL and RET. Reports executed instructions per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"

namespace {

using image::Opcode;
using vm::Word;

// A minimal assembler: emits words and resolves labels, backward or forward.
struct Asm {
    std::vector<Word> words;
    std::map<std::string, Word> labels;
    std::vector<std::pair<std::size_t, std::string>> fixups;

    void op(Opcode o, unsigned r = 0, unsigned x = 0) { words.push_back(image::make_word(o, r, x)); }
    void op(Opcode o, unsigned r, unsigned x, Word adr) {
        op(o, r, x);
        words.push_back(adr);
    }
    void op(Opcode o, unsigned r, unsigned x, const std::string& label) {
        op(o, r, x);
        fixups.emplace_back(words.size(), label);
        words.push_back(0);
    }
    void label(const std::string& name) { labels[name] = Word(words.size()); }
    std::vector<Word> done() {
        for (auto& [at, name] : fixups) words[at] = labels.at(name);
        return words;
    }
};

constexpr Word kOne = 0x0100;  // data word holding 1

// 300 outer rounds of an inner loop of 10,000 rounds with 9 instructions.
std::vector<Word> loop_image() {
    using namespace image;
    Asm a;
    a.op(LDI, GR2, 0, Word(1));
    a.op(ST, GR2, 0, kOne);
    a.op(LDI, GR3, 0, Word(0));
    a.op(LDI, GR4, 0, Word(300));
    a.label("outer");
    a.op(LDI, GR1, 0, Word(10000));
    a.label("inner");
    a.op(LD_M, GR0, GR3, kOne);
    a.op(ADD_R, GR0, GR1);
    a.op(PUSH_R, GR0);
    a.op(POP, GR2);
    a.op(ADD_M, GR2, 0, kOne);
    a.op(ST, GR2, BP, Word(0x0101));
    a.op(SUB_M, GR1, 0, kOne);
    a.op(CMP_R, GR1, GR3);
    a.op(JNZ, 0, GR3, "inner");
    a.op(SUB_M, GR4, 0, kOne);
    a.op(CMP_R, GR4, GR3);
    a.op(JPL, 0, GR3, "outer");
    a.op(NOP);
    return a.done();
}

// 300 x 10,000 calls of a function with a frame that calls a leaf function:
// 12 instructions per round, 4 of them CALL or RET.
std::vector<Word> call_image() {
    using namespace image;
    Asm a;
    a.op(LDI, GR2, 0, Word(1));
    a.op(ST, GR2, 0, kOne);
    a.op(LDI, GR3, 0, Word(0));
    a.op(LDI, GR4, 0, Word(300));
    a.label("outer");
    a.op(LDI, GR1, 0, Word(10000));
    a.label("loop");
    a.op(PUSH_R, GR1);
    a.op(CALL, 0, GR3, "f");
    a.op(LAD, SP, SP, Word(1));
    a.op(SUB_M, GR1, 0, kOne);
    a.op(JNZ, 0, GR3, "loop");
    a.op(SUB_M, GR4, 0, kOne);
    a.op(JNZ, 0, GR3, "outer");
    a.op(JUMP, 0, GR3, "end");
    a.label("f");
    a.op(PUSH_R, BP);
    a.op(LD_R, BP, SP);
    a.op(LD_M, GR0, BP, Word(3));
    a.op(CALL, 0, GR3, "g");
    a.op(POP, BP);
    a.op(RET);
    a.label("g");
    a.op(RET);
    a.label("end");
    a.op(NOP);
    return a.done();
}

void run_image(benchmark::State& state, const std::vector<Word>& words) {
    std::istringstream in;
    std::ostringstream out, err;
    std::uint64_t steps = 0;
    {
        vm::Machine counter(in, out, err);
        counter.load(words);
        steps = counter.execute_capped(UINT64_MAX).steps;
    }
    std::uint64_t total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vm::Machine machine(in, out, err);
        machine.load(words);
        state.ResumeTiming();
        const vm::RunResult result = machine.execute();
        benchmark::DoNotOptimize(result.end);
        total += steps;
    }
    if (!err.str().empty()) state.SkipWithError("the image failed");
    state.counters["instructions"] = benchmark::Counter(double(steps));
    state.counters["instr_per_s"] = benchmark::Counter(double(total), benchmark::Counter::kIsRate);
}

void BM_LoopHeavy(benchmark::State& state) { run_image(state, loop_image()); }
void BM_CallHeavy(benchmark::State& state) { run_image(state, call_image()); }

}  // namespace

BENCHMARK(BM_LoopHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallHeavy)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
