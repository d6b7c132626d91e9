// The translating engine against the machine's loop: generated images run
// on both must agree in everything observable.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <streambuf>
#include <tuple>

#include "engines.h"

using namespace vmtest;
using End = vm::RunResult::End;

namespace {

struct Seeded {
    std::mt19937 rng;
    unsigned below(unsigned n) { return unsigned(rng() % n); }
};

std::string input_text(Seeded& s) {
    static const char chars[] = "0123456789  \n+-x";
    std::string text;
    for (unsigned k = s.below(24); k > 0; --k) text.push_back(chars[s.below(sizeof chars - 1)]);
    return text;
}

// Translating everything at once, and after a few arrivals (runs that go
// back and forth between the loop and translated code); with the first
// tier alone and with the second on (regions wherever it can).
class NativeEngine : public ::testing::TestWithParam<std::tuple<unsigned, int>> {
protected:
    void SetUp() override {
        saved_ = vm::native::hot_threshold();
        vm::native::set_hot_threshold(std::get<0>(GetParam()));
        vm::native::force_tier(std::get<1>(GetParam()));
    }
    void TearDown() override {
        vm::native::set_hot_threshold(saved_);
        vm::native::force_tier(0);
    }
    unsigned saved_ = 0;
};
INSTANTIATE_TEST_SUITE_P(Hot, NativeEngine, ::testing::Combine(::testing::Values(0u, 2u), ::testing::Values(1, 2)));

TEST_P(NativeEngine, AgreesWithTheLoopOnGeneratedImages) {
    Seeded s{std::mt19937(20261207)};
    ImageGen<Seeded> gen{s, {}, 0};
    int ends[4] = {0, 0, 0, 0};
    for (int i = 0; i < 3000; ++i) {
        const std::vector<vm::Word> words = gen.image();
        const std::string input = input_text(s);
        // Step caps, output limits and stats in turn.
        vm::Limits limits;
        limits.max_steps = 1 + s.below(4) * s.below(400);
        if (i % 3 == 1) limits.max_output = s.below(12);
        const bool stats = i % 3 != 0;
        const auto ref = observe(words, input, false, &limits, stats);
        const auto nat = observe(words, input, true, &limits, stats);
        ASSERT_EQ(difference(*ref, *nat), "") << "image " << i << " steps " << limits.max_steps
                                            << " output " << limits.max_output;
        ++ends[int(ref->result.end)];
    }
    // Each kind of end must be common, or the comparison proves little.
    for (int e = 0; e < 4; ++e) EXPECT_GT(ends[e], e == int(End::output_limit) ? 10 : 100);
}

// Uncapped runs translate without step counting.
TEST_P(NativeEngine, AgreesUncapped) {
    Seeded s{std::mt19937(7)};
    ImageGen<Seeded> gen{s, {}, 0};
    int compared = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::vector<vm::Word> words = gen.image();
        const std::string input = input_text(s);
        const vm::Limits limits{20000};
        if (observe(words, input, false, &limits)->result.end == End::step_limit) continue;  // may not end
        ++compared;
        const auto plain = observe(words, input, false, nullptr);
        const auto nat = observe(words, input, true, nullptr);
        ASSERT_EQ(difference(*plain, *nat), "") << "image " << i;
    }
    EXPECT_GT(compared, 1000);
}

// The second tier on, with a hot threshold, for the life of the object.
struct SecondTierOn {
    unsigned saved = vm::native::hot_threshold();
    explicit SecondTierOn(unsigned hot) {
        vm::native::force_tier(2);
        vm::native::set_hot_threshold(hot);
    }
    ~SecondTierOn() {
        vm::native::force_tier(0);
        vm::native::set_hot_threshold(saved);
    }
};

// Words of a hand-written image.
struct Code {
    std::vector<vm::Word> w;
    void op(image::Opcode o, unsigned r, unsigned x) { w.push_back(image::make_word(o, r, x)); }
    void op2(image::Opcode o, unsigned r, unsigned x, vm::Word adr) {
        op(o, r, x);
        w.push_back(adr);
    }
    vm::Word here() const { return vm::Word(w.size()); }
};

