// vexl-grade as a program: the example suites, the command line, and a
// batch of generated submissions of every kind, whose statuses and scores
// are known from the template each was made from. The reports are checked
// as their readers would: JSON parsed, JUnit validated against its schema.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include <nlohmann/json.hpp>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vexltest::run_process;

// Writes a file of the scratch folder, making its folders.
fs::path put(const vexltest::TempDir& dir, const std::string& name, std::string_view bytes) {
    fs::create_directories((dir / name).parent_path());
    return dir.write(name, bytes);
}

// Under the sanitizers every process starts slowly: the timeouts get room
// and the batch is a quarter as large (the full batch runs in the plain
// build).
#ifdef VEXL_SANITIZED
constexpr const char* kTimeoutFactor = "--timeout-factor=10";
constexpr int kBatchDivisor = 4;
#else
constexpr const char* kTimeoutFactor = "--timeout-factor=1";
constexpr int kBatchDivisor = 1;
#endif

vexltest::ProcessResult grade(std::vector<std::string> args, int timeout_ms = 600000) {
    args.insert(args.begin(), {VEXL_GRADE, "--vexl=" VEXL, "--progress=never", kTimeoutFactor});
    return run_process({args, {}, "", timeout_ms});
}

// Every submission of the JSON report as "path: status score tests...".
std::map<std::string, std::string> outcomes(const std::string& report) {
    std::map<std::string, std::string> out;
    const json doc = json::parse(report);
    for (const json& s : doc.at("submissions")) {
        std::string line = s.at("status").get<std::string>() + " " + s.at("score").dump();
        for (const json& t : s.at("tests")) line += " " + t.at("status").get<std::string>();
        out[s.at("path").get<std::string>()] = line;
    }
    return out;
}

TEST(Grade, ExampleSuites) {
    const std::string dir = VEXL_EXAMPLES_DIR "/grading";
    const vexltest::ProcessResult primes =
        grade({"--format=json", dir + "/primes.toml", dir + "/primes/correct.vxl", dir + "/primes/square-missed.vxl",
               dir + "/primes/endless.vxl", dir + "/primes/flood.vxl", dir + "/primes/no-semicolon.vxl"});
    ASSERT_TRUE(primes.exited_with(0)) << primes.describe() << primes.err;
    const std::map<std::string, std::string> p = outcomes(primes.out);
    EXPECT_EQ(p.at(dir + "/primes/correct.vxl"), "compiled 6 passed passed passed passed passed");
    EXPECT_EQ(p.at(dir + "/primes/square-missed.vxl"), "compiled 5 passed passed wrong passed passed");
    EXPECT_EQ(p.at(dir + "/primes/endless.vxl"), "compiled 1 limit limit limit passed limit");
    EXPECT_EQ(p.at(dir + "/primes/flood.vxl"), "compiled 1 limit limit limit passed limit");
    EXPECT_EQ(p.at(dir + "/primes/no-semicolon.vxl"), "compile-error 0");
    const json doc = json::parse(primes.out);
    for (const json& s : doc.at("submissions")) {
        if (s.at("path") == dir + "/primes/endless.vxl") {
            EXPECT_EQ(s.at("tests")[0].at("detail"), "step limit of 1000000 instructions reached");
        } else if (s.at("path") == dir + "/primes/flood.vxl") {
            EXPECT_EQ(s.at("tests")[0].at("detail"), "output limit of 4096 bytes reached");
        } else if (s.at("path") == dir + "/primes/no-semicolon.vxl") {
            EXPECT_NE(s.at("diagnostics").get<std::string>().find("no-semicolon.vxl:21: error: "), std::string::npos);
        }
    }

    const vexltest::ProcessResult gcd = grade({"--format=json", dir + "/gcd.toml", dir + "/gcd/correct.vxl",
                                               dir + "/gcd/lcm-product.vxl", dir + "/gcd/divides-by-zero.vxl"});
    ASSERT_TRUE(gcd.exited_with(0)) << gcd.describe() << gcd.err;
    const std::map<std::string, std::string> g = outcomes(gcd.out);
    EXPECT_EQ(g.at(dir + "/gcd/correct.vxl"), "compiled 4 passed passed passed");
    EXPECT_EQ(g.at(dir + "/gcd/lcm-product.vxl"), "compiled 1 wrong passed wrong");
    EXPECT_EQ(g.at(dir + "/gcd/divides-by-zero.vxl"), "compiled 0 runtime-error runtime-error runtime-error");
    EXPECT_NE(gcd.out.find("\"detail\": \"line 5: runtime error: division by zero in 'mod'\""), std::string::npos);
}

