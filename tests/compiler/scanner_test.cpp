// The scanner on its own, where the golden cases under compiler/scanner
// cannot reach: token codes, longest match, every byte value, edges of
// comments and literals, line counting (including the text-mode reading of
// carriage returns) and buffer refills. Token values are checked through
// the parse tree in parser_test.cpp.
#include <gtest/gtest.h>


#include <cstdio>
#include <cstdlib>

#include <string>
#include <vector>

#include "frontend.h"
#include "driver.h"
#include "support.h"

using vexltest::scan;
using vexltest::ScanResult;

namespace {

// Token codes the parser relies on (characters stand for themselves).
enum : int {
    NUMBER = 257, BOOLEAN = 258, IDENT = 259, STRING = 260, TYPE = 261,
    CONST = 265, FUNCTION = 266, RETURN = 267, IF = 268, ELSE = 269, WHILE = 270, DO = 271,
    FOR = 272, BREAK = 273, CONTINUE = 274, INPUT = 275, OUTPUT = 276, ASSIGN = 277,
    AND = 278, OR = 279, XOR = 280, NE = 281, LE = 282, GE = 283, DIV = 284, MOD = 285, NOT = 287
};

std::string illegal(int line, char byte) {
    return "エラー("_sj + std::to_string(line) + "): flex: 文字'"_sj + std::string(1, byte) + "'を無視します\n"_sj;
}
std::string large_integer(int line) {
    return "警告("_sj + std::to_string(line) + "): flex: 32767より大きい整数値が使われています(バイナリコードが不正です)\n"_sj;
}
std::string long_identifier(int line) {
    return "警告("_sj + std::to_string(line) + "): flex: 識別子が32字以上です(Cソース不正です)\n"_sj;
}
std::string unterminated_comment(int line) {
    return "エラー("_sj + std::to_string(line) + "): flex: コメント終端の前にEOFが検出されました\n"_sj;
}

using Codes = std::vector<int>;

}  // namespace

TEST(Scanner, EveryTokenHasItsCode) {
    const ScanResult r = scan(
        "void int bool const function return if else while do for break continue input output "
        ":= and or xor >< <= >= div mod not & ( ) * + , - ; < = > [ ] { } 0 12 true false x \"s\"");
    EXPECT_EQ(r.codes(), (Codes{TYPE, TYPE, TYPE, CONST, FUNCTION, RETURN, IF, ELSE, WHILE, DO, FOR, BREAK,
                                CONTINUE, INPUT, OUTPUT, ASSIGN, AND, OR, XOR, NE, LE, GE, DIV, MOD, NOT,
                                '&', '(', ')', '*', '+', ',', '-', ';', '<', '=', '>', '[', ']', '{', '}',
                                NUMBER, NUMBER, BOOLEAN, BOOLEAN, IDENT, STRING}));
    EXPECT_EQ(r.diagnostics, "");
}

TEST(Scanner, KeywordsAreWholeLowerCaseWords) {
    const ScanResult r = scan("If int2 done do _x1 1x trueish false_ Void INT doo do\twhile");
    EXPECT_EQ(r.codes(), (Codes{IDENT, IDENT, IDENT, DO, IDENT, NUMBER, IDENT, IDENT, IDENT, IDENT, IDENT,
                                IDENT, DO, WHILE}));
    EXPECT_EQ(r.diagnostics, "");
}

TEST(Scanner, OperatorsTakeTheLongestMatch) {
    EXPECT_EQ(scan("a><b").codes(), (Codes{IDENT, NE, IDENT}));
    EXPECT_EQ(scan("a<>b").codes(), (Codes{IDENT, '<', '>', IDENT}));
    EXPECT_EQ(scan("x:=1").codes(), (Codes{IDENT, ASSIGN, NUMBER}));
    EXPECT_EQ(scan("<==").codes(), (Codes{LE, '='}));
    EXPECT_EQ(scan("><=").codes(), (Codes{NE, '='}));
    EXPECT_EQ(scan("<>=").codes(), (Codes{'<', GE}));
    EXPECT_EQ(scan("=<").codes(), (Codes{'=', '<'}));
    EXPECT_EQ(scan("--1").codes(), (Codes{'-', '-', NUMBER}));
}

TEST(Scanner, ColonAndSlashAloneAreIllegal) {
    ScanResult r = scan("a : b / c\n: =");
    EXPECT_EQ(r.codes(), (Codes{IDENT, IDENT, IDENT, '='}));
    EXPECT_EQ(r.diagnostics, illegal(1, ':') + illegal(1, '/') + illegal(2, ':'));
}

