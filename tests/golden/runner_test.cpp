// Tests of the golden runner itself (hex words, CP932, diff, the checks of a
// source case with a stand-in compiler) and of the vexldump command line.
#include <gtest/gtest.h>

#include <sstream>

#include "golden.h"
#include "test_support.h"

namespace golden {
namespace {

using vexltest::ProcessResult;
using vexltest::read_file;
using vexltest::TempDir;
using vexltest::write_file;

using image::Word;

TEST(HexWords, TokensCommentsAndPrefixes) {
    std::vector<Word> words;
    std::string error;
    ASSERT_TRUE(parse_hex_words("0x1330 0   # LDI GR3,0\n\n1340 ffff#no blank\n  0X7 a\n", words, error)) << error;
    EXPECT_EQ(words, (std::vector<Word>{0x1330, 0x0000, 0x1340, 0xFFFF, 0x0007, 0x000A}));
}

TEST(HexWords, BadTokensNameTheirLine) {
    for (const char* text : {"1\n12345\n", "1\n0x\n", "1\ng1\n", "1\n-1\n", "1\n0x1g\n"}) {
        std::vector<Word> words;
        std::string error;
        EXPECT_FALSE(parse_hex_words(text, words, error)) << text;
        EXPECT_TRUE(error.starts_with("line 2: ")) << error;
    }
}

TEST(Cp932, ConvertsBothWaysAndKeepsStrayBytes) {
    std::string sjis, error;
    ASSERT_TRUE(utf8_to_cp932("エラー(3): x\n", sjis, error)) << error;
    EXPECT_EQ(sjis, "\x83\x47\x83\x89\x81\x5B(3): x\n");
    EXPECT_EQ(cp932_to_utf8(sjis), "エラー(3): x\n");
    // A character with no CP932 form is an error in an expectation file.
    EXPECT_FALSE(utf8_to_cp932("a\xF0\x9F\x98\x80", sjis, error));
    EXPECT_EQ(error, "byte 1 has no CP932 form");
    // Undecodable bytes (and a lead byte cut off at the end) pass unchanged.
    EXPECT_EQ(cp932_to_utf8("a\xFF" "b\x81"), "a\xFF" "b\x81");
}

TEST(Diff, ShowsChangedLinesWithContext) {
    const std::string d = diff_text("1\n2\n3\n4\n5\n6\n7\n", "1\n2\n3\n4\n5\nsix\n7");
    EXPECT_NE(d.find("@@ expected line 4 @@\n 4\n 5\n-6\n-7\n+six\n+7  (no newline at end)\n"), std::string::npos)
        << d;
    EXPECT_EQ(d.find(" 1\n"), std::string::npos) << d;  // beyond the context
    EXPECT_NE(diff_text("a\tb\x01\n", "").find("-a\\tb\\x01"), std::string::npos);
}

// A source case run with /bin/sh as the compiler: the case's NAME.vxl is a
// script that plays the compiler's part, so each check of the runner can be
// made to pass and to fail.
class CompilerCaseTest : public testing::Test {
protected:
    void SetUp() override {
        dir = tmp.path() / "case";
        fs::create_directory(dir);
        std::string sjis, error;
        ASSERT_TRUE(utf8_to_cp932(summary0, sjis, error));
        write_file(tmp.path() / "ok.err", sjis);
        ASSERT_TRUE(utf8_to_cp932(summary1, sjis, error));
        write_file(tmp.path() / "bad.err", sjis);
        // LDI GR0,7  OUTI GR0, and a C program printing the same.
        write_file(tmp.path() / "prog.exec", std::string("\x13\x00\x00\x07\xF1\x00", 6));
        write_file(tmp.path() / "prog.c", "#include <stdio.h>\nint main(void) { printf(\"7\"); return 0; }\n");
    }
    // The stand-in compiler: writes stderr from one of the files above,
    // optionally the two outputs, and exits with the status.
    void source(const std::string& err, bool outputs, int status) {
        const std::string t = tmp.path().string();
        std::string script = "cat '" + t + "/" + err + "' >&2\n";
        if (outputs) script += "cp '" + t + "/prog.exec' t.exec\ncp '" + t + "/prog.c' t.c\n";
        write_file(dir / "t.vxl", script + "exit " + std::to_string(status) + "\n");
    }
    Outcome check(bool bless = false) {
        const Case c{Kind::Compiler, dir, "t", "compiler/t", "compiler_t"};
        return check_compiler_case(c, Tools{{"/bin/sh"}, VEXL_VEXL, "", VEXL_CC}, bless);
    }
    static std::string joined(const Outcome& o) {
        std::string s;
        for (const std::string& f : o.failures) s += f + "\n";
        return s;
    }

