// Diagnostics: the printed forms at line 0 and below, and the list with its
// order, counts and switch. The texts, their Shift-JIS bytes and the limit
// of 100 errors are pinned by the golden cases.
#include <gtest/gtest.h>

#include <algorithm>
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

// Every row has an English text: ASCII, and with the same values as the
// Japanese one, so that no value is lost in translation.
TEST(Catalog, EnglishBesideEveryJapaneseText) {
    auto placeholders = [](std::string_view t) {
        std::string p;
        for (std::size_t i = 0; i + 1 < t.size(); ++i)
            if (t[i] == '%' && t[i + 1] >= '1' && t[i + 1] <= '9') p += t[i + 1];
        std::sort(p.begin(), p.end());
        return p;
    };
    for (int i = 0; i < catalog::kTextCount; ++i) {
        const auto id = static_cast<catalog::Text>(i);
        const std::string_view en = catalog::text(id, catalog::Charset::utf8, catalog::Language::en);
        SCOPED_TRACE(std::string(catalog::name(id)));
        EXPECT_FALSE(en.empty());
        EXPECT_TRUE(std::all_of(en.begin(), en.end(), [](char c) { return c >= 0x20 && c < 0x7F; }));
        EXPECT_EQ(en, catalog::text(id, catalog::Charset::cp932, catalog::Language::en));
        EXPECT_EQ(placeholders(en), placeholders(catalog::text(id, catalog::Charset::utf8)));
    }
    EXPECT_EQ(catalog::format(catalog::Text::TypeMismatch, {"bool", "int"}, catalog::Charset::cp932,
                              catalog::Language::en),
              "cannot assign type bool to type int");
}

TEST(Catalog, CharsetAndLanguageNames) {
    using catalog::Charset;
    for (const char* n : {"utf-8", "UTF-8", "utf8", "UTF8", "Utf_8"}) EXPECT_EQ(catalog::charset_named(n), Charset::utf8) << n;
    for (const char* n : {"cp932", "CP932", "sjis", "SJIS", "shift_jis", "Shift-JIS", "ms932", "windows-31j"})
        EXPECT_EQ(catalog::charset_named(n), Charset::cp932) << n;
    for (const char* n : {"", "utf", "utf-16", "latin1", "euc-jp", "utf-8 "}) EXPECT_FALSE(catalog::charset_named(n)) << n;
    EXPECT_EQ(catalog::language_named("EN"), catalog::Language::en);
    EXPECT_EQ(catalog::language_named("ja"), catalog::Language::ja);
    EXPECT_FALSE(catalog::language_named("de"));
}
