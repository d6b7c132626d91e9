// vexl-proggen: writes the random program of a seed to standard output and,
// with --input FILE, the numbers it reads to FILE.
#include <cstdint>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "generator.h"

namespace {

int usage() {
    std::cerr << "usage: vexl-proggen SEED [--input FILE] [--functions N] [--budget N] [--mixed-globals]\n";
    return 2;
}

bool parse_number(const char* text, std::uint64_t& value) {
    if (*text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0' && text[0] != '-';
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 0;
    bool have_seed = false;
    std::string input_file;
    proggen::Options options;
    for (int i = 1; i < argc; ++i) {
        std::uint64_t n = 0;
        if (std::strcmp(argv[i], "--input") == 0 && i + 1 < argc) {
            input_file = argv[++i];
        } else if (std::strcmp(argv[i], "--functions") == 0 && i + 1 < argc && parse_number(argv[i + 1], n) && n <= 50) {
            options.max_functions = static_cast<int>(n);
            ++i;
        } else if (std::strcmp(argv[i], "--budget") == 0 && i + 1 < argc && parse_number(argv[i + 1], n) && n <= 1000000) {
            options.budget = static_cast<long>(n);
            ++i;
        } else if (std::strcmp(argv[i], "--mixed-globals") == 0) {
            options.mixed_global_order = true;
        } else if (!have_seed && parse_number(argv[i], seed)) {
            have_seed = true;
        } else {
            return usage();
        }
    }
    if (!have_seed) return usage();

    const proggen::Program program = proggen::generate(seed, options);
    std::cout << program.source;
    if (!input_file.empty()) {
        std::ofstream in(input_file, std::ios::binary);
        in << program.input;
        if (!in) {
            std::cerr << "vexl-proggen: cannot write " << input_file << "\n";
            return 1;
        }
    }
    return std::cout ? 0 : 1;
}
