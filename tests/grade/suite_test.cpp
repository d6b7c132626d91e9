// The suite reader and the comparisons: every mistake in a suite file is
// named with its file and line; trim, regex and the line difference.
#include <gtest/gtest.h>

#include "compare.h"
#include "suite.h"
#include "test_support.h"

namespace {

using grade::load_suite;
using grade::Match;
using grade::SuiteError;

std::string error_of(const vexltest::TempDir& dir, std::string_view text) {
    dir.write("suite.toml", text);
    try {
        load_suite((dir / "suite.toml").string());
    } catch (const SuiteError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(Suite, MistakesAreNamedWithTheirLine) {
    vexltest::TempDir dir;
    const std::string f = (dir / "suite.toml").string();
    const struct {
        const char* text;
        std::string error;
    } cases[] = {
        {"[defaults]\nmax_steps = \n", f + ":2: missing value after key-value separator '='"},
        {"[[test]]\nname = \"a\"\nexpected = \"1\"\n\n[[test]]\nname = \"b\"\nexpect = \"2\"\n",
         f + ":7: unknown key 'expect' in [[test]]"},
        {"[defaults]\ntimeout = \"5\"\n[[test]]\nname = \"a\"\nexpected = \"\"\n", f + ":2: 'timeout' must be a number"},
        {"[defaults]\ntimeout = 0\n", f + ":2: 'timeout' must be more than 0 and at most 86400 seconds"},
        {"[defaults]\nmax_steps = -1\n", f + ":2: 'max_steps' must be a whole number of 0 or more"},
        {"[defaults]\nmatch = \"fuzzy\"\n", f + ":2: 'match' must be \"exact\", \"trim\" or \"regex\""},
        {"[[test]]\nname = \"a\"\ninput = \"1\"\n", f + ":2: test 'a' has no 'expected' or 'expected_file'"},
        {"[[test]]\nexpected = \"1\"\n", f + ":1: a test without a 'name'"},
        {"[[test]]\nname = \"a\"\nexpected = \"\"\n[[test]]\nname = \"a\"\nexpected = \"\"\n",
         f + ":5: a second test named 'a'"},
        {"[[test]]\nname = \"a\"\ninput = \"\"\ninput_file = \"x.in\"\nexpected = \"\"\n",
         f + ":4: 'input' and 'input_file' both given; keep one"},
        {"[[test]]\nname = \"a\"\nexpected_file = \"missing.out\"\n",
         f + ":3: cannot read '" + (dir / "missing.out").string() + "'"},
        {"[[test]]\nname = \"a\"\nmatch = \"regex\"\nexpected = \"(1\"\n",
         f + ":4: regular expression: missing closing parenthesis at offset 2"},
        {"[[test]]\nname = \"a\"\nexpected = \"\"\npoints = -2\n", f + ":4: 'points' must be 0 or more"},
        {"[defaults]\nmax_steps = 5\n", f + ": no tests (each test is a [[test]] table)"},
        {"tests = 1\n", f + ":1: unknown key 'tests' in the suite (expected [defaults] and [[test]] tables)"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(dir, c.text).substr(0, c.error.size()), c.error) << c.text;
    EXPECT_EQ(error_of(dir, "[[test]]\nname = \"a\"\nexpected = \"\"\n"), "(accepted)");
    try {
        load_suite((dir / "nowhere.toml").string());
        ADD_FAILURE() << "a missing suite was accepted";
    } catch (const SuiteError& e) {
        EXPECT_EQ(std::string(e.what()), (dir / "nowhere.toml").string() + ": no such file");
    }
}

TEST(Suite, DefaultsFilesAndTheMachinesCharacterSet) {
    vexltest::TempDir dir;
    std::filesystem::create_directories(dir / "in");
    dir.write("in/a.in", "1 2\r\n");
    dir.write("suite.toml",
              "[defaults]\nmax_steps = 50\ntimeout = 0.5\nmatch = \"trim\"\n"
              "[[test]]\nname = \"first\"\ninput_file = \"in/a.in\"\nexpected = \"\xE3\x81\x82\\n\"\npoints = 2.5\n"
              "[[test]]\nname = \"second\"\nmax_output = 7\nmatch = \"exact\"\nexpected = \"x\"\n");
    const grade::Suite s = load_suite((dir / "suite.toml").string());
    ASSERT_EQ(s.tests.size(), 2u);
    EXPECT_EQ(s.tests[0].input, "1 2\r\n");  // a file is taken as bytes
    EXPECT_EQ(s.tests[0].expected, "\x82\xA0\n");  // inline UTF-8 becomes CP932
    EXPECT_EQ(s.tests[0].limits.max_steps, 50u);
    EXPECT_EQ(s.tests[0].limits.timeout, 0.5);
    EXPECT_EQ(s.tests[0].match, Match::trim);
    EXPECT_EQ(s.tests[1].limits.max_output, 7u);
    EXPECT_EQ(s.tests[1].limits.max_steps, 50u);
    EXPECT_EQ(s.tests[1].match, Match::exact);
    EXPECT_EQ(s.tests[1].points, 1);
    EXPECT_EQ(s.max_score(), 3.5);
}

TEST(Compare, TrimExactAndRegex) {
    const grade::Expectation trim(Match::trim, "1 2\n3\n");
    EXPECT_TRUE(trim.matches("1 2  \n3\t\n\n\n"));
    EXPECT_TRUE(trim.matches("1 2\r\n3"));
    EXPECT_FALSE(trim.matches(" 1 2\n3\n"));  // leading blanks count
    EXPECT_FALSE(trim.matches("1  2\n3\n"));  // so do inner ones
    EXPECT_FALSE(trim.matches("1 2\n\n3\n"));

    const grade::Expectation exact(Match::exact, "5\n");
    EXPECT_TRUE(exact.matches("5\n"));
    EXPECT_FALSE(exact.matches("5"));
    EXPECT_FALSE(exact.matches("5\n\n"));

    const grade::Expectation regex(Match::regex, "\\d+( \\d+)* \\n");
    EXPECT_TRUE(regex.matches("2 3 5 \n"));
    EXPECT_FALSE(regex.matches("x2 3 5 \n"));      // anchored at the start
    EXPECT_FALSE(regex.matches("2 3 5 \nmore"));  // and at the end
    const grade::Expectation lines(Match::regex, "^a$\\n^b$\\n");
    EXPECT_TRUE(lines.matches("a\nb\n"));
    // The output is matched as UTF-8: CP932 あ is one character.
    const grade::Expectation japanese(Match::regex, "^.$");
    EXPECT_TRUE(japanese.matches("\x82\xA0"));
    EXPECT_THROW(grade::Expectation(Match::regex, "[a"), std::invalid_argument);
}

std::string diff_text(std::string_view a, std::string_view b) {
    std::string out;
    for (const grade::DiffLine& d : grade::diff_lines(a, b)) out += std::string(1, d.kind) + d.text + "\n";
    return out;
}

TEST(Compare, LineDifference) {
    EXPECT_EQ(diff_text("a\nb\nc\nd\n", "a\nc\nx\nd\n"), " a\n-b\n c\n+x\n d\n");
    EXPECT_EQ(diff_text("", "1\n"), "+1\n");
    EXPECT_EQ(diff_text("1\n2\n", ""), "-1\n-2\n");
    EXPECT_EQ(diff_text("1\n2\n3\n", "1\n2\n3"), " 1\n 2\n 3\n");
    // Too large for the table: the changed middle as a block.
    std::string big_a, big_b;
    for (int i = 0; i < 3000; ++i) big_a += "a" + std::to_string(i) + "\n", big_b += "b" + std::to_string(i) + "\n";
    const std::vector<grade::DiffLine> big = grade::diff_lines("head\n" + big_a, "head\n" + big_b);
    ASSERT_EQ(big.size(), 6001u);
    EXPECT_EQ(big[0].kind, ' ');
    EXPECT_EQ(big[1].kind, '-');
    EXPECT_EQ(big[3001].kind, '+');
}

}  // namespace
