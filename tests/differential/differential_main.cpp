// differential_test: checks the generated programs of a range of seeds
// (differential.h) on a few threads and prints one line per failing seed and
// a summary. Exit status 0 when every program passed, 1 otherwise, 2 on a
// usage error.
//
//   differential_test [--count N] [--first-seed S] [--jobs J] [--work DIR]
//                     [--vexlc PATH] [--vexl PATH] [--cc PATH] [--mixed-globals]
//
// --mixed-globals lets the generator declare uninitialised globals after
// initialised ones (see proggen::Options).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "differential.h"
#include "generator.h"

namespace {

bool parse_count(const char* text, std::uint64_t& value) {
    if (*text == '\0' || *text == '-') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0';
}

int usage() {
    std::cerr << "usage: differential_test [--count N] [--first-seed S] [--jobs J] [--work DIR]\n"
                 "                         [--vexlc PATH] [--vexl PATH] [--cc PATH] [--mixed-globals]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t count = 100, first = 1, jobs = 2;
    differential::Tools tools{VEXL_VEXLC, VEXL_VEXL, VEXL_CC};
    differential::fs::path work = VEXL_DIFF_WORK;
    proggen::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--mixed-globals") {
            options.mixed_global_order = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        const char* v = argv[++i];
        if (a == "--count") {
            if (!parse_count(v, count)) return usage();
        } else if (a == "--first-seed") {
            if (!parse_count(v, first)) return usage();
        } else if (a == "--jobs") {
            if (!parse_count(v, jobs) || jobs == 0 || jobs > 64) return usage();
        } else if (a == "--work") {
            work = v;
        } else if (a == "--vexlc") {
            tools.vexlc = v;
        } else if (a == "--vexl") {
            tools.vexl = v;
        } else if (a == "--cc") {
            tools.cc = v;
        } else {
            return usage();
        }
    }
    // The work folder belongs to this program: what an earlier run left
    // there (its failing cases) is cleared so that it shows this run only.
    std::error_code ec;
    differential::fs::remove_all(work, ec);
    differential::fs::create_directories(work, ec);
    if (ec) {
        std::cerr << "differential_test: cannot create " << work << ": " << ec.message() << "\n";
        return 2;
    }

    std::atomic<std::uint64_t> next{0};
    std::mutex lock;
    std::vector<std::uint64_t> failed;
    auto worker = [&] {
        for (std::uint64_t i; (i = next++) < count;) {
            const std::uint64_t seed = first + i;
            const proggen::Program program = proggen::generate(seed, options);
            const auto outcome =
                differential::check(seed, program, tools, work / ("seed-" + std::to_string(seed)));
            if (outcome.ok) continue;
            std::lock_guard<std::mutex> guard(lock);
            failed.push_back(seed);
            std::cout << "seed " << seed << ": " << outcome.reason << "\n    case kept in " << outcome.saved.string()
                      << std::endl;
        }
    };
    std::vector<std::thread> threads;
    for (std::uint64_t j = 0; j < jobs; ++j) threads.emplace_back(worker);
    for (auto& t : threads) t.join();

    std::cout << "differential: " << count << " programs (seeds " << first << " to " << first + count - 1 << "), "
              << failed.size() << " failed" << std::endl;
    if (!failed.empty()) {
        std::sort(failed.begin(), failed.end());
        std::cout << "failing seeds:";
        for (auto s : failed) std::cout << " " << s;
        std::cout << std::endl;
    }
    return failed.empty() ? 0 : 1;
}
