// Diagnostics: the printed forms of errors, warnings and fatal errors, the
// Shift-JIS bytes of the texts, and the list with its switch and its limit
// of 100 errors.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "catalog.h"
#include "diagnostics.h"

namespace {

// Bytes written out one by one, so that the test does not depend on the
// execution character set it is compiled with.
std::string bytes(std::initializer_list<unsigned> list) {
    std::string out;
    for (unsigned b : list) out += static_cast<char>(b);
    return out;
}

class DiagnosticsTest : public testing::Test {
protected:
    void SetUp() override { diagnostics.clear(); }
    void TearDown() override { diagnostics.clear(); }
};

}  // namespace

// The texts must reach the user as Shift-JIS, whatever the source files
// are encoded in; a build without the execution character set would
// print UTF-8 here.
TEST(DiagnosticTexts, AreShiftJis) {
    const std::string error = error::IllegalCharacter(1, "flex", '#').message();
    EXPECT_EQ(error.substr(0, 7), bytes({0x83, 0x47, 0x83, 0x89, 0x81, 0x5B, 0x28}));  // "エラー("
    const std::string warning = error::LargeInteger(2, "flex", 32767).message();
    EXPECT_EQ(warning.substr(0, 5), bytes({0x8C, 0x78, 0x8D, 0x90, 0x28}));  // "警告("
    EXPECT_EQ(std::string(catalog::kAbort),
              bytes({0x83, 0x52, 0x83, 0x93, 0x83, 0x70, 0x83, 0x43, 0x83, 0x8B, 0x82, 0xF0, 0x92, 0x86, 0x92, 0x66,
                     0x82, 0xB5, 0x82, 0xDC, 0x82, 0xB7}));  // "コンパイルを中断します"
    EXPECT_EQ(std::string(catalog::kSummaryErrors), bytes({0x20, 0x2D, 0x20, 0x83, 0x47, 0x83, 0x89, 0x81, 0x5B, 0x20}));
    EXPECT_EQ(std::string(catalog::kSummaryWarnings), bytes({0x81, 0x41, 0x8C, 0x78, 0x8D, 0x90, 0x20}));
}

TEST(DiagnosticTexts, PrintedForms) {
    EXPECT_EQ(error::IllegalCharacter(3, "flex", '#').message(), "エラー(3): flex: 文字'#'を無視します\n");
    EXPECT_EQ(error::LargeInteger(7, "flex", 32767).message(),
              "警告(7): flex: 32767より大きい整数値が使われています(バイナリコードが不正です)\n");
    EXPECT_EQ(error::LongIdentifier(12, "flex", 32).message(), "警告(12): flex: 識別子が32字以上です(Cソース不正です)\n");
    EXPECT_EQ(error::UnterminatedComment(4, "flex").message(),
              "エラー(4): flex: コメント終端の前にEOFが検出されました\n");
    EXPECT_EQ(error::ParseError(12, "bison", "statement").message(), "エラー(12): bison: statementを無視します\n");
    EXPECT_EQ(error::BadTree(1, "parse_tree").message(), "エラー(1): parse_tree: 構文木が正しく生成されていません\n");
    EXPECT_EQ(error::var_AlreadyDec(5, "declare_parameter", "x").message(),
              "エラー(5): declare_parameter: 変数'x'はすでに宣言されています\n");
    // a warning without a line has neither line nor node name; an error
    // always has both
    const std::string main_text = error::CFunctionName(1, "MapManager", "main").message();
    const std::string text = main_text.substr(main_text.find("MapManager: ") + 12);
    EXPECT_EQ(error::CFunctionName(0, "MapManager", "main").message(), "警告: " + text);
    EXPECT_EQ(error::CFunctionName(-3, "MapManager", "main").message(), "警告: " + text);
    EXPECT_EQ(error::BadTree(0, "program").message(), "エラー(0): program: 構文木が正しく生成されていません\n");
    EXPECT_EQ(error::BadTree(-12, "program").message(), "エラー(-12): program: 構文木が正しく生成されていません\n");
    // the byte of an illegal character is written as it is, NUL included
    EXPECT_EQ(error::IllegalCharacter(1, "flex", '\0').message(), "エラー(1): flex: 文字'" + std::string(1, '\0') + "'を無視します\n");
    EXPECT_EQ(error::IllegalCharacter(1, "flex", '\x83').message(), "エラー(1): flex: 文字'\x83'を無視します\n");
    // every call gives the same text
    const error::LargeInteger twice(9, "flex", 32767);
    EXPECT_EQ(twice.message(), twice.message());
}

