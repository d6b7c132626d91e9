// One differential check: a generated program is compiled by vexlc, its
// image run on vexl and its C text compiled by the C compiler and run, both
// with the same input; the two outputs must be equal byte for byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "generator.h"

namespace differential {

namespace fs = std::filesystem;

struct Tools {
    std::string vexlc, vexl, cc;
};

struct Outcome {
    bool ok = false;
    std::string reason;  // why the check failed, one line
    fs::path saved;      // where the failing case was kept
};

// True when stderr of vexlc is exactly its summary line with no error and
// no warning (the text is in code page 932).
bool clean_summary(const std::string& err);

// Checks the program of one seed in dir (created, and removed again when the
// check passes). A failing case is kept in dir with both outputs and a
// report naming the seed.
Outcome check(std::uint64_t seed, const proggen::Program& program, const Tools& tools, const fs::path& dir);

}  // namespace differential