TEST(Grade, CommandLineAndSubmissionsThatAreNoSource) {
    vexltest::TempDir dir;
    dir.write("suite.toml", "[[test]]\nname = \"one\"\nexpected = \"1\"\n[[test]]\nname = \"bad\"\nmatch = 3\n");
    vexltest::ProcessResult r = grade({(dir / "suite.toml").string(), (dir / "x.vxl").string()});
    EXPECT_TRUE(r.exited_with(2)) << r.describe();
    EXPECT_EQ(r.err, (dir / "suite.toml").string() + ":6: 'match' must be a string\n");
    EXPECT_EQ(r.out, "");

    EXPECT_TRUE(grade({"--format=xml", "s", "x"}).exited_with(2));
    EXPECT_TRUE(grade({"-j0", "s", "x"}).exited_with(2));
    EXPECT_TRUE(grade({(dir / "suite.toml").string()}).exited_with(2));
    r = run_process({{VEXL_GRADE, "--vexl=/nonexistent/vexl", "s", "x"}});
    EXPECT_TRUE(r.exited_with(1));
    EXPECT_NE(r.err.find("cannot find the machine program"), std::string::npos);
    r = run_process({{VEXL_GRADE, "--help"}});
    EXPECT_TRUE(r.exited_with(0));
    for (const char* word : {"--jobs", "--format", "--results-json", "--scratch", "junit", "html", "Exit status"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_EQ(run_process({{VEXL_GRADE, "--version"}}).out, "vexl-grade 0.1\n");

    // A folder with two sources, an empty folder and a missing file are
    // submissions that do not compile, with the reason; nothing is written
    // beside the submissions.
    dir.write("suite.toml", "[[test]]\nname = \"one\"\nexpected = \"1\"\n");
    put(dir, "two/a.vxl", "function void start() { output 1; }\n");
    put(dir, "two/b.vxl", "function void start() { output 1; }\n");
    put(dir, "one/a.vxl", "function void start() { output 1; }\n");
    fs::create_directories(dir / "empty");
    r = grade({"--format=json", (dir / "suite.toml").string(), (dir / "two").string(), (dir / "empty").string(),
               (dir / "missing.vxl").string(), (dir / "one").string()});
    ASSERT_TRUE(r.exited_with(0)) << r.describe() << r.err;
    const json doc = json::parse(r.out);
    const json& subs = doc.at("submissions");
    ASSERT_EQ(subs.size(), 4u);
    EXPECT_EQ(subs[0].at("diagnostics"), (dir / "two").string() + ": more than one .vxl file in this folder: a.vxl b.vxl\n");
    EXPECT_EQ(subs[1].at("diagnostics"), (dir / "empty").string() + ": no .vxl file in this folder\n");
    EXPECT_EQ(subs[2].at("diagnostics"), (dir / "missing.vxl").string() + ": no such file or folder\n");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(subs[i].at("status"), "compile-error");
    EXPECT_EQ(subs[3].at("status"), "compiled");
    EXPECT_EQ(subs[3].at("score"), 1);
    EXPECT_EQ(subs[3].at("source"), (dir / "one" / "a.vxl").string());
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        files.push_back(fs::relative(e.path(), dir.path()).string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"empty", "one", "one/a.vxl", "suite.toml", "two", "two/a.vxl", "two/b.vxl"}));
}

