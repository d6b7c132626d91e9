// The recording held to fresh forward runs: for generated programs, the
// state reached by going back k instructions from state n (registers,
// flags, pc, data memory, output length) equals the state after n - k
// instructions of a new run; going back and forth writes the program's
// output once; the snapshots stay within their budget on long runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

#include "generator.h"
#include "machine.h"
#include "record/recording.h"
#include "test_support.h"

namespace {

using vm::Word;

std::vector<Word> compile(const std::string& source) {
    vexltest::TempDir dir;
    dir.write("p.vxl", source);
    const vexltest::ProcessResult r = vexltest::run_process({{VEXL_VEXLC, "p.vxl"}, dir.path()});
    if (!r.exited_with(0)) throw std::runtime_error("vexlc: " + r.describe());
    std::istringstream image(dir.read("p.exec"));
    return image::read_words(image);
}

// A machine recording its run from the start, over the given input.
struct Recorded {
    std::istringstream source;
    std::ostringstream out, err;
    vm::record::RecordedInput input{&source};
    vm::record::ReplayOutput output{out.rdbuf()};
    std::istream in{&input};
    std::ostream program_out{&output};
    vm::Machine machine{in, program_out, err};
    std::unique_ptr<vm::record::Recording> recording;

    Recorded(const std::vector<Word>& words, const std::string& text, const vm::record::Options& options)
        : source(text) {
        machine.load(words);
        recording = std::make_unique<vm::record::Recording>(machine, in, input, output, options);
    }
};

struct State {
    std::array<Word, image::kRegisterCount> regs;
    Word pc;
    bool zf, sf;
    std::vector<Word> memory;
    std::uint64_t output;
    bool operator==(const State&) const = default;
};

State state_of(const vm::Machine& m, std::uint64_t output) {
    return {m.registers(), m.pc(), m.zero_flag(), m.sign_flag(),
            std::vector<Word>(m.memory_data(), m.memory_data() + vm::kMemoryWords), output};
}

State fresh_state(const std::vector<Word>& words, const std::string& input, std::uint64_t steps) {
    std::istringstream in(input);
    std::ostringstream out, err;
    vm::Machine m(in, out, err);
    m.load(words);
    if (steps > 0) m.execute_capped(steps);
    return state_of(m, out.str().size());
}

TEST(Recording, BackwardsEqualsAFreshRunOfGeneratedPrograms) {
    std::mt19937_64 random(7);
    // VEXL_ORACLE_SEEDS=N runs N seeds instead of 20 (a longer run by hand).
    const char* more = std::getenv("VEXL_ORACLE_SEEDS");
    const std::uint64_t seeds = more ? std::strtoull(more, nullptr, 10) : 20;
    for (std::uint64_t seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const proggen::Program program = proggen::generate(seed);
        const std::vector<Word> words = compile(program.source);
        // Small intervals and a small count: many snapshots, and thinning.
        Recorded r(words, program.input, {16, std::size_t(64) << 20, 24});
        const vm::RunResult full = r.recording->run(UINT64_MAX);
        ASSERT_EQ(full.end, vm::RunResult::End::finished);
        const std::uint64_t end = r.recording->end();
        ASSERT_GT(end, 20u);
        ASSERT_LE(r.recording->snapshots(), 24u);
        for (int trial = 0; trial < 4; ++trial) {
            const std::uint64_t n = 1 + random() % end;
            const std::uint64_t k = 1 + random() % std::min<std::uint64_t>(n, 40);
            r.recording->seek(n);
            for (std::uint64_t i = 0; i < k; ++i) r.recording->seek(r.recording->now() - 1);
            ASSERT_EQ(r.recording->now(), n - k);
            EXPECT_TRUE(state_of(r.machine, r.output.position()) == fresh_state(words, program.input, n - k))
                << "n " << n << " k " << k;
        }
        // Forward again to the end, one instruction at a time for a stretch.
        r.recording->seek(end > 50 ? end - 50 : 0);
        while (r.recording->now() < end) r.recording->step();
        EXPECT_FALSE(r.recording->replaying());
        EXPECT_EQ(r.recording->step().end, vm::RunResult::End::finished);
        // The output was written once, whatever went back and forth.
        std::istringstream in(program.input);
        std::ostringstream plain, err;
        vm::Machine m(in, plain, err);
        m.load(words);
        m.execute();
        EXPECT_EQ(r.out.str(), plain.str());
    }
}

// A search backwards finds the latest state a probe wants, across snapshots.
TEST(Recording, FindLastAcrossSnapshots) {
    const std::vector<Word> words = compile(
        "int g;\n"
        "function void start() {\n"
        "    int i;\n"
        "    for (i := 0; i < 500; i := i + 1) {\n"
        "        g := g + i;\n"
        "    }\n"
        "    output g;\n"
        "}\n");
    Recorded r(words, "", {8, std::size_t(64) << 20, 16});
    r.recording->run(UINT64_MAX);
    const std::uint64_t end = r.recording->end();
    // The states right after g changed.
    struct Changed : vm::record::Probe {
        Word last = 0;
        void begin(const vm::Machine& m) override { last = m.memory(0xFFFF); }
        bool wanted(const vm::Machine& m, const vm::TraceStep&, std::int64_t) override {
            const bool changed = m.memory(0xFFFF) != last;
            last = m.memory(0xFFFF);
            return changed;
        }
    } probe;
    const std::optional<std::uint64_t> at = r.recording->find_last(0, end, probe);
    ASSERT_TRUE(at);
    r.recording->seek(*at);
    EXPECT_EQ(r.machine.memory(0xFFFF), Word(124750));  // 0 + 1 + ... + 499 mod 2^16
    const std::optional<std::uint64_t> before = r.recording->find_last(0, *at - 1, probe);
    ASSERT_TRUE(before);
    r.recording->seek(*before);
    EXPECT_EQ(r.machine.memory(0xFFFF), Word(124750 - 499));
    EXPECT_FALSE(r.recording->find_last(0, 3, probe));
}

// Input read once is read again on the way forward; a state changed by hand
// forgets the recorded future, and what it writes then is new output.
TEST(Recording, InputReplayedAndFutureForgotten) {
    const std::vector<Word> words = compile(
        "function void start() {\n"
        "    int a, b;\n"
        "    input a;\n"
        "    input b;\n"
        "    output a + b;\n"
        "}\n");
    Recorded r(words, "20 22", {4, std::size_t(64) << 20, 100});
    r.recording->run(UINT64_MAX);
    EXPECT_EQ(r.out.str(), "42");
    const std::uint64_t end = r.recording->end();
    r.recording->seek(2);
    r.recording->run(UINT64_MAX);
    EXPECT_EQ(r.recording->now(), end);
    EXPECT_EQ(r.out.str(), "42");
    // At the OUTI GR0 of the sum: before the epilogue (3), the JUMP and NOP.
    r.recording->seek(end - 6);
    ASSERT_EQ(image::opcode_of(words.at(r.machine.pc())), image::OUTI_R);
    r.machine.set_reg(0, 100);
    r.recording->truncate();
    EXPECT_EQ(r.recording->end(), end - 6);
    r.recording->run(UINT64_MAX);
    EXPECT_EQ(r.recording->now(), end);
    EXPECT_EQ(r.out.str(), "42100");
}

// Memory stays within the budget however many snapshots a long run asks for.
TEST(Recording, BudgetHoldsOnALongRun) {
    const std::vector<Word> words = compile(
        "int a[3000];\n"
        "function void start() {\n"
        "    int i, j;\n"
        "    for (j := 0; j < 40; j := j + 1) {\n"
        "        for (i := 0; i < 3000; i := i + 1) {\n"
        "            a[i] := a[i] + i + j;\n"
        "        }\n"
        "    }\n"
        "}\n");
    const std::size_t budget = std::size_t(2) << 20;
    Recorded r(words, "", {64, budget, 100000});
    r.recording->run(UINT64_MAX);
    EXPECT_GT(r.recording->end(), 2000000u);
    EXPECT_LE(r.recording->bytes(), budget);
    EXPECT_GT(r.recording->interval(), 64u);
    const std::uint64_t n = r.recording->end() - 12345;
    r.recording->seek(n);
    EXPECT_TRUE(state_of(r.machine, 0) == fresh_state(words, "", n));
}

}  // namespace
