// Fuzz target comparing the two engines. An input is
//   byte 0            bits 0-5: n, the length of the program's standard input;
//                     bits 6-7: 0 or 1 the rest is an image (as for fuzz_vm),
//                     2 the rest drives the image generator of the machine
//                     tests (the compiler's sequences and faults), 3 an image
//                     run with an output limit and stats
//   next n bytes      standard input
//   the rest          the image, big-endian words, or the generator's choices
// The loop and the translating engine run it within a step cap, the
// translating one translating every address at once or after 1 or 3
// arrivals (by the input's length), so that runs switch between translated
// code and the loop, with its first tier alone and then with the second
// tier on (a region at every hot address it can take); any difference in
// output, error text, end, steps, registers, flags, data memory or stats
// is a finding.
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engines.h"

namespace {

constexpr std::uint64_t kMaxSteps = 2000;

// Choices read from the input bytes; zeros once they run out.
struct ByteChoices {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    unsigned below(unsigned n) {
        unsigned v = at < size ? data[at++] : 0;
        if (n > 256) v = (v << 8) | (at < size ? data[at++] : 0);
        return v % n;
    }
};

}  // namespace

// Each run makes two machines with 128 KiB of data memory each; from a
// heap that is neither mapped afresh nor trimmed they cost far less.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned mode = data[0] >> 6;
    std::size_t at = 1;
    std::size_t input_len = data[0] & 63;
    if (input_len > size - at) input_len = size - at;
    const std::string input(reinterpret_cast<const char*>(data + at), input_len);
    at += input_len;

    std::vector<vm::Word> words;
    if (mode == 2) {
        ByteChoices choices{data + at, size - at};
        vmtest::ImageGen<ByteChoices> gen{choices, {}, 0};
        words = gen.image();
    } else {
        words.resize((size - at) / 2);
        for (std::size_t i = 0; i < words.size(); ++i, at += 2)
            words[i] = vm::Word((data[at] << 8) | data[at + 1]);
    }

    vm::Limits limits{kMaxSteps};
    if (mode == 3) limits.max_output = input_len;  // any small room
    const bool stats = mode == 3;
    const auto ref = vmtest::observe(words, input, false, &limits, stats);
    static const unsigned kHot[] = {0, 1, 3};
    vm::native::set_hot_threshold(kHot[size % 3]);
    for (int tier = 1; tier <= 2; ++tier) {
        vm::native::force_tier(tier);
        const auto nat = vmtest::observe(words, input, true, &limits, stats);
        const std::string diff = vmtest::difference(*ref, *nat);
        if (!diff.empty()) {
            std::fprintf(stderr, "fuzz_native: tier %d differs from the loop in %s\n", tier, diff.c_str());
            std::abort();
        }
    }
    return 0;
}
