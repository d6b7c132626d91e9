// Program input and output: OUTI, OUTB, OUTS with its escapes, INI, and the
// order in which output, input and error lines reach the terminal.
#include <gtest/gtest.h>

#include <istream>
#include <ostream>
#include <streambuf>

#include "harness.h"

using namespace vmtest;
using End = vm::RunResult::End;

namespace {

// Runs OUTS over the given text words (terminator added) and returns what
// was written; the run must end right after the text.
std::string outs(std::vector<Word> text) {
    std::vector<Word> words{op(OUTS)};
    words.insert(words.end(), text.begin(), text.end());
    words.push_back(0x0000);
    Harness h;
    EXPECT_EQ(h.run(words).end, End::finished);
    EXPECT_EQ(h.m.pc(), words.size());
    EXPECT_EQ(h.err.str(), "");
    return h.out.str();
}

TEST(Outs, PlainBytesAreLowBytesOfTheWords) {
    EXPECT_EQ(outs({}), "");
    EXPECT_EQ(outs({0x0041, 0x0062}), "Ab");
    EXPECT_EQ(outs({0xFF80, 0x0141, 0xFF95}), "\x80" "A\x95");
    // Escape letters (all in the golden case vm/outs) are compared as whole
    // words: 0xFF6E is no 'n'.
    EXPECT_EQ(outs({0x005C, 0xFF6E}), "n");
}

TEST(Outs, HexEscapes) {
    EXPECT_EQ(outs({0x005C, 'x', '4', '1'}), "A");
    EXPECT_EQ(outs({0x005C, 'x', 'a', 'B', 'z'}), "\xAB" "z");
    EXPECT_EQ(outs({0x005C, 'x', '4', '1', '4', '2'}), "B");  // low 8 bits of 0x4142
    // Far above 0x7FFFFFFF: still its low 8 bits.
    EXPECT_EQ(outs({0x005C, 'x', 'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F', 'F', '4', '3'}), "C");
    EXPECT_EQ(outs({0x005C, 'x', 'g'}), "g");          // empty numeral writes nothing
    EXPECT_EQ(outs({0x005C, 'x', 0xFF34, '1'}), "41");  // 0xFF34 is no digit
}

TEST(Outs, OctalEscapes) {
    EXPECT_EQ(outs({0x005C, '1', '0', '1'}), "A");
    EXPECT_EQ(outs({0x005C, '1', '2', '3', '4'}), "\x9C");  // 668 mod 256
    EXPECT_EQ(outs({0x005C, '0', '1', '8'}), std::string("\x01" "8"));
    EXPECT_EQ(outs({0x005C, '7', '7', '7', '7', '7', '7', '7', '7', '7', '7', '7', '7', '1', '0', '1'}), "A");
    EXPECT_EQ(outs({0x005C, 'q'}), "q");         // empty numeral, then q
    EXPECT_EQ(outs({0x005C, 0xFF31}), "1");      // 0xFF31 is no digit
    EXPECT_EQ(outs({0xFF95, 0x005C}), "\x95");  // a trail byte 0x5C starts an escape
}

TEST(Outs, TextRunningOffTheCodeFailsAfterWritingIt) {
    const std::vector<std::vector<Word>> images = {
        {op(OUTS), 'A', 'B'},
        {op(OUTS), 'A', 'B', 0x005C},
        {op(OUTS), 'A', 'B', 0x005C, 'x', '4'},  // the cut-off numeral is not written
        {op(OUTS), 'A', 'B', 0x005C, '1'},
    };
    for (const auto& image : images) {
        Harness h;
        h.run(image);
        EXPECT_EQ(h.out.str().substr(0, 2 + 18), "ABDebug Information\n");
        EXPECT_EQ(h.err.str(), "Error:Illegal memory access\n");
        EXPECT_EQ(h.m.pc(), 0);
    }
}

TEST(Outs, ContinuesAfterTheTerminator) {
    Harness h;
    h.run({op(OUTS), 0x005C, 'x', '4', '1', 0x0000, op(OUTI_R, GR1)});
    EXPECT_EQ(h.out.str(), "A0");
}

TEST(OutiOutb, SignedDecimalAndTruthWords) {
    const std::pair<Word, const char*> numbers[] = {
        {0x8000, "-32768"}, {0x7FFF, "32767"}, {0xFFFF, "-1"}, {0, "0"}, {1234, "1234"}};
    for (const auto& [value, text] : numbers) {
        Harness h;
        h.m.set_reg(GR2, value);
        h.m.set_memory(0x10, value);
        h.m.set_flags(true, true);
        h.run({op(OUTI_R, GR2), op(OUTI_M), 0x0010});
        EXPECT_EQ(h.out.str(), std::string(text) + text);
        EXPECT_TRUE(h.m.zero_flag() && h.m.sign_flag());
    }
    Harness b;
    b.m.set_reg(GR1, 0x8000);
    b.run({op(OUTB_R, GR1), op(OUTB_R, GR2), op(OUTB_M, 0, GR1), 0x7FFF});
    EXPECT_EQ(b.out.str(), "truefalsefalse");
}

// INI GRa; returns the register, which starts as 0x1111.
Word read_once(const std::string& input) {
    Harness h(input);
    h.m.set_reg(GR1, 0x1111);
    h.run({op(INI_R, GR1)});
    return h.m.reg(GR1);
}

TEST(Ini, AcceptedNumbers) {
    EXPECT_EQ(read_once("-1"), 0xFFFF);
    EXPECT_EQ(read_once("40000"), 0x9C40);
    EXPECT_EQ(read_once("65535\n"), 0xFFFF);
    EXPECT_EQ(read_once("+7"), 7);
    EXPECT_EQ(read_once("-0"), 0);
    EXPECT_EQ(read_once("0007x"), 7);
    EXPECT_EQ(read_once(" \t\n\v\f\r8"), 8);
}

TEST(Ini, RejectedInputLeavesTheTargetUnchanged) {
    for (const char* input : {"65536", "", "   ", "abc", "-", "+ 5", "99999999999999999999999"})
        EXPECT_EQ(read_once(input), 0x1111) << '"' << input << '"';
}

TEST(Ini, FailureIsStickyAndReadingStopsAtTheNumber) {
    Harness h("  -12abc 5\n");
    h.m.set_reg(GR2, 0x2222);
    h.m.set_flags(true, true);
    h.step({op(INI_R, GR1), op(INI_R, GR2), op(INI_M), 0x0000});
    EXPECT_EQ(h.m.reg(GR1), 0xFFF4);
    EXPECT_EQ(h.in.rdbuf()->sgetc(), 'a');  // the rest of the line is left
    h.m.execute();
    EXPECT_EQ(h.m.reg(GR2), 0x2222);
    EXPECT_EQ(h.m.memory(0), 0);  // 5 is never reached: the failure sticks
    EXPECT_TRUE(h.m.zero_flag() && h.m.sign_flag());

    Harness overflow("65536 5");  // a valid number after a failure is not read
    overflow.m.set_reg(GR2, 0x2222);
    overflow.run({op(INI_R, GR1), op(INI_R, GR2)});
    EXPECT_EQ(overflow.m.reg(GR1), 0);
    EXPECT_EQ(overflow.m.reg(GR2), 0x2222);
}

TEST(Ini, SeveralNumbersThenEndOfInput) {
    Harness h("12 34");
    h.m.set_reg(GR3, 0x3333);
    h.run({op(INI_R, GR1), op(INI_M, 0, GR1), 0x0001, op(INI_R, GR3)});
    EXPECT_EQ(h.m.reg(GR1), 12);
    EXPECT_EQ(h.m.memory(13), 34);
    EXPECT_EQ(h.m.reg(GR3), 0x3333);
}

TEST(Ini, BadTargetFailsBeforeReading) {
    Harness reg("5");
    reg.run({op(INI_R, 7)});
    EXPECT_EQ(reg.err.str(), "Error:Illegal memory access\n");
    EXPECT_EQ(reg.in.rdbuf()->sgetc(), '5');

    Harness mem("5");
    mem.m.set_reg(GR2, 0x0100);
    mem.run({op(INI_M, 0, GR2), 0x8000});
    EXPECT_EQ(mem.err.str(), "Error:Illegal memory access\n");
    EXPECT_EQ(mem.in.rdbuf()->sgetc(), '5');
}

// A terminal as the user sees it: standard output appears only when
// flushed, errors appear at once, and each input read is marked "<read>".
struct Terminal {
    std::string screen;

