// Instruction semantics: loads and stores, effective addresses, register
// fields, arithmetic and flags, division, compare and jumps, stack, call and
// return.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vmtest;
using End = vm::RunResult::End;

namespace {

const std::string kBadAddress = "Error:Illegal memory access\n";

TEST(LoadStore, LdiSetsZeroFlagAndAlwaysClearsSign) {
    Harness zero;
    zero.m.set_flags(false, true);
    zero.run({op(LDI, GR1), 0x0000});
    EXPECT_TRUE(zero.m.zero_flag());
    EXPECT_FALSE(zero.m.sign_flag());

    Harness negative;
    negative.m.set_flags(true, true);
    negative.run({op(LDI, GR1, 9), 0xFFFF});  // x is ignored by LDI
    EXPECT_EQ(negative.m.reg(GR1), 0xFFFF);
    EXPECT_FALSE(negative.m.zero_flag());
    EXPECT_FALSE(negative.m.sign_flag());
}

TEST(LoadStore, EffectiveAddressIsExactAndRangeChecked) {
    struct Case {
        Word adr;
        unsigned x;
        Word gr2;
        int address;  // -1: the access must fail
    };
    const Case cases[] = {
        {0xFFFF, 0, 0, 0xFFFF},       // no index: unsigned address
        {0x8000, 0, 0, 0x8000},
        {0xFFFF, GR2, 1, 0x0000},     // -1 + 1
        {0x8000, GR2, 0x0100, -1},    // -32768 + 256 is negative
        {0xFFFE, GR2, 0x0001, -1},    // -2 + 1
        {0x7FFF, GR2, 0x8000, 0xFFFF},
        {0x7FFF, GR2, 0x8001, -1},    // 0x10000
        {0x0005, GR2, 0xFFFA, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "adr " << c.adr << " GR2 " << c.gr2);
        Harness h;
        h.m.set_reg(GR2, c.gr2);
        if (c.address >= 0) h.m.set_memory(Word(c.address), 0x1234);
        h.run({op(LD_M, GR1, c.x), c.adr});
        if (c.address >= 0) {
            EXPECT_EQ(h.m.reg(GR1), 0x1234);
            EXPECT_EQ(h.err.str(), "");
        } else {
            EXPECT_EQ(h.m.reg(GR1), 0);
            EXPECT_EQ(h.m.pc(), 0);
            EXPECT_EQ(h.err.str(), kBadAddress);
        }
    }
}

TEST(LoadStore, StoreLadAndRegisterLoad) {
    Harness h;
    h.m.set_reg(GR1, 0xBEEF);
    h.m.set_reg(GR2, 3);
    h.m.set_flags(true, true);
    h.run({op(ST, GR1, GR2), 0x0010,      // mem[0x13] := GR1
           op(LAD, GR3, GR2), 0xFFFF,     // GR3 := 3 + 0xFFFF wraps to 2
           op(LAD, GR4), 0x4321});
    EXPECT_EQ(h.m.memory(0x13), 0xBEEF);
    EXPECT_EQ(h.m.reg(GR3), 2);
    EXPECT_EQ(h.m.reg(GR4), 0x4321);
    EXPECT_TRUE(h.m.zero_flag());  // ST and LAD leave the flags alone
    EXPECT_TRUE(h.m.sign_flag());

    Harness r;
    r.m.set_reg(GR2, 0);
    r.m.set_reg(GR1, 7);
    r.run({op(LD_R, GR1, GR2)});
    EXPECT_EQ(r.m.reg(GR1), 0);
    EXPECT_TRUE(r.m.zero_flag());
}

// Register numbers 7-15 fail in fields the instruction uses and are ignored
// elsewhere.
TEST(LoadStore, RegisterFieldsSevenToFifteen) {
    const Word failing[] = {
        op(LD_M, 7),   op(ST, 15),       op(LAD, GR1, 8), op(LDI, 7),     op(LD_R, GR1, 7),
        op(ADD_R, 9),  op(CMP_R, GR1, 12), op(LD_M, GR1, 7), op(PUSH_M, 0, 7), op(PUSH_R, 7),
        op(OUTI_R, 7), op(OUTI_M, 0, 10), op(OUTB_R, 8),   op(INI_R, 7),   op(INI_M, 0, 11),
        op(JUMP, 0, 13), op(POP, 14),     op(XOR_M, GR1, 9),
    };
    for (Word w : failing) {
        SCOPED_TRACE(testing::Message() << std::hex << w);
        Harness h("5");
        EXPECT_EQ(h.step({w, 0x0000}).end, End::fault);
        EXPECT_EQ(h.err.str(), kBadAddress);
        EXPECT_EQ(h.m.pc(), 0);
    }
    const Word ignoring[] = {Word(0x00FF),    op(LDI, GR1, 15), op(PUSH_M, 15), op(OUTI_M, 15),
                             op(OUTB_M, 9),   op(JUMP, 15),     op(POP, GR1, 15), op(PUSH_R, GR1, 15),
                             op(RET, 15, 15), op(INI_M, 12)};
    for (Word w : ignoring) {
        SCOPED_TRACE(testing::Message() << std::hex << w);
        Harness h("5");
        EXPECT_NE(h.step({w, 0x0000}).end, End::fault);
        EXPECT_EQ(h.err.str(), "");
    }
}

TEST(LoadStore, OperandWordBeyondTheImageFails) {
    Harness h;
    h.m.set_reg(GR1, 9);
    h.run({op(NOP), op(LDI, GR1)});
    EXPECT_EQ(h.err.str(), kBadAddress);
    EXPECT_EQ(h.m.pc(), 1);
    EXPECT_EQ(h.m.reg(GR1), 9);
}

// Register form and memory form of each operation, with the flags: ZF from
// the result, SF always cleared.
TEST(Arithmetic, ResultsAndFlags) {
    struct Case {
        Opcode reg_form;
        Word a, b, result;
    };
    const Case cases[] = {
        {ADD_R, 0x7FFF, 1, 0x8000}, {ADD_R, 0xFFFF, 1, 0},      {SUB_R, 3, 5, 0xFFFE},
        {SUB_R, 5, 5, 0},           {MUL_R, 0x1234, 0x100, 0x3400}, {MUL_R, 0xFFFF, 0xFFFF, 1},
        {AND_R, 0xF0F0, 0xFF00, 0xF000}, {AND_R, 0xF0F0, 0x0F0F, 0}, {OR_R, 0xF000, 0x000F, 0xF00F},
        {XOR_R, 0xAAAA, 0xAAAA, 0},  {XOR_R, 0xAAAA, 0x5555, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << image::op_info(c.reg_form).mnemonic << ' ' << c.a << ',' << c.b);
        Harness r;
        r.m.set_reg(GR1, c.a);
        r.m.set_reg(GR2, c.b);
        r.m.set_flags(c.result != 0, true);
        r.run({op(c.reg_form, GR1, GR2)});
        EXPECT_EQ(r.m.reg(GR1), c.result);
        EXPECT_EQ(r.m.reg(GR2), c.b);
        EXPECT_EQ(r.m.zero_flag(), c.result == 0);
        EXPECT_FALSE(r.m.sign_flag());

        Harness m;  // memory form, indexed through bp
        m.m.set_reg(GR1, c.a);
        m.m.set_reg(BP, 0x20);
        m.m.set_memory(0x1F, c.b);
        m.m.set_flags(c.result != 0, true);
        m.run({op(Opcode(c.reg_form - 1), GR1, BP), 0xFFFF});
        EXPECT_EQ(m.m.reg(GR1), c.result);
        EXPECT_EQ(m.m.zero_flag(), c.result == 0);
        EXPECT_FALSE(m.m.sign_flag());
    }
}

TEST(Division, SignedTruncatingTowardZero) {
    struct Case {
        int dividend, divisor, quotient, remainder;
    };
    const Case cases[] = {{-7, 2, -3, -1}, {7, -2, -3, 1},   {-32768, -1, -32768, 0},
                          {100, 7, 14, 2}, {-100, -7, 14, -2}, {0, 5, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dividend << " / " << c.divisor);
        Harness r;
        r.m.set_reg(GR1, Word(c.dividend));
        r.m.set_reg(GR2, Word(c.dividend));
        r.m.set_reg(GR3, Word(c.divisor));
        r.run({op(DIV_R, GR1, GR3), op(MOD_R, GR2, GR3)});
        EXPECT_EQ(r.m.reg(GR1), Word(c.quotient));
        EXPECT_EQ(r.m.reg(GR2), Word(c.remainder));
        EXPECT_EQ(r.m.zero_flag(), c.remainder == 0);

        Harness m;
        m.m.set_reg(GR1, Word(c.dividend));
        m.m.set_reg(GR2, Word(c.dividend));
        m.m.set_memory(0x40, Word(c.divisor));
        m.run({op(DIV_M, GR1), 0x40, op(MOD_M, GR2), 0x40});
        EXPECT_EQ(m.m.reg(GR1), Word(c.quotient));
        EXPECT_EQ(m.m.reg(GR2), Word(c.remainder));
    }
}

TEST(Division, ZeroDivisorFailsBeforeTheRegisterCheck) {
    Harness h;
    h.m.set_reg(GR1, 42);
    h.run({op(NOP), op(DIV_R, GR1, GR2)});
    EXPECT_EQ(h.err.str(), "Error:Zero Divide Error\n");
    EXPECT_EQ(h.m.reg(GR1), 42);
    EXPECT_EQ(h.m.pc(), 1);
    EXPECT_NE(h.out.str().find("pc :0x0001"), std::string::npos);

    Harness mod;
    mod.run({op(MOD_M, GR1), 0x0040});
    EXPECT_EQ(mod.err.str(), "Error:Zero Divide Error\n");

    Harness bad_a;  // a = 7 with a zero divisor: the divisor wins
    bad_a.run({op(DIV_R, 7, GR2)});
    EXPECT_EQ(bad_a.err.str(), "Error:Zero Divide Error\n");

    Harness bad_a_nonzero;
    bad_a_nonzero.m.set_reg(GR2, 1);
    bad_a_nonzero.run({op(DIV_R, 7, GR2)});
    EXPECT_EQ(bad_a_nonzero.err.str(), kBadAddress);

    Harness bad_b;
    bad_b.run({op(MOD_R, GR1, 9)});
    EXPECT_EQ(bad_b.err.str(), kBadAddress);
}

TEST(Compare, SixteenBitDifference) {
    struct Case {
        Word a, b;
        bool zf, sf;
    };
    const Case cases[] = {
        {5, 7, false, true},
        {7, 5, false, false},
        {5, 5, true, false},
        {30000, Word(-30000), false, true},  // 60000 = 0xEA60: not widened
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
        Harness r;
        r.m.set_reg(GR1, c.a);
        r.m.set_reg(GR2, c.b);
        r.run({op(CMP_R, GR1, GR2)});
        EXPECT_EQ(r.m.reg(GR1), c.a);
        EXPECT_EQ(r.m.zero_flag(), c.zf);
        EXPECT_EQ(r.m.sign_flag(), c.sf);

        Harness m;
        m.m.set_reg(GR1, c.a);
        m.m.set_memory(0x30, c.b);
        m.run({op(CMP_M, GR1), 0x30});
        EXPECT_EQ(m.m.zero_flag(), c.zf);
        EXPECT_EQ(m.m.sign_flag(), c.sf);
    }
}

TEST(Jumps, ConditionsOnEveryFlagState) {
    struct Flags {
        bool zf, sf;
    };
    const Flags states[] = {{false, false}, {true, false}, {false, true}};
    for (const Flags f : states) {
        const std::pair<Opcode, bool> jumps[] = {
            {JMI, f.sf}, {JNZ, !f.zf}, {JZE, f.zf}, {JUMP, true}, {JPL, !f.zf && !f.sf}};
        for (const auto& [jump, taken] : jumps) {
            SCOPED_TRACE(testing::Message() << image::op_info(jump).mnemonic << " zf " << f.zf << " sf " << f.sf);
            Harness h;
            h.m.set_flags(f.zf, f.sf);
            h.step({op(jump), 0x0010});
            EXPECT_EQ(h.m.pc(), taken ? 0x10 : 2);
            EXPECT_EQ(h.m.zero_flag(), f.zf);
            EXPECT_EQ(h.m.sign_flag(), f.sf);
        }
    }
}

TEST(Jumps, TargetWrapsAndIsNeverChecked) {
    Harness wrap;
    wrap.m.set_reg(GR3, 2);
    wrap.step({op(JUMP, 0, GR3), 0xFFFF});
    EXPECT_EQ(wrap.m.pc(), 1);

    Harness beyond;  // a jump past the code ends the run normally
    EXPECT_EQ(beyond.run({op(JUMP), 0x0100}).end, End::finished);
    EXPECT_EQ(beyond.err.str(), "");
}

TEST(Jumps, NotTakenReadsNeitherOperandNorIndex) {
    Harness last_word;  // no operand word, index register 9, not taken
    EXPECT_EQ(last_word.run({op(JZE, 0, 9)}).end, End::finished);
    EXPECT_EQ(last_word.err.str(), "");

    Harness taken_bad_index;
    taken_bad_index.m.set_flags(true, false);
    taken_bad_index.run({op(JZE, 0, 9), 0x0000});
    EXPECT_EQ(taken_bad_index.err.str(), kBadAddress);

    Harness taken_no_operand;
    taken_no_operand.run({op(JUMP)});
    EXPECT_EQ(taken_no_operand.err.str(), kBadAddress);
}

TEST(Stack, PushPopAndWrapAround) {
    Harness h;
    h.m.set_reg(GR1, 0x00AB);
    h.step({op(PUSH_R, GR1), op(POP, GR2)});
    EXPECT_EQ(h.m.memory(0xFFFF), 0x00AB);
    EXPECT_EQ(h.m.reg(image::SP), 0xFFFE);
    h.m.set_flags(true, true);
    h.m.execute_capped(1);
    EXPECT_EQ(h.m.reg(GR2), 0x00AB);
    EXPECT_EQ(h.m.reg(image::SP), 0xFFFF);
    EXPECT_FALSE(h.m.zero_flag());
    EXPECT_FALSE(h.m.sign_flag());

    Harness low;  // push at sp 0 wraps to 0xFFFF; pop at 0xFFFF reads word 0
    low.m.set_reg(image::SP, 0);
    low.m.set_reg(GR1, 5);
    low.run({op(PUSH_R, GR1), op(POP, GR2)});
    EXPECT_EQ(low.m.memory(0), 5);
    EXPECT_EQ(low.m.reg(GR2), 5);
    EXPECT_EQ(low.m.reg(image::SP), 0);

    Harness mem;  // PUSH of a memory word; PUSH sp pushes the old sp
    mem.m.set_memory(0x0100, 0x7777);
    mem.run({op(PUSH_M), 0x0100, op(PUSH_R, image::SP)});
    EXPECT_EQ(mem.m.memory(0xFFFF), 0x7777);
    EXPECT_EQ(mem.m.memory(0xFFFE), 0xFFFE);
    EXPECT_EQ(mem.m.reg(image::SP), 0xFFFD);

    Harness pop_sp;
    pop_sp.m.set_memory(0x0000, 0x1234);
    pop_sp.run({op(POP, image::SP)});
    EXPECT_EQ(pop_sp.m.reg(image::SP), 0x1234);
}

TEST(Stack, PopIntoBadRegisterFailsAfterMovingSp) {
    Harness h;
    h.run({op(POP, 7)});
    EXPECT_EQ(h.err.str(), kBadAddress);
    EXPECT_EQ(h.m.reg(image::SP), 0x0000);
    EXPECT_EQ(h.m.pc(), 0);
}

TEST(CallRet, PushesReturnAddressAndReturns) {
    std::vector<Word> words(0x11, op(NOP));
    words[5] = op(CALL);
    words[6] = 0x0010;
    words[0x10] = op(RET);
    Harness h;
    h.step(words, 6);  // five NOPs and the CALL
    EXPECT_EQ(h.m.pc(), 0x10);
    EXPECT_EQ(h.m.memory(0xFFFF), 7);
    EXPECT_EQ(h.m.reg(image::SP), 0xFFFE);
    h.m.execute_capped(1);
    EXPECT_EQ(h.m.pc(), 7);
    EXPECT_EQ(h.m.reg(image::SP), 0xFFFF);
}

TEST(CallRet, RetAtTopOfStackWraps) {
    Harness h;
    h.m.set_memory(0, 0x1234);
    EXPECT_EQ(h.run({op(RET)}).end, End::finished);
    EXPECT_EQ(h.m.pc(), 0x1234);
    EXPECT_EQ(h.m.reg(image::SP), 0);
}

TEST(CallRet, IndexedTargetUsesRegistersAfterThePush) {
    Harness sp_index;  // target = decremented sp + 2 = 0
    sp_index.step({op(CALL, 0, image::SP), 0x0002});
    EXPECT_EQ(sp_index.m.pc(), 0);
    EXPECT_EQ(sp_index.m.memory(0xFFFF), 2);

    Harness bad_index;  // fails after the push
    bad_index.run({op(CALL, 0, 9), 0x0002});
    EXPECT_EQ(bad_index.err.str(), kBadAddress);
    EXPECT_EQ(bad_index.m.reg(image::SP), 0xFFFE);
    EXPECT_EQ(bad_index.m.memory(0xFFFF), 2);
    EXPECT_EQ(bad_index.m.pc(), 0);

    Harness no_operand;  // fails before the push
    no_operand.run({op(CALL)});
    EXPECT_EQ(no_operand.err.str(), kBadAddress);
    EXPECT_EQ(no_operand.m.reg(image::SP), 0xFFFF);
}

}  // namespace