// Every step cap up to the whole run's stops at the same instruction with
// the same state on both engines, the second tier translating every
// address at once or after two arrivals; and so does the run without
// limits.
void agrees_at_every_step(const std::vector<vm::Word>& w, std::uint64_t steps) {
    for (const unsigned hot : {0u, 2u}) {
        const SecondTierOn on(hot);
        for (std::uint64_t cap = 1; cap <= steps + 1; ++cap) {
            const vm::Limits limits{cap};
            const auto ref = observe(w, "", false, &limits, true);
            const auto nat = observe(w, "", true, &limits, true);
            ASSERT_EQ(difference(*ref, *nat), "") << "hot " << hot << " steps " << cap;
        }
        EXPECT_EQ(difference(*observe(w, "", false, nullptr), *observe(w, "", true, nullptr)), "") << hot;
    }
}

// A loop in the compiler's shape whose frame slots the second tier keeps in
// host registers, with accesses that defeat that: a load and a store
// through a computed address that fall on such a slot, a stack word read
// back through a computed address, a global, the loop's condition as the
// compiler writes comparisons, and at the end a division by
// a slot that is now 0. Every step cap must stop at the same instruction
// with the same state as the loop, in every way of translating.
TEST(SecondTier, RegionsAgreeAtEveryStep) {
    using namespace image;
    Code c;
    std::vector<vm::Word>& w = c.w;
    auto op = [&](Opcode o, unsigned r, unsigned x) { c.op(o, r, x); };
    auto op2 = [&](Opcode o, unsigned r, unsigned x, vm::Word adr) { c.op2(o, r, x, adr); };
    op2(LDI, GR3, 0, 0);                // 0
    op2(LDI, GR4, 0, 0xFFFF);           // 2: globals below 0xFFFF
    op(LD_R, BP, SP);                   // 4: bp = 0xFFFF, slots below it
    op2(LAD, SP, BP, 0xFFFC);           // 5: three slots
    op2(LDI, GR0, 0, 9);                // 7
    op2(ST, GR0, BP, 0xFFFF);           // 9: i := 9
    op2(ST, GR3, BP, 0xFFFE);           // 11: s := 0
    // GR0 := (slot != 0) as the compiler computes a comparison, and `jump`
    // on it to target (0: the next instruction).
    auto not_zero = [&](vm::Word slot, Opcode jump, vm::Word target) {
        op2(LD_M, GR0, BP, slot);
        op(PUSH_R, GR0, 0);
        op2(LDI, GR0, 0, 0);
        op(PUSH_R, GR0, 0);
        op(POP, GR2, 0);
        op(POP, GR1, 0);
        op2(LDI, GR0, 0, 1);
        op(CMP_R, GR1, GR2);
        op2(JNZ, 0, GR3, vm::Word(w.size() + 4));
        op2(LDI, GR0, 0, 0);
        op(PUSH_R, GR0, 0);
        op(POP, GR0, 0);
        op2(jump, 0, GR3, target ? target : vm::Word(w.size() + 2));
    };
    const vm::Word loop = vm::Word(w.size());
    not_zero(0xFFFF, JZE, 1);           // 13: while i != 0 (the end set below)
    const std::size_t exit = w.size() - 1;
    not_zero(0xFFFE, JNZ, 0);           // s != 0: both ways lead on
    op2(LD_M, GR0, BP, 0xFFFE);         // s
    op(PUSH_R, GR0, 0);
    op2(LD_M, GR0, BP, 0xFFFF);         // i
    op(PUSH_R, GR0, 0);
    op(POP, GR1, 0);
    op(POP, GR0, 0);
    op(ADD_R, GR0, GR1);
    op2(ST, GR0, BP, 0xFFFE);           // s := s + i
    op2(LAD, GR2, 0, 0xFFFA);           // the stack word popped first, by address
    op2(LD_M, GR1, GR2, 0);             // ... read back: i
    op2(ST, GR1, GR4, 0xFFF0);          // a global := i
    op2(LAD, GR2, BP, 0xFFFF);          // the address of i, computed
    op2(LDI, GR0, 0, 1);
    op(SUB_R, GR1, GR0);
    op2(ST, GR1, GR2, 0);               // i := i - 1 through it
    op2(LD_M, GR0, GR2, 0);             // and read back the same way
    op2(JUMP, 0, GR3, loop);
    w[exit] = vm::Word(w.size());
    op2(LD_M, GR0, BP, 0xFFFE);
    op2(DIV_M, GR0, BP, 0xFFFF);        // i is 0: fails with the slots in memory
    const vm::Limits none{1000000};
    const auto whole = observe(w, "", false, &none, true);
    ASSERT_EQ(whole->result.fault, vm::Fault::zero_divide);
    ASSERT_EQ(whole->m.memory_data()[0xFFFD], 45);
    agrees_at_every_step(w, whole->result.steps);
}

