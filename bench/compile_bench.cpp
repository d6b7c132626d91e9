// Benchmark of a whole compilation: a program whose image fills nearly all
// of the 65,536 words, compiled in-process from source file to both output
// files. Reports the wall time per compilation (the compiler runs on a
// thread of its own) and the image size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver.h"
#include "streams.h"

namespace {

// Straight-line code in several functions (a statement list keeps its
// statements on the parser stack until it ends, so no list is too long),
// with loops, calls, arrays and output so every translation runs.
std::string big_program(int functions, int statements_per_function) {
    std::string s = "int total, table[64];\n";
    for (int f = 0; f < functions; ++f) {
        s += "function int part" + std::to_string(f) + "(int x) {\n    int i, y;\n    y := x;\n";
        for (int i = 0; i < statements_per_function; ++i) {
            switch (i % 4) {
            case 0: s += "    y := y + " + std::to_string(i) + " * x - table[" + std::to_string(i % 64) + "];\n"; break;
            case 1: s += "    if (y > 100 and x < 5) { y := y div 3; } else { y := y mod 7; }\n"; break;
            case 2: s += "    for (i := 0; i < 3; i := i + 1) { table[i] := table[i] + y; }\n"; break;
            default: s += "    total := total + y;\n"; break;
            }
        }
        s += "    return y;\n}\n";
    }
    s += "function void start() {\n    int r;\n    r := 0;\n";
    for (int f = 0; f < functions; ++f) s += "    r := r + part" + std::to_string(f) + "(" + std::to_string(f) + ");\n";
    s += "    output r + total;\n}\n";
    return s;
}

void BM_CompileFullImage(benchmark::State& state) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("vexl-compile-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::path source = dir / "big.vxl";
    // 25 functions of 56 statements: 65,441 of the 65,536 words.
    std::ofstream(source) << big_program(25, 56);
    std::string arg = source.string();
    const char* argv[] = {"vexlc", arg.c_str()};

    // The summary line would flood the terminal: send it to /dev/null.
    int saved = dup(2);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    int status = 0;
    for (auto _ : state) status = compile(2, argv);
    std::size_t words = word_stream.words().size();
    dup2(saved, 2);
    close(devnull);
    close(saved);

    state.counters["image_words"] = static_cast<double>(words);
    state.counters["status"] = status;
    fs::remove_all(dir);
    if (status != 0) state.SkipWithError("the benchmark program did not compile cleanly");
}
BENCHMARK(BM_CompileFullImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 4 MiB identifier, hundreds of times the scanner's input buffer: the
// time must grow in proportion to the token, not with its square.
void BM_CompileLongToken(benchmark::State& state) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("vexl-token-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::path source = dir / "long.vxl";
    const std::size_t length = static_cast<std::size_t>(state.range(0));
    std::ofstream(source) << "int " << std::string(length, 'n') << ";\nfunction void start() {\n}\n";
    std::string arg = source.string();
    const char* argv[] = {"vexlc", arg.c_str()};
    int saved = dup(2);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    for (auto _ : state) compile(2, argv);
    dup2(saved, 2);
    close(devnull);
    close(saved);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    fs::remove_all(dir);
}
BENCHMARK(BM_CompileLongToken)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
