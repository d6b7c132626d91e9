// The driver: output naming, the command line of vexlc run as a program
// (usage, the ".vxl" retry, unreadable inputs, exit statuses, which files
// are written or left alone, an output that cannot be created) and
// repeated in-process compilations. The error limit is a golden case.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "compile.h"
#include "driver.h"
#include "report.h"
#include "symbols.h"
#include "support.h"

using vexltest::read_file;
using vexltest::run_vexlc;
using vexltest::ProcessResult;
using vexltest::TempDir;
using vexltest::write_file;
namespace fs = std::filesystem;

namespace {

std::string summary(const std::string& name, int errors, int warnings) {
    return name + " - エラー "_sj + std::to_string(errors) + "、警告 "_sj + std::to_string(warnings) + "\n";
}
std::string illegal(int line, char byte) {
    return "エラー("_sj + std::to_string(line) + "): flex: 文字'"_sj + std::string(1, byte) + "'を無視します\n"_sj;
}
std::string fatal(const std::string& text) { return text + "\nコンパイルを中断します\n"_sj; }
const std::string kNoTree = "エラー(1): parse_tree: 構文木が正しく生成されていません\n"_sj;
const std::string kCantOpenInput = fatal("入力ファイルが開けません"_sj);
const std::string kTooManyErrors = fatal("エラーの数が100を超えました"_sj);

// The smallest complete program.
const std::string kProgram = "function void start() { }\n";

std::vector<std::string> listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(OutputNames, FromTheArgument) {
    const std::vector<std::array<std::string, 3>> cases = {
        {"prog.vxl", "prog.exec", "prog.c"},
        {"prog", "prog.exec", "prog.c"},
        {"a.vxl.txt", "a.exec.txt", "a.c.txt"},
        {"a.vxlx", "a.execx", "a.cx"},
        {"old.exec.vxl", "old.exec.exec", "old.exec.c"},
        {"my.vxlfile", "my.execfile", "my.cfile"},
        {"a.vxl.vxl", "a.vxl.exec", "a.vxl.c"},
        {"x.exec", "x.exec.exec", "x.exec.c"},
        {"dir.vxl/prog", "dir.exec/prog", "dir.c/prog"},
        {"dir/p.VXL", "dir/p.VXL.exec", "dir/p.VXL.c"},
        {"", ".exec", ".c"},
    };
    for (const auto& [argument, exec_name, c_name] : cases) {
        const OutputNames names = output_names(argument);
        EXPECT_EQ(names.exec_name, exec_name) << argument;
        EXPECT_EQ(names.c_name, c_name) << argument;
    }
}

TEST(Vexlc, UsageWithoutArgument) {
    TempDir dir;
    const ProcessResult r = run_vexlc({}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Usage: vexlc inputfile\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(listing(dir.path()), Names{});
}

TEST(Vexlc, CleanProgramWritesBothFiles) {
    TempDir dir;
    write_file(dir / "prog.vxl", kProgram);
    const ProcessResult r = run_vexlc({"prog.vxl", "ignored", "arguments"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, summary("prog.vxl", 0, 0));
    EXPECT_EQ(listing(dir.path()), (Names{"prog.c", "prog.exec", "prog.vxl"}));
    // an image is whole words
    EXPECT_EQ(read_file(dir / "prog.exec").size() % 2, 0u);
}

// When the argument cannot be opened, ".vxl" is appended and the summary
// names the file actually read; the outputs are named from the argument.
TEST(Vexlc, RetryWithVxlAppended) {
    TempDir dir;
    write_file(dir / "prog.vxl", kProgram + "#\n");
    ProcessResult r = run_vexlc({"prog"}, dir.path());
    EXPECT_EQ(r.err, illegal(2, '#') + summary("prog.vxl", 1, 0));
    EXPECT_EQ(r.status, 1);

    write_file(dir / "ok.vxl", kProgram);
    r = run_vexlc({"ok"}, dir.path());
    EXPECT_EQ(r.err, summary("ok.vxl", 0, 0));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(dir / "ok.exec"));
    EXPECT_TRUE(fs::exists(dir / "ok.c"));

    // appended even to a name that already ends in ".vxl"
    write_file(dir / "q.vxl.vxl", kProgram);
    r = run_vexlc({"q.vxl"}, dir.path());
    EXPECT_EQ(r.err, summary("q.vxl.vxl", 0, 0));
    EXPECT_TRUE(fs::exists(dir / "q.exec"));
    EXPECT_TRUE(fs::exists(dir / "q.c"));

    // the name as given wins when it exists
    write_file(dir / "both", kProgram + "$\n");
    write_file(dir / "both.vxl", kProgram);
    r = run_vexlc({"both"}, dir.path());
    EXPECT_EQ(r.err, illegal(2, '$') + summary("both", 1, 0));
}

TEST(Vexlc, UnreadableInputIsFatal) {
    TempDir dir;
    ProcessResult r = run_vexlc({"missing"}, dir.path());
    EXPECT_EQ(r.err, kCantOpenInput);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 255);
    // a directory is not a source file, neither as given nor with ".vxl"
    fs::create_directory(dir / "d");
    fs::create_directory(dir / "e.vxl");
    for (const char* name : {"d", "e", "e.vxl"}) {
        r = run_vexlc({name}, dir.path());
        EXPECT_EQ(r.err, kCantOpenInput) << name;
        EXPECT_EQ(r.status, 255) << name;
    }
    EXPECT_EQ(listing(dir.path()), (Names{"d", "e.vxl"}));
}

// Errors: everything is listed, the status is 1, and outputs of an
// earlier compilation stay exactly as they were.
TEST(Vexlc, ErrorsLeaveOutputsAlone) {
    TempDir dir;
    write_file(dir / "prog.vxl", kProgram + std::string("\0\x80\r\n#\r", 6));
    write_file(dir / "prog.exec", "old image");
    write_file(dir / "prog.c", "old text");
    const ProcessResult r = run_vexlc({"prog.vxl"}, dir.path());
    EXPECT_EQ(r.err, illegal(2, '\0') + illegal(2, '\x80') + illegal(3, '#') + illegal(3, '\r') +
                         summary("prog.vxl", 4, 0));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "prog.exec"), "old image");
    EXPECT_EQ(read_file(dir / "prog.c"), "old text");
}