// A function's entry (PUSH bp; LD bp,sp) starts a region: called with its
// argument counted down in a loop, then called again with GR3 not 0, which
// the region's entry refuses after the prologue, and a third time with sp
// so low that bp wraps to 0xFFFF and the argument lies past memory, which
// it refuses too (the loop then fails on it).
TEST(SecondTier, FunctionEntriesAgreeAtEveryStep) {
    using namespace image;
    Code c;
    vm::Word f_at = 0;
    std::vector<std::size_t> calls;
    auto call = [&](vm::Word arg) {
        c.op2(LDI, GR0, 0, arg);
        c.op(PUSH_R, GR0, 0);
        calls.push_back(c.w.size() + 1);
        c.op2(CALL, 0, 0, 0);
        c.op2(LAD, SP, SP, 1);                // drop the argument
    };
    c.op2(LDI, GR3, 0, 0);
    call(5);
    c.op2(LDI, GR3, 0, 7);
    call(3);
    c.op2(LDI, GR3, 0, 0);
    c.op2(LAD, SP, 0, 2);                   // bp will be 0xFFFF
    call(2);
    f_at = c.here();
    c.op(PUSH_R, BP, 0);
    c.op(LD_R, BP, SP);
    const vm::Word loop = c.here();
    c.op2(LD_M, GR0, BP, 3);                 // the argument
    c.op(PUSH_R, GR0, 0);
    c.op2(LDI, GR0, 0, 1);
    c.op(PUSH_R, GR0, 0);
    c.op(POP, GR1, 0);
    c.op(POP, GR0, 0);
    c.op(SUB_R, GR0, GR1);
    c.op2(ST, GR0, BP, 3);
    c.op2(JNZ, 0, 0, loop);
    c.op(LD_R, SP, BP);
    c.op(POP, BP, 0);
    c.op(RET, 0, 0);
    for (std::size_t at : calls) c.w[at] = f_at;
    const vm::Limits none{100000};
    const auto whole = observe(c.w, "", false, &none, true);
    ASSERT_EQ(whole->result.fault, vm::Fault::illegal_memory_access);  // the third call's argument
    agrees_at_every_step(c.w, whole->result.steps);
}

// A frame with an array between slots held in registers (a parameter above
// bp, scalars below the array): the array's elements, written through a
// computed address in a loop, stay in translated code instead of going to
// the machine's loop one by one, and the run agrees with the loop's.
TEST(SecondTier, FrameArraysBetweenSlotsStayTranslated) {
    if (!vm::native::available()) GTEST_SKIP() << "no translating engine here";
    using namespace image;
    Code c;
    c.op2(LDI, GR3, 0, 0);
    c.op2(LAD, SP, 0, 0xF000);
    c.op(LD_R, BP, SP);
    c.op2(LAD, SP, BP, vm::Word(-110));
    c.op2(LDI, GR0, 0, 100);
    c.op2(ST, GR0, BP, 3);                    // the bound, a parameter's place
    c.op2(LDI, GR0, 0, 0);
    c.op2(ST, GR0, BP, vm::Word(-102));       // rounds
    const vm::Word round = c.here();
    c.op2(LDI, GR0, 0, 0);
    c.op2(ST, GR0, BP, vm::Word(-101));       // i
    const vm::Word loop = c.here();
    c.op2(LD_M, GR0, BP, vm::Word(-101));     // while i < bound, as compiled
    c.op(PUSH_R, GR0, 0);
    c.op2(LD_M, GR0, BP, 3);
    c.op(PUSH_R, GR0, 0);
    c.op(POP, GR2, 0);
    c.op(POP, GR1, 0);
    c.op2(LDI, GR0, 0, 1);
    c.op(CMP_R, GR1, GR2);
    c.op2(JMI, 0, GR3, vm::Word(c.here() + 4));
    c.op2(LDI, GR0, 0, 0);
    c.op(PUSH_R, GR0, 0);
    c.op(POP, GR0, 0);
    const std::size_t done = c.w.size() + 1;
    c.op2(JZE, 0, GR3, 0);
    c.op2(LAD, GR1, BP, vm::Word(-100));      // a[i] := i
    c.op2(LD_M, GR0, BP, vm::Word(-101));
    c.op(ADD_R, GR1, GR0);
    c.op2(ST, GR0, GR1, 0);
    c.op2(LDI, GR2, 0, 1);                    // i := i + 1
    c.op(ADD_R, GR0, GR2);
    c.op2(ST, GR0, BP, vm::Word(-101));
    c.op2(JUMP, 0, GR3, loop);
    c.w[done] = c.here();
    c.op2(LD_M, GR0, BP, vm::Word(-102));     // 50 rounds
    c.op2(LDI, GR2, 0, 1);
    c.op(ADD_R, GR0, GR2);
    c.op2(ST, GR0, BP, vm::Word(-102));
    c.op2(LDI, GR2, 0, 50);
    c.op(SUB_R, GR0, GR2);
    c.op2(JNZ, 0, GR3, round);
    const SecondTierOn on(0);
    const auto ref = observe(c.w, "", false, nullptr);
    const auto nat = observe(c.w, "", true, nullptr);
    EXPECT_EQ(difference(*ref, *nat), "");
    EXPECT_EQ(nat->m.memory_data()[0xF000 - 1], 99);  // a[99]
    const vm::Limits none{1000000};
    const auto counted = observe(c.w, "", false, &none, true);
    observe(c.w, "", true, nullptr);
    EXPECT_LT(vm::native::steps_on_loop() * 100, counted->result.steps) << "of " << counted->result.steps;
}