// Every byte value on its own: the token bytes give their token, blanks
// and the newline nothing, and every other byte (NUL, CR, all bytes from
// 0x80) one error that carries the byte itself.
TEST(Scanner, EveryOtherByteIsReportedUnchanged) {
    const std::string single = "&()*+,-;<=>[]{}";
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const ScanResult r = scan(std::string(1, c));
        SCOPED_TRACE("byte " + std::to_string(b));
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') {
            EXPECT_EQ(r.codes(), (Codes{IDENT}));
            EXPECT_EQ(r.diagnostics, "");
        } else if (c >= '0' && c <= '9') {
            EXPECT_EQ(r.codes(), (Codes{NUMBER}));
            EXPECT_EQ(r.diagnostics, "");
        } else if (single.find(c) != std::string::npos) {
            EXPECT_EQ(r.codes(), (Codes{b}));
            EXPECT_EQ(r.diagnostics, "");
        } else if (c == ' ' || c == '\t' || c == '\n') {
            EXPECT_EQ(r.codes(), Codes{});
            EXPECT_EQ(r.diagnostics, "");
        } else {
            EXPECT_EQ(r.codes(), Codes{});
            EXPECT_EQ(r.diagnostics, illegal(1, c));
        }
    }
}

TEST(Scanner, IllegalBytesDoNotStopTheScan) {
    const ScanResult r = scan(std::string("a\0b\x80\xff" "c\f\vd", 9));
    EXPECT_EQ(r.codes(), (Codes{IDENT, IDENT, IDENT, IDENT}));
    EXPECT_EQ(r.diagnostics, illegal(1, '\0') + illegal(1, '\x80') + illegal(1, '\xff') + illegal(1, '\f') +
                                 illegal(1, '\v'));
}

// Shift-JIS is not decoded: a lead byte is illegal and its second byte is
// scanned on its own.
TEST(Scanner, ShiftJisOutsideTextsIsScannedBytewise) {
    // katakana A (83 41): the second byte is the letter A
    ScanResult r = scan("x\x83\x41y");
    EXPECT_EQ(r.codes(), (Codes{IDENT, IDENT}));
    EXPECT_EQ(r.diagnostics, illegal(1, '\x83'));
    // long vowel mark (81 5B): the second byte is "["
    r = scan("\x81\x5B");
    EXPECT_EQ(r.codes(), (Codes{'['}));
    EXPECT_EQ(r.diagnostics, illegal(1, '\x81'));
    // hiragana a (82 A0): both bytes are illegal
    r = scan("\x82\xA0");
    EXPECT_EQ(r.codes(), Codes{});
    EXPECT_EQ(r.diagnostics, illegal(1, '\x82') + illegal(1, '\xA0'));
    // inside comments and literals nothing is reported
    r = scan("/* \x82\xA0 */ // \x83\x41\x82\xA0\n\"\x82\xA0\x83\x41\"");
    EXPECT_EQ(r.codes(), (Codes{STRING}));
    EXPECT_EQ(r.diagnostics, "");
}

// The golden case scanner/strings shows the literals; this is the one
// thing it cannot: a Shift-JIS character whose second byte is a backslash
// (0x5C) does not escape the closing quote.
TEST(Scanner, ShiftJisBackslashInAString) {
    EXPECT_EQ(scan("\"\x83\x5C\";").codes(), (Codes{STRING, ';'}));
    EXPECT_EQ(scan("\"\x83\x5C\"; \"x\"").codes(), (Codes{STRING, IDENT}));
}

// Comment edges beyond the golden case scanner/comments.
TEST(Scanner, CommentEdges) {
    EXPECT_EQ(scan("/**/x/***/").codes(), (Codes{IDENT}));
    EXPECT_EQ(scan("a/*//*/b").codes(), (Codes{IDENT, IDENT}));
    EXPECT_EQ(scan("/* // */ x").codes(), (Codes{IDENT}));
    EXPECT_EQ(scan("//").diagnostics, "");
    EXPECT_EQ(scan("/*").diagnostics, unterminated_comment(1));
}

// A hexadecimal prefix is no part of the language: 0x10 is 0 and x10.
TEST(Scanner, NoHexadecimalLiterals) {
    EXPECT_EQ(scan("0x10").codes(), (Codes{NUMBER, IDENT}));
}

TEST(Scanner, LineNumbersFollowNewlines) {
    const ScanResult r = scan("a\n\nb /*\n*/ c // x\nd\n");
    ASSERT_EQ(r.tokens.size(), 4u);
    EXPECT_EQ(r.tokens[0].line, 1);
    EXPECT_EQ(r.tokens[1].line, 3);
    EXPECT_EQ(r.tokens[2].line, 4);
    EXPECT_EQ(r.tokens[3].line, 5);
}

