// Sources in UTF-8 (--input-charset=utf-8) and diagnostics in UTF-8.
#include <gtest/gtest.h>

#include "compile.h"
#include "report.h"

namespace {

const char kUtf8[] = "function void start() {\n  output \"\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1\xE2\x91\xA0\";\n}\n";
const char kCp932[] = "function void start() {\n  output \"\x93\xFA\x96\x7B\xB1\x87\x40\";\n}\n";

CompileOptions utf8_input() {
    CompileOptions o;
    o.input_charset = "utf-8";
    return o;
}

}  // namespace

// The image and the C text are those of the same program saved in CP932.
TEST(InputCharset, Utf8SourceCompilesAsItsCp932Form) {
    const CompileResult a = compile_source("a.vxl", kUtf8, utf8_input());
    const CompileResult b = compile_source("b.vxl", kCp932);
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(a.words, b.words);
    EXPECT_EQ(a.c_text, b.c_text);
}

// A character without a CP932 form is one error of its line, however many
// it holds; CR LF line ends count as in CP932 sources.
TEST(InputCharset, CharacterWithoutCp932FormIsAnErrorOfItsLine) {
    const CompileResult r = compile_source(
        "a.vxl", "function void start() {\r\n  output 1; // \xF0\x9F\x8E\x89\xE2\x98\x83\r\n}\r\n", utf8_input());
    ASSERT_EQ(r.diagnostics.size(), 1u);
    EXPECT_EQ(r.diagnostics[0].line, 2);
    EXPECT_EQ(r.diagnostics[0].class_name(), "UnconvertibleCharacter");
    EXPECT_EQ(r.status, 1);
}

// Quoted source bytes: printable ASCII as it is, anything else as \xHH.
TEST(DiagnosticsCharset, IllegalBytesAreQuotedInUtf8) {
    const CompileResult r = compile_source("a.vxl", "function void start() { output 1; } # \x82\xA0\x7F");
    ASSERT_EQ(r.diagnostics.size(), 4u);
    EXPECT_EQ(diagnostic_text(r.diagnostics[0], catalog::Charset::utf8), "文字'#'を無視します");
    EXPECT_EQ(diagnostic_text(r.diagnostics[1], catalog::Charset::utf8), "文字'\\x82'を無視します");
    EXPECT_EQ(diagnostic_text(r.diagnostics[2], catalog::Charset::utf8), "文字'\\xA0'を無視します");
    EXPECT_EQ(diagnostic_text(r.diagnostics[3], catalog::Charset::utf8), "文字'\\x7F'を無視します");
    EXPECT_EQ(diagnostic_text(r.diagnostics[1], catalog::Charset::cp932), catalog::format(r.diagnostics[1].id, r.diagnostics[1].values));
}