// Division and remainder by a constant power of two (shifts in the second
// tier) and by other constants, for every 16-bit dividend.
TEST(SecondTier, DividesByConstantsLikeTheLoop) {
    using namespace image;
    std::vector<vm::Word> w;
    auto op = [&](Opcode o, unsigned r, unsigned x) { w.push_back(make_word(o, r, x)); };
    auto op2 = [&](Opcode o, unsigned r, unsigned x, vm::Word adr) {
        op(o, r, x);
        w.push_back(adr);
    };
    const vm::Word loop = 0;
    vm::Word sum = 0x101;  // a sum of the results per divisor and operation
    for (const int divisor : {2, 16, 16384, -2, 3}) {
        for (const Opcode o : {DIV_R, MOD_R}) {
            op2(LD_M, GR0, 0, 0x100);  // the dividend
            op2(LDI, GR1, 0, vm::Word(divisor));
            op(o, GR0, GR1);
            op2(ADD_M, GR0, 0, sum);
            op2(ST, GR0, 0, sum++);
        }
    }
    op2(LD_M, GR0, 0, 0x100);
    op2(LDI, GR1, 0, 1);
    op(ADD_R, GR0, GR1);
    op2(ST, GR0, 0, 0x100);
    op2(JNZ, 0, 0, loop);  // all 65536 dividends, 0 last
    const auto ref = observe(w, "", false, nullptr);
    for (const unsigned hot : {0u, 40u}) {
        const SecondTierOn on(hot);
        EXPECT_EQ(difference(*ref, *observe(w, "", true, nullptr)), "") << hot;
    }
}

// A stream that takes `room` bytes and then fails, like a full disk.
class FullDisk : public std::streambuf {
public:
    explicit FullDisk(std::size_t room) : room_(room) {}
    std::string taken;

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (std::size_t(n) > room_) return 0;
        room_ -= std::size_t(n);
        taken.append(s, std::size_t(n));
        return n;
    }

private:
    std::size_t room_;
};

// An endless printing loop on a stream that fails stops at the first
// output that fails, on both engines and with or without limits.
TEST(OutputError, StopsTheRunAtTheFirstFailedWrite) {
    using image::make_word;
    // 0: OUTS "ab"; 4: JUMP 0
    const std::vector<vm::Word> words{make_word(image::OUTS), 'a', 'b', 0x0000,
                                      make_word(image::JUMP, 0, image::GR3), 0x0000};
    for (const bool native : {false, true}) {
        for (const bool limited : {false, true}) {
            FullDisk disk(7);
            std::ostream out(&disk);
            std::istringstream in;
            std::ostringstream err;
            vm::Machine m(in, out, err);
            if (native) m.set_engine(vm::native::execute);
            m.load(words);
            const vm::RunResult r = limited ? m.execute(vm::Limits{1000000, 1000000}) : m.execute();
            EXPECT_EQ(r.end, End::output_error) << native << limited;
            EXPECT_EQ(m.pc(), 0) << native << limited;
            EXPECT_EQ(disk.taken, "ababab") << native << limited;
            EXPECT_EQ(err.str(), "");
        }
    }
}

}  // namespace
