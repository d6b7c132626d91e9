// The language server on large documents, each iteration as a user meets it:
//   ChangeToDiagnostics/N   one character typed into line N/2 (and taken out
//                           again next time) until its diagnostics are out;
//                           goals: under 20 ms at 2,000 lines, under 100 ms
//                           at 20,000 lines
//   HoverAfterBurst/N       30 keystrokes arriving together, then a hover:
//                           the burst is analysed once; goal under 200 ms
//                           at 20,000 lines
//   Compile/N               the compiler alone on the same text, what the
//                           server's analysis is measured against
//   CompileWhole/N          the same, checking the text past a full image
//                           as the server must (at 20,000 lines the image
//                           is full before the end, where vexlc stops)
// Run with --benchmark_repetitions=5 for medians. "CPU" is the whole process
// (the compilation runs on a thread of its own).
#include <benchmark/benchmark.h>

#include <string>

#include "charset.h"
#include "compile.h"
#include "server.h"

using lsp::json;

namespace {

// Functions of 10 lines and a start that calls some: about `lines` lines.
std::string document(int lines) {
    std::string text;
    const int functions = lines / 10;
    for (int f = 0; f < functions; ++f) {
        std::string n = std::to_string(f);
        text += "function int f" + n + "(int a, int b) {\n"
                "  int i; int s;\n"
                "  s := 0;\n"
                "  for (i := 0; i < a; i := i + 1) {\n"
                "    if (i mod 2 = 0) { s := s + i * b; } else { s := s - 1; }\n"
                "  }\n"
                "  output \"結果\"; // 合計\n"
                "  output s;\n"
                "  return s;\n"
                "}\n";
    }
    text += "function void start() {\n  output f1(3, 4) + f" + std::to_string(functions - 1) + "(5, 6);\n}\n";
    return text;
}

const std::string kUri = "file:///bench.vxl";

struct Session {
    int published = 0;
    json last;
    lsp::Server server{[this](const json& m) {
        if (m.value("method", "") == "textDocument/publishDiagnostics") ++published;
        else last = m;
    }};
    int version = 1;
    void send(const json& m) { server.handle(m.dump()); }
    explicit Session(const std::string& text) {
        send({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "initialize"}, {"params", json::object()}});
        send({{"jsonrpc", "2.0"}, {"method", "textDocument/didOpen"},
              {"params", {{"textDocument", {{"uri", kUri}, {"languageId", "vexl"}, {"version", 1}, {"text", text}}}}}});
        server.idle();
    }
    // Types "x" at (line, character) or takes it out again.
    void keystroke(int line, int character, bool insert) {
        json start = {{"line", line}, {"character", character}};
        json end = {{"line", line}, {"character", insert ? character : character + 1}};
        send({{"jsonrpc", "2.0"}, {"method", "textDocument/didChange"},
              {"params", {{"textDocument", {{"uri", kUri}, {"version", ++version}}},
                          {"contentChanges", {{{"range", {{"start", start}, {"end", end}}}, {"text", insert ? "x" : ""}}}}}}});
    }
};

void ChangeToDiagnostics(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    Session s(document(lines));
    const int before = s.published;
    int changes = 0;
    const int line = lines / 2 / 10 * 10 + 2;  // a function's "int i; int s;"
    for (auto _ : state) {
        s.keystroke(line, 2, changes % 2 == 0);
        s.server.idle();
        ++changes;
    }
    if (s.published - before != changes) state.SkipWithError("a change went without diagnostics");
    state.counters["lines"] = lines;
}
BENCHMARK(ChangeToDiagnostics)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void HoverAfterBurst(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    Session s(document(lines));
    const int line = lines / 2 / 10 * 10 + 8;  // "  return s;"
    int id = 10;
    for (auto _ : state) {
        // 30 characters typed into a comment and taken out again (the text
        // ends as it began): what reaches the server before it can answer.
        for (int k = 0; k < 15; ++k) s.keystroke(line - 2, 20, true);
        for (int k = 0; k < 15; ++k) s.keystroke(line - 2, 20, false);
        s.send({{"jsonrpc", "2.0"}, {"id", ++id}, {"method", "textDocument/hover"},
                {"params", {{"textDocument", {{"uri", kUri}}}, {"position", {{"line", line}, {"character", 9}}}}}});
        if (!s.last["result"].is_object()) state.SkipWithError("no hover");
    }
    state.counters["lines"] = lines;
}
BENCHMARK(HoverAfterBurst)->Arg(20000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void Compile(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    const std::string text = charset::utf8_to_cp932(document(lines), ' ').bytes;
    for (auto _ : state) benchmark::DoNotOptimize(compile_source("bench.vxl", text).status);
    state.counters["lines"] = lines;
}
BENCHMARK(Compile)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void CompileWhole(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    const std::string text = charset::utf8_to_cp932(document(lines), ' ').bytes;
    CompileOptions options;
    options.check_past_full_image = true;
    for (auto _ : state) benchmark::DoNotOptimize(compile_source("bench.vxl", text, options).status);
    state.counters["lines"] = lines;
}
BENCHMARK(CompileWhole)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