TEST(DiagnosticTexts, FatalErrors) {
    EXPECT_EQ(fatal_error::OverSomeErrors(100).message(), "エラーの数が100を超えました\nコンパイルを中断します\n");
    EXPECT_EQ(fatal_error::OverSomeErrors(65535).message(), "エラーの数が65535を超えました\nコンパイルを中断します\n");
    EXPECT_EQ(fatal_error::CantOpenOutFile("dir/prog.exec").message(),
              "出力ファイル(dir/prog.exec)が開けません\nコンパイルを中断します\n");
    EXPECT_EQ(fatal_error::CantOpenInFile().message(), "入力ファイルが開けません\nコンパイルを中断します\n");
}

TEST_F(DiagnosticsTest, ListKeepsOrderAndCounts) {
    diagnostics.error<error::IllegalCharacter>(2, "flex", '#');
    diagnostics.warning<error::LargeInteger>(1, "flex", 32767);
    diagnostics.error<error::ParseError>(1, "bison", "statement");
    diagnostics.warning<error::CFunctionName>(0, "MapManager", "main");
    EXPECT_EQ(diagnostics.error_count, 2);
    EXPECT_EQ(diagnostics.warning_count, 2);
    // in order of addition, never sorted by line
    const std::string expected = error::IllegalCharacter(2, "flex", '#').message() +
                                 error::LargeInteger(1, "flex", 32767).message() +
                                 error::ParseError(1, "bison", "statement").message() +
                                 error::CFunctionName(0, "MapManager", "main").message();
    EXPECT_EQ(diagnostics.text(), expected);

    // printing does not empty the list
    testing::internal::CaptureStderr();
    diagnostics.print_all();
    diagnostics.print_all();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected + expected);
}

TEST_F(DiagnosticsTest, DisabledListDropsEverything) {
    diagnostics.enabled = false;
    for (int i = 0; i < 150; ++i) {
        diagnostics.error<error::BadTree>(i, "statement");
        diagnostics.warning<error::LargeInteger>(i, "flex", 32767);
    }
    EXPECT_EQ(diagnostics.error_count, 0);
    EXPECT_EQ(diagnostics.warning_count, 0);
    EXPECT_EQ(diagnostics.text(), "");
    diagnostics.enabled = true;
    diagnostics.error<error::BadTree>(1, "statement");
    EXPECT_EQ(diagnostics.error_count, 1);
}

TEST_F(DiagnosticsTest, HundredErrorsAreAllowed) {
    for (int i = 1; i <= 100; ++i) EXPECT_NO_THROW(diagnostics.error<error::BadTree>(i, "statement"));
    // warnings have no limit
    for (int i = 0; i < 1000; ++i) EXPECT_NO_THROW(diagnostics.warning<error::LargeInteger>(1, "flex", 32767));
    EXPECT_EQ(diagnostics.error_count, 100);
    EXPECT_EQ(diagnostics.warning_count, 1000);
}

TEST_F(DiagnosticsTest, TheHundredAndFirstErrorIsFatalAndStored) {
    for (int i = 1; i <= 100; ++i) diagnostics.error<error::BadTree>(i, "statement");
    diagnostics.warning<error::LargeInteger>(50, "flex", 32767);
    try {
        diagnostics.error<error::BadTree>(101, "statement");
        FAIL() << "no fatal error";
    } catch (const fatal_error::FatalError& e) {
        EXPECT_EQ(e.message(), "エラーの数が100を超えました\nコンパイルを中断します\n");
        auto* over = dynamic_cast<const fatal_error::OverSomeErrors*>(&e);
        ASSERT_NE(over, nullptr);
        EXPECT_EQ(over->limit, 100);
    }
    EXPECT_EQ(diagnostics.error_count, 101);
    const std::string text = diagnostics.text();
    EXPECT_NE(text.find(error::BadTree(101, "statement").message()), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - error::BadTree(101, "statement").message().size()),
              error::BadTree(101, "statement").message());
    // a disabled list never reaches the limit
    diagnostics.enabled = false;
    EXPECT_NO_THROW(diagnostics.error<error::BadTree>(102, "statement"));
    EXPECT_EQ(diagnostics.error_count, 101);
}

TEST_F(DiagnosticsTest, ClearStartsAfresh) {
    diagnostics.error<error::BadTree>(1, "statement");
    diagnostics.warning<error::LargeInteger>(1, "flex", 32767);
    diagnostics.enabled = false;
    diagnostics.clear();
    EXPECT_TRUE(diagnostics.enabled);
    EXPECT_EQ(diagnostics.error_count, 0);
    EXPECT_EQ(diagnostics.warning_count, 0);
    EXPECT_EQ(diagnostics.text(), "");
}
