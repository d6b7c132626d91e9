// native_diff: a fast differential driver for the translating engine. It
// generates images (the compiler's sequences and faults, from the machine
// tests' generator; whole programs of the program generator compiled by
// vexlc once at the start, with their input; random mutations of both),
// runs each on the
// machine's loop and on the translating engine with the second tier forced
// on every block and every address translated at its first arrival, within
// a small step cap (and, in turn, an output limit and stats), and compares
// output, error text, end, fault, steps, registers, pc, flags, data memory
// and stats. Two machines serve every run, in one process.
//
//   native_diff [--count N] [--seconds S] [--seed N] [--first I] [--programs N]
//               [--keep-going] [--show] [--quiet]
//
// At a difference it writes the image reduced to as few words as still show
// one (native-diff-SEED-I.exec, with the input and limits in the message),
// and stops with status 1, or with --keep-going goes on (up to 20
// differences) and ends with status 1. Without one it prints how many
// executions ran and exits with 0. --show prints each execution's image,
// input and limits before it runs. Execution I of seed S is the same on every run, so
// `--seed S --first I --count 1` repeats one.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engines.h"
#include "generator.h"
#include "image.h"
#include "test_support.h"

namespace {

using vm::Word;

// A small fast generator (splitmix64): every execution has its own, seeded
// from the seed and its number.
struct Rng {
    std::uint64_t s;
    std::uint64_t next() {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return unsigned(next() % n); }
};

// One execution's inputs.
struct Case {
    std::vector<Word> words;
    std::string input;
    vm::Limits limits;
    bool stats = false;
    unsigned hot = 0;
    // The translating engine runs without limits (so without counting its
    // steps) when the loop ended within the cap.
    bool free_run = false;
};

// Programs of the program generator compiled by vexlc, with their input.
struct Compiled {
    std::vector<Word> words;
    std::string input;
};
std::vector<Compiled> g_programs;

void compile_programs(std::uint64_t seed, unsigned count) {
    vexltest::TempDir dir;
    for (unsigned k = 0; k < count; ++k) {
        proggen::Options options;
        options.budget = 400;
        const proggen::Program p = proggen::generate(seed * 1000 + k, options);
        dir.write("p.vxl", p.source);
        const vexltest::ProcessResult r = vexltest::run_process({{VEXL_VEXLC, "p.vxl"}, dir.path()});
        if (!r.exited_with(0)) continue;
        std::istringstream image(dir.read("p.exec"));
        g_programs.push_back({image::read_words(image), p.input});
    }
}

Case make_case(std::uint64_t seed, std::uint64_t i) {
    Rng r{seed * 0x100000001B3ull ^ i};
    Case c;
    vmtest::ImageGen<Rng> gen{r, {}, 0};
    const bool compiled = !g_programs.empty() && r.below(32) == 0;
    if (compiled) {
        const Compiled& p = g_programs[r.below(unsigned(g_programs.size()))];
        c.words = p.words;
        c.input = p.input;
    } else {
        c.words = gen.image();
    }
    // Mutations: a word replaced, bits flipped, a word inserted or dropped.
    if (r.below(4) == 0) {
        for (unsigned k = 1 + r.below(3); k > 0 && !c.words.empty(); --k) {
            const std::size_t at = r.below(unsigned(c.words.size()));
            switch (r.below(4)) {
            case 0: c.words[at] = Word(r.below(65536)); break;
            case 1: c.words[at] ^= Word(1u << r.below(16)); break;
            case 2: c.words.insert(c.words.begin() + std::ptrdiff_t(at), Word(r.below(65536))); break;
            default: c.words.erase(c.words.begin() + std::ptrdiff_t(at)); break;
            }
        }
    }
    static const char chars[] = "0123456789  \n+-x";
    if (!compiled)
        for (unsigned k = r.below(24); k > 0; --k) c.input.push_back(chars[r.below(sizeof chars - 1)]);
    // Compiled programs run longer: their loops get translated as regions.
    c.limits.max_steps = compiled ? 1 + r.below(8000) : 1 + r.below(4) * r.below(500);
    switch (r.below(3)) {
    case 0: break;
    case 1: c.stats = true; break;
    default:
        c.stats = true;
        c.limits.max_output = r.below(16);
        break;
    }
    // Mostly everything translated at once; sometimes after a few
    // arrivals, so that runs also go back and forth with the loop.
    static const unsigned kHot[] = {0, 0, 0, 0, 0, 1, 2, 3};
    c.hot = kHot[r.below(8)];
    if (r.below(3) == 0) {
        c.free_run = true;
        c.stats = false;
        c.limits.max_output = vm::Limits::kNone;
    }
    return c;
}

// A machine kept for every run, put back into its initial state before each.
struct Station : vmtest::Observed {
    void run(const Case& c, bool native, bool free = false) {
        in.clear();
        in.str(c.input);
        out.str("");
        err.str("");
        for (unsigned r = 0; r < image::kRegisterCount; ++r) m.set_reg(r, r == image::SP ? 0xFFFF : 0);
        m.set_pc(0);
        m.set_flags(false, false);
        std::memset(m.memory_data(), 0, vm::kMemoryWords * sizeof(Word));
        m.set_engine(native ? vm::native::execute : nullptr);
        m.load(c.words);
        stats = {};
        result = free ? m.execute() : m.execute(c.limits, c.stats ? &stats : nullptr);
    }
};

Station g_ref, g_nat;

std::string compare(const Case& c) {
    vm::native::set_hot_threshold(c.hot);
    g_ref.run(c, false);
    const bool free = c.free_run && g_ref.result.end != vm::RunResult::End::step_limit;
    g_nat.run(c, true, free);
    if (free) g_nat.result.steps = g_ref.result.steps;  // not counted
    return vmtest::difference(g_ref, g_nat);
}

// Fewer words that still differ: drops stretches of words, halving their
// length, then sets single words to NOP.
Case reduce(Case c) {
    for (std::size_t len = std::max<std::size_t>(c.words.size() / 2, 1); len > 0; len /= 2) {
        for (std::size_t at = 0; at + len <= c.words.size();) {
            Case t = c;
            t.words.erase(t.words.begin() + std::ptrdiff_t(at), t.words.begin() + std::ptrdiff_t(at + len));
            if (!compare(t).empty())
                c = std::move(t);
            else
                at += len;
        }
    }
    for (std::size_t at = 0; at < c.words.size(); ++at) {
        if (c.words[at] == 0) continue;
        Case t = c;
        t.words[at] = 0;
        if (!compare(t).empty()) c = std::move(t);
    }
    if (!c.input.empty()) {
        Case t = c;
        t.input.clear();
        if (!compare(t).empty()) c = std::move(t);
    }
    return c;
}

int usage() {
    std::fprintf(stderr, "usage: native_diff [--count N] [--seconds S] [--seed N] [--first I] [--programs N]\n"
                         "                   [--keep-going] [--show] [--quiet]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t count = 1000000, seed = 1, first = 0, programs = 64;
    double seconds = 0;
    bool quiet = false, keep_going = false, show = false;
    for (int a = 1; a < argc; ++a) {
        const std::string o = argv[a];
        if (o == "--quiet" || o == "--keep-going" || o == "--show") {
            (o == "--quiet" ? quiet : o == "--show" ? show : keep_going) = true;
            continue;
        }
        if (o == "--help") {
            usage();
            return 0;
        }
        if (a + 1 >= argc) return usage();
        char* end = nullptr;
        const char* v = argv[++a];
        if (o == "--seconds") {
            seconds = std::strtod(v, &end);
        } else {
            const std::uint64_t n = std::strtoull(v, &end, 10);
            if (o == "--count") count = n;
            else if (o == "--seed") seed = n;
            else if (o == "--first") first = n;
            else if (o == "--programs") programs = n;
            else return usage();
        }
        if (!end || *end) return usage();
    }
    if (!vm::native::available()) {
        std::printf("native_diff: no translating engine in this build\n");
        return 0;
    }
    vm::native::force_tier(2);
    compile_programs(seed, unsigned(std::min<std::uint64_t>(programs, 10000)));
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    std::uint64_t done = 0, differing = 0;
    for (std::uint64_t i = first; done < count; ++i, ++done) {
        if ((done & 0xFFF) == 0 && done > 0) {
            const double t = elapsed();
            if (seconds > 0 && t >= seconds) break;
            if (!quiet && (done & 0xFFFFF) == 0)
                std::printf("native_diff: %llu executions, %.0f per second\n", (unsigned long long)done, double(done) / t);
            std::fflush(stdout);
        }
        const Case c = make_case(seed, i);
        if (show) {
            // What the execution runs, before running it (for one that crashes).
            std::printf("execution %llu: steps %llu, output %s, stats %s, VEXL_HOT=%u, input \"%s\"\n",
                        (unsigned long long)i, (unsigned long long)c.limits.max_steps,
                        c.limits.max_output == vm::Limits::kNone ? "unlimited"
                                                                  : std::to_string(c.limits.max_output).c_str(),
                        c.stats ? "yes" : "no", c.hot, c.input.c_str());
            for (Word w : c.words) std::printf("%04x ", w);
            std::printf("\n");
            std::fflush(stdout);
        }
        const std::string diff = compare(c);
        if (diff.empty()) continue;
        const Case r = reduce(c);
        const std::string name = "native-diff-" + std::to_string(seed) + "-" + std::to_string(i) + ".exec";
        std::ofstream file(name, std::ios::binary);
        for (Word w : r.words) file.put(char(w >> 8)).put(char(w & 0xFF));
        std::printf("native_diff: execution %llu of seed %llu differs in %s\n", (unsigned long long)i,
                    (unsigned long long)seed, diff.c_str());
        std::printf("reduced to %zu words (%s): %s; steps %llu, output %s, stats %s, VEXL_HOT=%u, input \"%s\"\n",
                    r.words.size(), name.c_str(), compare(r).c_str(), (unsigned long long)r.limits.max_steps,
                    r.limits.max_output == vm::Limits::kNone ? "unlimited"
                                                              : std::to_string(r.limits.max_output).c_str(),
                    r.stats ? "yes" : "no", r.hot, r.input.c_str());
        for (Word w : r.words) std::printf("%04x ", w);
        std::printf("\n");
        std::fflush(stdout);
        if (!keep_going || ++differing == 20) return 1;
    }
    const double t = elapsed();
    std::printf("native_diff: %llu executions, %llu differing (%.1f s, %.0f per second)\n", (unsigned long long)done,
                (unsigned long long)differing, t, t > 0 ? double(done) / t : 0.0);
    return differing ? 1 : 0;
}
