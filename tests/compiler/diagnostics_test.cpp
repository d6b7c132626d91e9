// Diagnostics: the printed forms at line 0 and below, and the list with its
// order, counts and switch. The texts, their Shift-JIS bytes and the limit
// of 100 errors are pinned by the golden cases.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "catalog.h"
#include "diagnostics.h"
#include "support.h"

namespace {

class DiagnosticsTest : public testing::Test {
protected:
    void SetUp() override { diagnostics.clear(); }
    void TearDown() override { diagnostics.clear(); }
};

}  // namespace

// What the golden cases cannot show: the forms at line 0 and below.
TEST(DiagnosticTexts, LineZeroAndBelow) {
    const std::string main_text = error::CFunctionName(1, "MapManager", "main").message();
    const std::string text = main_text.substr(main_text.find("MapManager: ") + 12);
    EXPECT_EQ(error::CFunctionName(0, "MapManager", "main").message(), "警告: "_sj + text);
    EXPECT_EQ(error::CFunctionName(-3, "MapManager", "main").message(), "警告: "_sj + text);
    EXPECT_EQ(error::BadTree(0, "program").message(), "エラー(0): program: 構文木が正しく生成されていません\n"_sj);
    EXPECT_EQ(error::BadTree(-12, "program").message(), "エラー(-12): program: 構文木が正しく生成されていません\n"_sj);
}

// The build-time table holds, row for row, the UTF-8 text converted.
TEST(DiagnosticTexts, BothCharsetsOfEveryRow) {
    for (int i = 0; i <= static_cast<int>(catalog::Text::OtherException); ++i) {
        const auto id = static_cast<catalog::Text>(i);
        EXPECT_EQ(std::string(catalog::text(id)), vexltest::to_cp932(catalog::text(id, catalog::Charset::utf8)))
            << catalog::name(id);
    }
    EXPECT_EQ(catalog::format(catalog::Text::TypeMismatch, {"int", "bool"}, catalog::Charset::utf8),
              "int型をbool型に代入することはできません");
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