    TempDir tmp;
    fs::path dir;
    const std::string summary0 = "警告(2): x\nt.vxl - エラー 0、警告 1\n";
    const std::string summary1 = "エラー(2): x\nt.vxl - エラー 1、警告 0\n";
};

TEST_F(CompilerCaseTest, PassesWhenEveryExpectationHolds) {
    source("ok.err", true, 0);
    write_file(dir / "t.err", summary0);
    write_file(dir / "t.lst", "0000: 1300 0007  LDI GR0,7\n0002: F100       OUTI GR0\n");
    write_file(dir / "t.out", "7");
    std::string c_text;
    read_file(tmp.path() / "prog.c", c_text);
    write_file(dir / "t.c", c_text);
    const Outcome o = check();
    EXPECT_EQ(joined(o), "");
    if (std::string(VEXL_VEXL).empty()) {
        EXPECT_EQ(o.skipped, "vexl is not built");
    }
}

TEST_F(CompilerCaseTest, ReportsEachWrongExpectation) {
    source("ok.err", true, 0);
    write_file(dir / "t.err", "t.vxl - エラー 0、警告 0\n");
    write_file(dir / "t.lst", "0000: 1300 0007  LDI GR0,8\n");
    write_file(dir / "t.c", "int main;\n");
    write_file(dir / "t.status", "2\n");
    const std::string f = joined(check());
    EXPECT_NE(f.find("exit status 0, expected 2 (t.status)"), std::string::npos) << f;
    EXPECT_NE(f.find("standard error differs from t.err"), std::string::npos) << f;
    EXPECT_NE(f.find("-t.vxl - エラー 0、警告 0\n+警告(2): x\n"), std::string::npos) << f;
    EXPECT_NE(f.find("listing differs from t.lst"), std::string::npos) << f;
    EXPECT_NE(f.find("C text differs from t.c"), std::string::npos) << f;
}

TEST_F(CompilerCaseTest, OutputsMustFollowErrorsAndStatus) {
    source("bad.err", true, 0);  // an error was reported, yet files appear
    std::string f = joined(check());
    EXPECT_NE(f.find("t.exec was created although errors were reported"), std::string::npos) << f;
    EXPECT_NE(f.find("t.c was created although errors were reported"), std::string::npos) << f;

    source("ok.err", false, 0);  // no error, yet no files
    f = joined(check());
    EXPECT_NE(f.find("t.exec was not created"), std::string::npos) << f;

    source("bad.err", false, 255);  // stopped: -1 is the status 255
    write_file(dir / "t.status", "-1\n");
    EXPECT_EQ(joined(check()), "");
    source("bad.err", true, 255);
    EXPECT_NE(joined(check()).find("t.exec was created after exit status 255"), std::string::npos);
}

TEST_F(CompilerCaseTest, BlessRewritesOnlyWhatApplies) {
    source("bad.err", false, 255);
    write_file(dir / "t.err", "old\n");
    Outcome o = check(true);
    EXPECT_EQ(joined(o), "");
    std::string text;
    ASSERT_TRUE(read_file(dir / "t.err", text));
    EXPECT_EQ(text, summary1);  // stored as UTF-8
    ASSERT_TRUE(read_file(dir / "t.status", text));
    EXPECT_EQ(text, "255\n");

    source("ok.err", true, 0);
    write_file(dir / "t.lst", "");
    o = check(true);
    EXPECT_EQ(joined(o), "");
    EXPECT_FALSE(fs::exists(dir / "t.status"));
    EXPECT_FALSE(fs::exists(dir / "t.c"));  // not asked for: no t.c before
    ASSERT_TRUE(read_file(dir / "t.lst", text));
    EXPECT_EQ(text, "0000: 1300 0007  LDI GR0,7\n0002: F100       OUTI GR0\n");
    EXPECT_EQ(joined(check()), "");  // and the blessed case passes
}

// vexldump's command line; its listings are compared in the machine cases.
class VexldumpTest : public testing::Test {
protected:
    ProcessResult dump(std::vector<std::string> args) {
        args.insert(args.begin(), VEXL_VEXLDUMP);
        return vexltest::run_process({args, tmp.path()});
    }
    TempDir tmp;
};

TEST_F(VexldumpTest, ListsAnImage) {
    write_file(tmp.path() / "a.exec", std::string("\x72\x50\x00", 3));
    const ProcessResult r = dump({"a.exec"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0000: 7250       PUSH bp\n");
    EXPECT_EQ(r.err, "");
    write_file(tmp.path() / "--odd", "");
    EXPECT_EQ(dump({"--", "--odd"}).status, 0);
}

TEST_F(VexldumpTest, UsageHelpAndVersion) {
    // Wrong use: one usage line on standard error, nothing else.
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"a", "b"}, {"--bogus"}}) {
        const ProcessResult r = dump(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.starts_with("usage: vexldump ")) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    // Asked for: the same line on standard output.
    ProcessResult r = dump({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with(dump({}).err)) << r.out;
    r = dump({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "vexldump 0.1\n");
}

TEST_F(VexldumpTest, UnreadableFiles) {
    ProcessResult r = dump({"missing.exec"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vexldump: missing.exec: cannot open: No such file or directory\n");
    fs::create_directory(tmp.path() / "dir.exec");
    r = dump({"dir.exec"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vexldump: dir.exec: is a directory\n");
}

}  // namespace
}  // namespace golden