// Output with control bytes and a broken Shift-JIS character stays
// readable and valid in every report.
TEST(Grade, OutputThatIsNoText) {
    vexltest::TempDir dir;
    dir.write("suite.toml", "[[test]]\nname = \"t\"\nexpected = \"ok\\n\"\n");
    dir.write("odd.vxl", "function void start() {\n    output \"a\x01\x1b[31m\x82\";\n}\n");
    for (const char* format : {"--format=json", "--format=junit", "--format=html", "--format=table"}) {
        const vexltest::ProcessResult r = grade({format, (dir / "suite.toml").string(), (dir / "odd.vxl").string()});
        ASSERT_TRUE(r.exited_with(0)) << format << ": " << r.describe() << r.err;
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << format;
        if (std::string_view(format) == "--format=json") {
            EXPECT_EQ(json::parse(r.out).at("submissions")[0].at("tests")[0].at("status"), "wrong");
        } else if (std::string_view(format) == "--format=junit") {
            EXPECT_NE(r.out.find("a\\x01\\x1B[31m\\x82"), std::string::npos) << r.out;
            dir.write("odd.xml", r.out);
            const vexltest::ProcessResult valid =
                run_process({{"/usr/bin/xmllint", "--noout", "--schema", JUNIT_XSD, (dir / "odd.xml").string()}});
            EXPECT_TRUE(!valid.started || valid.exited_with(0)) << valid.err;
        }
    }
}

// The batch: the kind of each generated submission, the template it is
// made from (NAME stands for a name unique to the submission) and what
// it must get on the two tests (7 -> 14 worth 2 points, 5 -> 10 with no
// step limit and a timeout of 3 seconds, room for a busy machine).
struct Kind {
    const char* name;
    int count;
    const char* source;
    const char* outcome;
};
const Kind kKinds[] = {
    {"correct", 80, "function void start() {\n    int n, NAME;\n    NAME := 1;\n    input n;\n    output n * 2;\n    output \"\\n\";\n}\n",
     "compiled 3 passed passed"},
    {"wrong", 30, "function void start() {\n    int n, NAME;\n    input n;\n    output n * 2 + 1;\n    output \"\\n\";\n}\n",
     "compiled 0 wrong wrong"},
    {"partial", 30,
     "function void start() {\n    int n, NAME;\n    input n;\n    if (n = 7) {\n        output 15;\n    } else {\n"
     "        output n * 2;\n    }\n    output \"\\n\";\n}\n",
     "compiled 1 wrong passed"},
    {"broken", 30, "function void start() {\n    int n, NAME;\n    input n;\n    output n * 2\n}\n", "compile-error 0"},
    {"crash", 14, "function void start() {\n    int n, NAME;\n    input n;\n    NAME := 0;\n    output n div NAME;\n}\n",
     "compiled 0 runtime-error runtime-error"},
    {"endless", 2, "function void start() {\n    int n, NAME;\n    while (true) {\n        n := n + 1;\n    }\n}\n",
     "compiled 0 limit timeout"},
    {"flood", 14, "function void start() {\n    int NAME;\n    while (true) {\n        output NAME;\n    }\n}\n",
     "compiled 0 limit limit"},
};

// The submissions of a JSON report without the times of the runs.
json without_times(const std::string& report) {
    json doc = json::parse(report);
    for (json& s : doc.at("submissions"))
        for (json& t : s.at("tests")) t.erase("seconds");
    return doc.at("submissions");
}