// Nesting that fills the parser's stacks ends as a missing tree, not a
// crash; the exact limit is a parser test.
TEST(Vexlc, FullParserStackIsNoTree) {
    TempDir dir;
    write_file(dir / "deep.vxl",
               "function void start() { x := " + std::string(12000, '(') + "1" + std::string(12000, ')') + "; }");
    const ProcessResult r = run_vexlc({"deep.vxl"}, dir.path());
    EXPECT_EQ(r.err, kNoTree + summary("deep.vxl", 1, 0));
    EXPECT_EQ(r.status, 1);
}

// The summary line is already out when the image cannot be created; the
// list is printed again before the fatal text, and the C file is not tried.
TEST(Vexlc, OutputThatCannotBeCreated) {
    TempDir dir;
    const std::string source = kProgram + "function void " + std::string(40, 'l') + "() { }\n";
    write_file(dir / "prog.vxl", source);
    fs::create_directory(dir / "prog.exec");
    ProcessResult r = run_vexlc({"prog.vxl"}, dir.path());
    EXPECT_EQ(r.status, 255);
    const std::string tail = fatal("出力ファイル(prog.exec)が開けません"_sj);
    const std::size_t at = r.err.find("prog.vxl - エラー 0、警告 "_sj);
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string list = r.err.substr(0, at);
    const std::string after = r.err.substr(r.err.find('\n', at) + 1);
    EXPECT_NE(list.find("識別子が32字以上です"_sj), std::string::npos);
    EXPECT_EQ(after, list + tail);
    EXPECT_FALSE(fs::exists(dir / "prog.c"));

    // the C file in the way: the image has been written already
    fs::remove(dir / "prog.exec");
    fs::create_directory(dir / "prog.c");
    r = run_vexlc({"prog.vxl"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err.substr(r.err.size() - fatal("出力ファイル(prog.c)が開けません"_sj).size()),
              fatal("出力ファイル(prog.c)が開けません"_sj));
    EXPECT_TRUE(fs::is_regular_file(dir / "prog.exec"));
}

// An image beyond 65,536 words ends the compilation during translation: the
// list, then the fatal text with 65535; no summary and no files. (A few
// thousand statements of eight terms give several times that many words.)
TEST(Vexlc, ImageBeyondItsLimitIsFatal) {
    TempDir dir;
    std::string body;
    for (int i = 0; i < 3000; ++i) body += "x := 1 + 1 + 1 + 1 + 1 + 1 + 1 + 1;\n";
    write_file(dir / "big.vxl", "function void start() {\nint x;\n" + body + "output x;\n}\n");
    write_file(dir / "big.exec", "old image");
    const ProcessResult r = run_vexlc({"big.vxl"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, fatal("エラーの数が65535を超えました"_sj));
    EXPECT_EQ(listing(dir.path()), (Names{"big.exec", "big.vxl"}));
    EXPECT_EQ(read_file(dir / "big.exec"), "old image");
}

// Nesting without limit in the grammar: a chain of operators tens of
// thousands long (only the parser's stack bounds other nesting) cannot fit
// in the image; it ends with the image-limit fatal instead of exhausting
// the compiler's stack, also inside call arguments where no word is
// emitted at first.
TEST(Vexlc, EndlessOperatorChainIsTheImageLimit) {
    TempDir dir;
    std::string chain = "1";
    for (int i = 0; i < 200000; ++i) chain += i % 2 ? " + 1" : " - 1";
    write_file(dir / "deep.vxl", "function int f(int a) { return a; }\n"
                                 "function void start() {\nint x;\nx := f(" + chain + ");\noutput x;\n}\n");
    const ProcessResult r = run_vexlc({"deep.vxl"}, dir.path());
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, fatal("エラーの数が65535を超えました"_sj));
    EXPECT_EQ(listing(dir.path()), (Names{"deep.vxl"}));
}

// Calls nested as deep as the parser allows compile, each checked once: a
// call inside another call's first (words off) translation does not
// translate its arguments a second time, which would cost 2^depth.
TEST(Vexlc, DeeplyNestedCallsCompile) {
    TempDir dir;
    const int depth = 2400;
    std::string call = "1";
    for (int i = 0; i < depth; ++i) call = "f(" + call + ")";
    write_file(dir / "calls.vxl", "function int f(int a) { return a + 1; }\n"
                                  "function void start() {\noutput " + call + ";\n}\n");
    const ProcessResult r = run_vexlc({"calls.vxl"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, summary("calls.vxl", 0, 0));
    // Each call: its argument, CALL, LDI, ADD and the PUSH of its value.
    const std::string image = read_file(dir / "calls.exec");
    std::size_t calls = 0;
    for (std::size_t i = 0; i + 1 < image.size(); i += 2)
        if (static_cast<unsigned char>(image[i]) == 0x80 && image[i + 1] == 0x03) ++calls;
    EXPECT_EQ(calls, static_cast<std::size_t>(depth) + 1);  // and start's own call
}

// compile() can run several times in one process: nothing of one
// compilation (diagnostics, line numbers, scanner state, tree) leaks into
// the next, not even after a fatal error in the middle of a comment.
TEST(Compile, RepeatedInProcess) {
    TempDir dir;
    const std::string bad = (dir / "bad.vxl").string(), good = (dir / "good.vxl").string();
    std::string source = "int a;\n";
    for (int i = 0; i < 100; ++i) source += "#";
    write_file(bad, source + "\n/* never closed");
    write_file(good, kProgram);
    const char* bad_argv[] = {"vexlc", bad.c_str()};
    const char* good_argv[] = {"vexlc", good.c_str()};

    testing::internal::CaptureStderr();
    EXPECT_EQ(compile(2, bad_argv), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.substr(err.size() - kTooManyErrors.size()), kTooManyErrors);
    EXPECT_NE(err.find("エラー(3): flex: コメント終端の前にEOFが検出されました\n"_sj), std::string::npos);

    testing::internal::CaptureStderr();
    EXPECT_EQ(compile(2, good_argv), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), summary(good, 0, 0));

    write_file(good, "function void start()\n{\n}\n#");
    testing::internal::CaptureStderr();
    EXPECT_EQ(compile(2, good_argv), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), illegal(4, '#') + summary(good, 1, 0));

    testing::internal::CaptureStdout();
    EXPECT_EQ(compile(1, good_argv), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Usage: vexlc inputfile\n");
}

// The command line: --help and --version, GNU-style complaints (status 2,
// nothing compiled), "--" before a file name starting with '-'.
TEST(Vexlc, CommandLine) {
    TempDir dir;
    ProcessResult r = run_vexlc({"--help"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: vexlc [OPTION]... FILE\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n  --version "), std::string::npos) << r.out;
    r = run_vexlc({"--version"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("vexlc ", 0), 0u);

    write_file(dir / "-x.vxl", kProgram);
    for (const auto& [args, complaint] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-x.vxl"}, "unrecognized option '-x.vxl'"},
             {{"--help=yes"}, "option '--help' doesn't allow an argument"},
             {{"--"}, "missing file operand"}}) {
        r = run_vexlc(args, dir.path());
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "vexlc: " + complaint + "\nTry 'vexlc --help' for more information.\n");
    }
    EXPECT_EQ(listing(dir.path()), Names{"-x.vxl"});
    r = run_vexlc({"--", "-x"}, dir.path());  // and ".vxl" is still tried
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, summary("-x.vxl", 0, 0));
}

// The in-memory compilation: structured diagnostics in both charsets, the
// words and C text, and the inspection hook; no file anywhere.
TEST(Compile, InMemory) {
    CompileOptions options;
    int inspected = 0;
    options.inspect = [&](const program* root, const MapManager& symbols) {
        EXPECT_NE(root, nullptr);
        EXPECT_NE(const_cast<MapManager&>(symbols).find_function("start"), nullptr);
        ++inspected;
    };
    const CompileResult r = compile_source("m.vxl", "function void start() {\r\n output 1; x := 2; }\r\n", options);
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.diagnostics.size(), 1u);
    const Diagnostic& d = r.diagnostics[0];
    EXPECT_EQ(d.line, 2);
    EXPECT_FALSE(d.warning);
    EXPECT_EQ(d.node, "assignment");
    EXPECT_EQ(d.class_name(), "VariableNotDeclared");
    EXPECT_EQ(diagnostic_text(d, catalog::Charset::utf8), "変数'x'は宣言されていません");
    EXPECT_EQ(report(r, {}, {}), "エラー(2): assignment: 変数'x'は宣言されていません\nm.vxl - エラー 1、警告 0\n"_sj);
    EXPECT_EQ(summary_line(r, catalog::Charset::utf8), "m.vxl - エラー 1、警告 0\n");
    EXPECT_FALSE(r.words.empty());
    EXPECT_NE(r.c_text.find("printf(\"%d\",1);\n"), std::string::npos);
    EXPECT_EQ(inspected, 1);

    // Without the C translation: the same diagnostics and words, and the
    // next compilation has its C text again.
    CompileOptions no_c;
    no_c.no_c_text = true;
    const CompileResult quiet = compile_source("m.vxl", "function void start() {\r\n output 1; x := 2; }\r\n", no_c);
    EXPECT_EQ(report(quiet, {}, {}), report(r, {}, {}));
    EXPECT_EQ(quiet.words, r.words);
    EXPECT_EQ(quiet.c_text, "");
    EXPECT_NE(compile_source("m.vxl", "function void start() { output 1; }").c_text.find("printf(\"%d\",1);\n"),
              std::string::npos);

    const CompileResult stopped = compile_source("s.vxl", std::string(101, '#'));
    EXPECT_EQ(stopped.status, -1);
    ASSERT_TRUE(stopped.fatal);
    EXPECT_EQ(plain_fatal(*stopped.fatal, catalog::Charset::utf8), "エラーの数が100を超えました\nコンパイルを中断します\n");
    EXPECT_EQ(stopped.error_count, 101);
}

