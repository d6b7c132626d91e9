// The roles of image/opcodes.def against what the instructions do on the
// machine: from random states, each defined instruction runs one step and
// may change only what its row says (register a, the flags, sp, memory, pc
// past its length, output, input). The semantics helpers are checked
// against plain arithmetic.
#include <gtest/gtest.h>

#include <random>

#include "harness.h"
#include "semantics.h"

using namespace vmtest;

namespace {

TEST(Roles, InstructionsChangeOnlyWhatTheirRowsSay) {
    std::mt19937 rng(31337);
    for (unsigned code = 0; code < 256; ++code) {
        const OpInfo& info = op_info(code);
        if (!info.defined()) continue;
        for (int trial = 0; trial < 200; ++trial) {
            Harness h("123 ");
            const unsigned r = rng() % kRegisterCount, x = rng() % kRegisterCount;
            std::vector<Word> words{Word((code << 8) | (r << 4) | x), Word(rng()), 'a', 0};
            for (unsigned k = 0; k < kRegisterCount; ++k) h.m.set_reg(k, Word(rng() % 4 == 0 ? 0 : rng()));
            const bool z = rng() % 2;
            h.m.set_flags(z, !z && rng() % 2);
            for (Word a = 0; a < 16; ++a) h.m.set_memory(Word(0xFFF8 + a), Word(rng()));
            const auto before = h.m.registers();
            const bool zf = h.m.zero_flag(), sf = h.m.sign_flag();
            const vm::RunResult res = h.step(words);
            const std::string where = std::string(info.mnemonic) + " r" + std::to_string(r) + " x" +
                                      std::to_string(x);
            if (res.end == vm::RunResult::End::fault) {
                EXPECT_TRUE(info.has(DZ) || info.has(LOAD | STORE) || info.uses_x() || info.has(IN)) << where;
                continue;
            }
            for (unsigned k = 0; k < kRegisterCount; ++k) {
                if (h.m.reg(k) == before[k]) continue;
                const bool a_written = info.has(WA) && k == r;
                const bool sp_moved = k == SP && (info.moves_sp() || (info.has(WA) && r == SP));
                EXPECT_TRUE(a_written || sp_moved) << where << " changed register " << k;
            }
            if (!info.has(FR | FC)) {
                EXPECT_EQ(h.m.zero_flag(), zf) << where;
                EXPECT_EQ(h.m.sign_flag(), sf) << where;
            }
            if (info.has(FR)) {
                EXPECT_FALSE(h.m.sign_flag()) << where;
            }
            EXPECT_EQ(!h.out.str().empty(), info.has(OUT)) << where;
            if (!info.ends_block()) {
                const std::size_t length = instruction_length(words.data(), words.size(), 0);
                EXPECT_EQ(h.m.pc(), length) << where;
            }
        }
    }
}

TEST(Semantics, ArithmeticAgreesWithPlainIntegers) {
    using vm::sem::compute;
    using image::Effect;
    std::mt19937 rng(7);
    for (int i = 0; i < 100000; ++i) {
        const Word a = Word(rng()), b = Word(rng() | (i % 7 == 0 ? 0x8000 : 0));
        const long sa = std::int16_t(a), sb = std::int16_t(b);
        EXPECT_EQ(compute(Effect::add, a, b), Word((sa + sb) & 0xFFFF));
        EXPECT_EQ(compute(Effect::mul, a, b), Word((sa * sb) & 0xFFFF));
        if (b != 0) {
            // Truncation toward zero, remainder with the dividend's sign.
            const long q = sa / sb;
            EXPECT_EQ(compute(Effect::div, a, b), Word(q & 0xFFFF));
            EXPECT_EQ(compute(Effect::mod, a, b), Word((sa - q * sb) & 0xFFFF));
        }
        const unsigned f = vm::sem::compare_flags(a, b);
        EXPECT_EQ(vm::sem::unpack(vm::sem::packed_compare(a, b)), f);
        EXPECT_EQ((f & vm::sem::kZF) != 0, a == b);
    }
}

}  // namespace