    struct Out : std::streambuf {
        Terminal* t;
        std::string pending;
        int overflow(int c) override {
            if (c != traits_type::eof()) pending.push_back(char(c));
            return c;
        }
        int sync() override {
            t->screen += pending;
            pending.clear();
            return 0;
        }
    };
    struct Err : std::streambuf {
        Terminal* t;
        int overflow(int c) override {
            if (c != traits_type::eof()) t->screen.push_back(char(c));
            return c;
        }
    };
    struct In : std::streambuf {
        Terminal* t;
        std::string data;
        std::size_t pos = 0;
        char ch = 0;
        int underflow() override {
            if (t->screen.size() < 6 || t->screen.compare(t->screen.size() - 6, 6, "<read>") != 0)
                t->screen += "<read>";
            if (pos >= data.size()) return traits_type::eof();
            ch = data[pos++];
            setg(&ch, &ch, &ch + 1);
            return traits_type::to_int_type(ch);
        }
    };

    Out out_buf;
    Err err_buf;
    In in_buf;
    std::ostream out{&out_buf};
    std::ostream err{&err_buf};
    std::istream in{&in_buf};

    explicit Terminal(std::string input) {
        out_buf.t = err_buf.t = in_buf.t = this;
        in_buf.data = std::move(input);
    }
};

TEST(Ordering, OutputIsFlushedBeforeInputAndBeforeErrors) {
    Terminal t("21\n");
    vm::Machine m(t.in, t.out, t.err);
    m.load({op(OUTS), '?', 0x0000, op(INI_R, GR1), op(OUTI_R, GR1), op(OUTS), '!', 0x0000, 0x0100});
    m.execute();
    EXPECT_EQ(t.screen,
              "?<read>21!Error:Illegal Operation\n"
              "Debug Information\n"
              "GR0:0x0000 GR1:0x0015 GR2:0x0000 GR3:0x0000\n"
              "GR4:0x0000 bp :0x0000 sp :0xffff\n"
              "pc :0x0008 SF :0x0000 ZF :0x0000\n");
}

}  // namespace
