// Fuzz target for the machine. An input is
//   byte 0            n: the length of the program's standard input (n mod 64)
//   next n bytes      standard input
//   the rest          the image, big-endian words (an odd last byte is dropped)
// The image runs in-process with a step cap on string streams. The code
// array is sized exactly, so AddressSanitizer sees any read past the image.
// Checks after each run:
//   - the error stream is empty, or exactly one "Error:" line for an
//     illegal memory access, an illegal operation or a zero divide;
//   - the run result agrees with that line;
//   - after an error line the output ends with the four-line register dump,
//     and the dump shows the machine's state.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"

namespace {

// Enough for every seed program to finish; endless loops stop here.
constexpr std::uint64_t kMaxSteps = 2000;

[[noreturn]] void violation(const char* what, const std::string& out, const std::string& err) {
    std::fprintf(stderr, "fuzz_vm: %s\n--- standard error:\n%s\n--- end of output:\n%s\n", what, err.c_str(),
                 out.substr(out.size() > 400 ? out.size() - 400 : 0).c_str());
    std::abort();
}

// The dump as it must look; '#' stands for one lowercase hexadecimal digit.
const std::string kDumpPattern =
    "Debug Information\n"
    "GR0:0x#### GR1:0x#### GR2:0x#### GR3:0x####\n"
    "GR4:0x#### bp :0x#### sp :0x####\n"
    "pc :0x#### SF :0x#### ZF :0x####\n";

bool matches_dump_layout(const std::string& tail) {
    if (tail.size() != kDumpPattern.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char c = tail[i];
        if (kDumpPattern[i] == '#') {
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
        } else if (c != kDumpPattern[i]) {
            return false;
        }
    }
    return true;
}

std::string expected_dump(const vm::Machine& m) {
    char text[256];
    const auto& r = m.registers();
    std::snprintf(text, sizeof text,
                  "Debug Information\nGR0:0x%04x GR1:0x%04x GR2:0x%04x GR3:0x%04x\n"
                  "GR4:0x%04x bp :0x%04x sp :0x%04x\npc :0x%04x SF :0x%04x ZF :0x%04x\n",
                  r[0], r[1], r[2], r[3], r[4], r[5], r[6], m.pc(), unsigned(m.sign_flag()),
                  unsigned(m.zero_flag()));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    std::size_t input_len = size > 0 ? data[at++] % 64 : 0;
    if (input_len > size - at) input_len = size - at;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data + at), input_len));
    at += input_len;

    std::vector<vm::Word> words((size - at) / 2);
    for (std::size_t i = 0; i < words.size(); ++i, at += 2)
        words[i] = vm::Word((data[at] << 8) | data[at + 1]);

    std::ostringstream out, err;
    vm::Machine machine(in, out, err);
    machine.load(std::move(words));
    const vm::RunResult result = machine.execute_capped(kMaxSteps);
    const std::string o = out.str(), e = err.str();

    if (result.steps > kMaxSteps) violation("more steps than the cap", o, e);
    if (e.empty()) {
        if (result.end == vm::RunResult::End::fault) violation("fault without an error line", o, e);
        return 0;
    }
    if (result.end != vm::RunResult::End::fault) violation("error line without a fault", o, e);
    if (e != "Error:Illegal memory access\n" && e != "Error:Illegal Operation\n" &&
        e != "Error:Zero Divide Error\n")
        violation("unexpected text on the error stream", o, e);
    if (e != std::string("Error:") + vm::fault_text(result.fault) + "\n")
        violation("error line does not match the fault", o, e);
    if (o.size() < kDumpPattern.size() || !matches_dump_layout(o.substr(o.size() - kDumpPattern.size())))
        violation("output does not end with the register dump", o, e);
    if (!o.ends_with(expected_dump(machine))) violation("the dump does not show the machine's state", o, e);
    return 0;
}