// Each diagnostic names its token: line, first column and end (bytes), the
// earlier declaration of a duplicate, the declaration of an unused
// variable (whose printed line stays the closing brace), and where the
// parser noticed a syntax error for the missing tree.
TEST(Compile, DiagnosticsNameTheirTokens) {
    const CompileResult r = compile_source("t.vxl",
                                           "int g;\n"                                  // 1
                                           "function void start() {\n"                 // 2
                                           "  int x; int h; int h;\n"                  // 3
                                           "  output y + 1;  output 1 + true; #\n"     // 4
                                           "}\n");
    auto span_of = [&](std::string_view cls) {
        for (const Diagnostic& d : r.diagnostics)
            if (d.class_name() == cls) return d;
        ADD_FAILURE() << cls;
        return Diagnostic{};
    };
    const Diagnostic dup = span_of("var_AlreadyDec");
    EXPECT_EQ(std::tuple(dup.span.line, dup.span.column, dup.span.end_column()), std::tuple(3, 21, 22));
    EXPECT_EQ(std::tuple(dup.related.line, dup.related.column), std::tuple(3, 14));
    const Diagnostic undeclared = span_of("VariableNotDeclared");
    EXPECT_EQ(std::tuple(undeclared.span.line, undeclared.span.column, undeclared.span.length), std::tuple(4, 10, 1u));
    const Diagnostic op = span_of("OperandNotOfType");
    EXPECT_EQ(std::tuple(op.span.line, op.span.column), std::tuple(4, 27));
    const Diagnostic illegal = span_of("IllegalCharacter");
    EXPECT_EQ(std::tuple(illegal.span.line, illegal.span.column, illegal.span.offset), std::tuple(4, 35, 88u));
    const Diagnostic unused = span_of("UnusedVariable");
    EXPECT_EQ(unused.line, 5);
    EXPECT_EQ(std::tuple(unused.span.line, unused.span.column, unused.span.end_column()), std::tuple(3, 7, 8));

    const CompileResult broken = compile_source("b.vxl", "function void start() {\n  output 1;\n}\nfunction void\n");
    const Diagnostic& bad = broken.diagnostics.back();
    ASSERT_EQ(bad.class_name(), "BadTree");
    EXPECT_EQ(bad.line, 1);
    EXPECT_EQ(std::tuple(bad.span.line, bad.span.column), std::tuple(5, 1));  // the end

    // An image over its limit names the statement that crossed it.
    std::string big = "function void start() {\n";
    for (int i = 0; i < 3000; ++i) big += "  output 1 + 2 + 3 + 4 + 5 + 6 + 7 + 8;\n";
    const CompileResult huge = compile_source("h.vxl", big + "}\n");
    ASSERT_TRUE(huge.fatal);
    EXPECT_GT(huge.fatal->span.line, 100);
    EXPECT_LT(huge.fatal->span.line, 3000);
}
