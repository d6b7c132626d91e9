// vexlc -g on every golden and example source: the image and the C text are
// byte-identical to a compilation without it, the debug file is written
// exactly when they are (a failed compilation leaves an old one alone), and
// it reads back as a description of that very image.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "debuginfo.h"
#include "driver.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using vexltest::read_file;

// Compiles in-process with standard error silenced (the diagnostics are
// the golden runner's business).
void compile_quietly(std::vector<std::string> args) {
    std::vector<const char*> argv{"vexlc"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    compile(static_cast<int>(argv.size()), argv.data());
    std::fflush(stderr);
    dup2(saved, 2);
    close(null);
    close(saved);
}

std::vector<fs::path> all_sources() {
    std::vector<fs::path> sources;
    for (const char* dir : {VEXL_GOLDEN_COMPILER_DIR, VEXL_EXAMPLES_DIR})
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().extension() == ".vxl") sources.push_back(e.path());
    std::sort(sources.begin(), sources.end());
    return sources;
}

TEST(CompileWithDebugInfo, SameOutputsAndAMatchingDebugFile) {
    const vexltest::TempDir scratch;
    const fs::path tmp = scratch / "work";
    const std::vector<fs::path> sources = all_sources();
    ASSERT_GT(sources.size(), 20u);
    int with_outputs = 0;
    for (const fs::path& src : sources) {
        SCOPED_TRACE(src.string());
        fs::remove_all(tmp);
        const fs::path plain = tmp / "plain", debug = tmp / "debug";
        fs::create_directories(plain);
        fs::create_directories(debug);
        fs::copy_file(src, plain / "prog.vxl");
        fs::copy_file(src, debug / "prog.vxl");
        // A debug file from an earlier compilation.
        std::ofstream(debug / "prog.dbg") << "old\n";

        compile_quietly({(plain / "prog.vxl").string()});
        compile_quietly({"-g", (debug / "prog.vxl").string()});

        const bool written = fs::exists(plain / "prog.exec");
        ASSERT_EQ(fs::exists(debug / "prog.exec"), written);
        if (!written) {
            EXPECT_EQ(read_file(debug / "prog.dbg"), "old\n");
            continue;
        }
        ++with_outputs;
        const std::string exec = read_file(plain / "prog.exec");
        EXPECT_EQ(read_file(debug / "prog.exec"), exec);
        EXPECT_EQ(read_file(debug / "prog.c"), read_file(plain / "prog.c"));

        const auto r = debuginfo::read(read_file(debug / "prog.dbg"));
        ASSERT_TRUE(r.info) << r.error;
        std::istringstream bytes(exec);
        EXPECT_TRUE(r.info->matches(image::read_words(bytes)));
        EXPECT_EQ(r.info->source, (debug / "prog.vxl").string());
        const std::string text = read_file(src);
        const int source_lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
        for (const auto& e : r.info->lines) EXPECT_LE(e.line, source_lines);
        for (const auto& f : r.info->functions) EXPECT_GT(r.info->line_at(f.entry), 0) << f.name;

        // The instructions themselves: every RET a function's code holds
        // is one of its recorded returns; its header line holds the
        // `function` keyword and its name comes after it.
        std::istringstream again(exec);
        const std::vector<image::Word> words = image::read_words(again);
        std::vector<std::string> lines;
        std::istringstream source(text);
        for (std::string l; std::getline(source, l);) lines.push_back(l);
        for (const auto& f : r.info->functions) {
            std::vector<image::Word> rets;
            for (std::size_t pc = f.entry; pc < f.end;) {
                if (image::opcode_of(words[pc]) == image::RET) rets.push_back(image::Word(pc));
                pc += std::max<std::size_t>(1, image::instruction_length(words.data(), words.size(), pc));
            }
            EXPECT_EQ(f.returns, rets) << f.name;
            ASSERT_GE(f.header, 1);
            ASSERT_LE(f.header, static_cast<int>(lines.size()));
            EXPECT_NE(lines[std::size_t(f.header) - 1].find("function"), std::string::npos) << f.name;
        }
    }
    EXPECT_GT(with_outputs, 20);
}

}  // namespace