// The source is read in text mode: only CR LF becomes a newline; every
// other carriage return reaches the scanner and is illegal.
TEST(Scanner, CarriageReturns) {
    ScanResult r = scan("a\r\nb");
    EXPECT_EQ(r.codes(), (Codes{IDENT, IDENT}));
    EXPECT_EQ(r.tokens[1].line, 2);
    EXPECT_EQ(r.diagnostics, "");

    r = scan("a\rb");
    EXPECT_EQ(r.codes(), (Codes{IDENT, IDENT}));
    EXPECT_EQ(r.tokens[1].line, 1);
    EXPECT_EQ(r.diagnostics, illegal(1, '\r'));

    r = scan("a\r\r\nb");
    EXPECT_EQ(r.tokens[1].line, 2);
    EXPECT_EQ(r.diagnostics, illegal(1, '\r'));

    r = scan("a\r");
    EXPECT_EQ(r.diagnostics, illegal(1, '\r'));

    r = scan("a\r\n\r\n// c\r\n/* \r\r\n */ b\r\n");
    EXPECT_EQ(r.codes(), (Codes{IDENT, IDENT}));
    EXPECT_EQ(r.tokens[1].line, 5);
    EXPECT_EQ(r.diagnostics, "");

    // a CR LF pair inside a literal ends the line: no literal
    r = scan("\"a\r\nb\"");
    EXPECT_EQ(r.codes(), (Codes{IDENT, IDENT}));
    EXPECT_EQ(r.diagnostics, illegal(1, '"') + illegal(2, '"'));
}

// Tokens and CR LF pairs that straddle the refills of the input buffer.
TEST(Scanner, TokensAcrossBufferRefills) {
    // NUL bytes too: the scanner must tell them from its end-of-buffer mark
    const std::string tail = std::string("function\r\n:= \"te\0xt\" x\0y", 24);
    for (std::size_t pad : {8180u, 8190u, 16370u, 16380u, 32760u}) {
        for (std::size_t shift = 0; shift < 12; ++shift) {
            const ScanResult r = scan(std::string(pad + shift, ' ') + tail);
            SCOPED_TRACE("pad " + std::to_string(pad + shift));
            EXPECT_EQ(r.codes(), (Codes{FUNCTION, ASSIGN, STRING, IDENT, IDENT}));
            EXPECT_EQ(r.tokens.back().line, 2);
            EXPECT_EQ(r.diagnostics, illegal(2, '\0'));
        }
    }
}

TEST(Scanner, VeryLongTexts) {
    const std::size_t mb = 1 << 20;
    ScanResult r = scan("\"" + std::string(mb, 'a') + "\" x");
    EXPECT_EQ(r.codes(), (Codes{STRING, IDENT}));
    r = scan("/*" + std::string(mb, '*') + "*/ x");
    EXPECT_EQ(r.codes(), (Codes{IDENT}));
    r = scan("//" + std::string(mb, '/') + "\nx");
    EXPECT_EQ(r.codes(), (Codes{IDENT}));
    EXPECT_EQ(r.diagnostics, "");

    r = scan(std::string(mb, 'i'));
    EXPECT_EQ(r.codes(), (Codes{IDENT}));
    EXPECT_EQ(r.diagnostics, long_identifier(1));
    r = scan(std::string(mb, '9'));
    EXPECT_EQ(r.codes(), (Codes{NUMBER}));
    EXPECT_EQ(r.diagnostics, large_integer(1));

    // an unclosed literal: the quote is illegal and the rest scanned anew
    r = scan("\"" + std::string(mb, 'q'));
    EXPECT_EQ(r.codes(), (Codes{IDENT}));
    EXPECT_EQ(r.diagnostics, illegal(1, '"') + long_identifier(1));

    r = scan(std::string(mb, '\n') + "x");
    EXPECT_EQ(r.tokens.at(0).line, static_cast<int>(mb) + 1);
}

// Tokens many times the input buffer scan whole. (Their cost grows in
// proportion to their length since each refill fills the whole free room;
// that is measured by timing, which belongs in a benchmark, not here.)
TEST(Scanner, TokensManyTimesTheBuffer) {
    const std::size_t size = 1u << 20;
    ScanResult r = scan("\"" + std::string(size, 's') + "\" " + std::string(size, 'i'));
    EXPECT_EQ(r.codes(), (Codes{STRING, IDENT}));
}

// A source that cannot be read to its end must not pass for a shorter
// program: reading it stops the compiler with the scanner's input failure.
TEST(ScannerDeathTest, ReadErrorIsFatal) {
    vexltest::TempDir dir;
    const std::string path = (dir / "src.vxl").string();
    vexltest::write_file(path, "function void start() { }\n");
    EXPECT_EXIT(
        {
            std::FILE* unreadable = std::fopen(path.c_str(), "a");  // reading it fails
            read_source(unreadable);
            std::exit(0);
        },
        testing::ExitedWithCode(2), "^input in flex scanner failed\n$");
}