TEST(Grade, GeneratedBatchIsTheSameWithOneOrEightJobs) {
    vexltest::TempDir dir;
    dir.write("suite.toml",
              "[defaults]\nmax_steps = 100000\nmax_output = 1000\ntimeout = 20\n"
              "[[test]]\nname = \"seven\"\ninput = \"7\\n\"\nexpected = \"14\\n\"\npoints = 2\n"
              "[[test]]\nname = \"five\"\ninput = \"5\\n\"\nexpected = \"10\\n\"\nmax_steps = 1000000000000000\n"
              "timeout = 3\n");
    std::vector<std::string> args{"--format=json", (dir / "suite.toml").string()};
    std::map<std::string, std::string> expected;
    int n = 0;
    for (const Kind& kind : kKinds)
        for (int i = 0; i < (kind.count + kBatchDivisor - 1) / kBatchDivisor; ++i) {
            std::string source = kind.source;
            const std::string name = "v" + std::to_string(++n);
            for (std::size_t at; (at = source.find("NAME")) != std::string::npos;) source.replace(at, 4, name);
            const std::string file = std::string(kind.name) + "-" + std::to_string(i) + ".vxl";
            // Every third one as a folder holding its source.
            const fs::path path = i % 3 ? dir.write(file, source) : put(dir, name + "/" + file, source).parent_path();
            args.push_back(path.string());
            expected[path.string()] = kind.outcome;
        }
    ASSERT_GE(expected.size() * kBatchDivisor, 200u);

    std::vector<std::string> eight = args, one = args;
    eight.insert(eight.begin(), "-j8");
    one.insert(one.begin(), {"-j", "1"});
    const vexltest::ProcessResult parallel = grade(eight);
    ASSERT_TRUE(parallel.exited_with(0)) << parallel.describe() << parallel.err;
    const std::map<std::string, std::string> got = outcomes(parallel.out);
    EXPECT_EQ(got.size(), expected.size());
    for (const auto& [path, outcome] : expected)
        EXPECT_EQ(got.count(path) ? got.at(path) : "(missing)", outcome) << path;
    const vexltest::ProcessResult serial = grade(one);
    ASSERT_TRUE(serial.exited_with(0)) << serial.describe() << serial.err;
    const json a = without_times(serial.out), b = without_times(parallel.out);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].dump(1), b[i].dump(1));

    // The runtime errors are named at their source line.
    const json report = json::parse(parallel.out);
    for (const json& s : report.at("submissions"))
        if (s.at("path").get<std::string>().find("crash") != std::string::npos) {
            for (const json& t : s.at("tests")) EXPECT_EQ(t.at("line"), 5) << s.at("path");
        }

    // JUnit against the schema, and the schema is no rubber stamp; the
    // results files. Every fourth submission is enough for these.
    std::vector<std::string> some{"--format=junit", "--results-json=" + (dir / "results").string(), args[1]};
    for (std::size_t i = 2; i < args.size(); i += 4) some.push_back(args[i]);
    const std::size_t graded = some.size() - 3;
    const vexltest::ProcessResult junit = grade(some);
    ASSERT_TRUE(junit.exited_with(0)) << junit.describe() << junit.err;
    dir.write("report.xml", junit.out);
    const vexltest::ProcessResult valid =
        run_process({{"/usr/bin/xmllint", "--noout", "--schema", JUNIT_XSD, (dir / "report.xml").string()}});
    if (!valid.started) GTEST_SKIP() << "xmllint is not installed (Debian package libxml2-utils)";
    EXPECT_TRUE(valid.exited_with(0)) << valid.err;
    std::size_t cases = 0;
    for (std::size_t at = 0; (at = junit.out.find("<testcase ", at)) != std::string::npos; ++at) ++cases;
    EXPECT_EQ(cases, 2 * graded);
    std::string broken = junit.out;
    broken.replace(broken.find(" tests=\"2\""), 10, "");
    dir.write("broken.xml", broken);
    EXPECT_TRUE(run_process({{"/usr/bin/xmllint", "--noout", "--schema", JUNIT_XSD, (dir / "broken.xml").string()}})
                    .exited_with(3));

    // One results file per submission, with the scores of the JSON report.
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir / "results")) {
        const json r = json::parse(vexltest::read_file(e.path()));
        EXPECT_EQ(r.at("max_score"), 3);
        EXPECT_EQ(r.at("tests").size(), 2u);
        double sum = 0;
        for (const json& t : r.at("tests")) sum += t.at("score").get<double>();
        EXPECT_EQ(r.at("score").get<double>(), sum);
        ++files;
    }
    EXPECT_EQ(files, graded);
}

}  // namespace
