// The recording on long runs: for each run length N, records N
// instructions of an image, then prints the time of the recorded run
// against a plain run of the same length (reference loop), the memory the
// snapshots hold, the process's peak resident memory and the time of one
// step back (going to state N-1, then N-2, ...: the median and the
// slowest of 25 such steps).
//
//   record_bench IMAGE [N...]          (N defaults: 1000000 100000000)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "machine.h"
#include "record/recording.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

long peak_rss_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void measure(const std::vector<vm::Word>& words, std::uint64_t n) {
    // The plain run: the loop with a step cap.
    double plain = 0;
    {
        std::istringstream in;
        std::ostringstream out, err;
        vm::Machine m(in, out, err);
        m.load(words);
        const auto t = Clock::now();
        m.execute_capped(n);
        plain = seconds_since(t);
    }
    std::istringstream source;
    std::ostringstream out, err;
    vm::record::RecordedInput input(&source);
    vm::record::ReplayOutput output(out.rdbuf());
    std::istream in(&input);
    std::ostream program_out(&output);
    vm::Machine m(in, program_out, err);
    m.load(words);
    vm::record::Recording recording(m, in, input, output);
    auto t = Clock::now();
    recording.run(n);
    const double recorded = seconds_since(t);
    const std::uint64_t reached = recording.now();
    std::vector<double> back;
    for (int i = 0; i < 25 && recording.now() > 0; ++i) {
        t = Clock::now();
        recording.seek(recording.now() - 1);
        back.push_back(seconds_since(t));
    }
    std::sort(back.begin(), back.end());
    std::printf("%12llu instructions: recorded in %.2f s (plain run %.2f s, ratio %.2f); "
                "%zu snapshots every %llu instructions, %.1f MiB; peak RSS %.1f MiB; "
                "one step back: median %.3f ms, slowest %.3f ms\n",
                static_cast<unsigned long long>(reached), recorded, plain, plain > 0 ? recorded / plain : 0.0,
                recording.snapshots(), static_cast<unsigned long long>(recording.interval()),
                double(recording.bytes()) / (1 << 20), double(peak_rss_kib()) / 1024,
                back.empty() ? 0.0 : back[back.size() / 2] * 1e3, back.empty() ? 0.0 : back.back() * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: record_bench IMAGE [N...]\n";
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::cerr << "record_bench: cannot read " << argv[1] << "\n";
        return 1;
    }
    const std::vector<vm::Word> words = image::read_words(file);
    std::vector<std::uint64_t> lengths;
    for (int i = 2; i < argc; ++i) lengths.push_back(std::strtoull(argv[i], nullptr, 10));
    if (lengths.empty()) lengths = {1000000, 100000000};
    for (const std::uint64_t n : lengths) measure(words, n);
    return 0;
}
