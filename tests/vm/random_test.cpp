// Randomized images: mostly valid instructions with random registers and
// addresses, some random words. Every run must end cleanly with at most one
// of the machine's error lines, and the plain, capped and traced loops must
// agree. Seeded, so a failure names the image that caused it.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "harness.h"

using namespace vmtest;
using End = vm::RunResult::End;

namespace {

constexpr unsigned kSeed = 20240611;
constexpr int kImages = 4000;
constexpr std::uint64_t kMaxSteps = 3000;

struct Generator {
    std::mt19937 rng;
    std::vector<unsigned> defined;

    explicit Generator(unsigned seed) : rng(seed) {
        for (unsigned code = 0; code < 256; ++code)
            if (image::op_info(code).defined()) defined.push_back(code);
    }
    unsigned below(unsigned n) { return unsigned(rng() % n); }
    unsigned reg() { return below(40) == 0 ? 7 + below(9) : below(7); }

    Word operand(std::size_t length) {
        switch (below(5)) {
        case 0:
        case 1: return Word(below(unsigned(length) + 4));  // code address, also just past the end
        case 2: return Word(below(64));                    // low data
        case 3: return Word(0xFFFF - below(64));           // top of memory, negative offsets
        default: return Word(rng());
        }
    }

    Word text_word() {
        static const char pieces[] = "\\\\\\xnt\"?ab01234567fFgq AZ";
        switch (below(6)) {
        case 0: return Word(rng());
        case 1: return Word(0xFF00 | below(256));
        default: return Word(pieces[below(sizeof pieces - 1)]);
        }
    }

    std::vector<Word> image() {
        const std::size_t length = 1 + below(120);
        std::vector<Word> words;
        while (words.size() < length) {
            if (below(25) == 0) {
                words.push_back(Word(rng()));
                continue;
            }
            const unsigned code = defined[below(unsigned(defined.size()))];
            words.push_back(make_word(Opcode(code), reg(), reg()));
            const image::OpInfo& info = image::op_info(code);
            if (info.form == image::Form::T) {
                for (unsigned k = below(8); k > 0; --k) words.push_back(text_word());
                if (below(10) != 0) words.push_back(0x0000);
            } else if (info.words == 2 && below(30) != 0) {
                words.push_back(operand(length));
            }
        }
        return words;
    }

    std::string input() {
        static const char chars[] = "0123456789    \n\t+-x";
        std::string s;
        for (unsigned k = below(30); k > 0; --k) s.push_back(chars[below(sizeof chars - 1)]);
        return s;
    }
};

const std::regex kDumpAtEnd(
    "Debug Information\n"
    "GR0:0x[0-9a-f]{4} GR1:0x[0-9a-f]{4} GR2:0x[0-9a-f]{4} GR3:0x[0-9a-f]{4}\n"
    "GR4:0x[0-9a-f]{4} bp :0x[0-9a-f]{4} sp :0x[0-9a-f]{4}\n"
    "pc :0x[0-9a-f]{4} SF :0x000[01] ZF :0x000[01]\n$");

TEST(RandomImages, EndCleanlyWithOnlyTheKnownErrors) {
    Generator gen(kSeed);
    int faults = 0, finished = 0;
    for (int i = 0; i < kImages; ++i) {
        SCOPED_TRACE(testing::Message() << "seed " << kSeed << " image " << i);
        const std::vector<Word> words = gen.image();
        const std::string input = gen.input();

        Harness capped(input);
        const vm::RunResult r = capped.run(words, kMaxSteps);
        const std::string err = capped.err.str();
        if (r.end == End::fault) {
            ++faults;
            EXPECT_TRUE(err == "Error:Illegal memory access\n" || err == "Error:Illegal Operation\n" ||
                        err == "Error:Zero Divide Error\n")
                << err;
            const std::string out = capped.out.str();
            EXPECT_TRUE(std::regex_search(out.substr(out.size() < 160 ? 0 : out.size() - 160), kDumpAtEnd));
        } else {
            EXPECT_EQ(err, "");
        }
        if (r.end == End::step_limit) continue;
        finished += r.end == End::finished;

        // The plain loop must do exactly the same.
        Harness plain(input);
        plain.m.load(words);
        const vm::RunResult p = plain.m.execute();
        EXPECT_EQ(p.end, r.end);
        EXPECT_EQ(plain.out.str(), capped.out.str());
        EXPECT_EQ(plain.err.str(), err);
        EXPECT_EQ(plain.m.registers(), capped.m.registers());
        EXPECT_EQ(plain.m.pc(), capped.m.pc());

        // The hook runs once per completed instruction.
        Harness traced(input);
        traced.m.load(words);
        std::uint64_t calls = 0;
        const vm::RunResult t = traced.m.execute_traced([&](const vm::TraceStep&) { ++calls; });
        EXPECT_EQ(t.steps, r.steps);
        EXPECT_EQ(calls, r.end == End::fault ? r.steps - 1 : r.steps);
        EXPECT_EQ(traced.out.str(), capped.out.str());
    }
    // The generator must exercise both kinds of end, or the test proves little.
    EXPECT_GT(faults, kImages / 10);
    EXPECT_GT(finished, kImages / 10);
}

}  // namespace
