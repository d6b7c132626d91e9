// Reading a suite file (see suite.h) with toml11. Every complaint names the
// file and the line of the key or table it is about.
#include "suite.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <toml.hpp>

#include "charset.h"

namespace grade {

namespace fs = std::filesystem;

namespace {

using Table = toml::value;

class Reader {
public:
    explicit Reader(std::string path) : path_(std::move(path)) {}

    [[noreturn]] void fail(const toml::value& at, const std::string& message) const {
        fail_at(at.location().line(), message);
    }
    [[noreturn]] void fail_at(unsigned line, const std::string& message) const {
        throw SuiteError(path_ + (line ? ":" + std::to_string(line) : std::string()) + ": " + message);
    }

    // Only the keys in `known`; the first other key (by line) is a mistake.
    void check_keys(const toml::value& table, const std::set<std::string>& known, const std::string& where) const {
        const toml::value* odd = nullptr;
        std::string odd_key;
        for (const auto& [key, value] : table.as_table())
            if (!known.count(key) && (!odd || value.location().line() < odd->location().line())) {
                odd = &value;
                odd_key = key;
            }
        if (odd) fail(*odd, "unknown key '" + odd_key + "' in " + where);
    }

    std::uint64_t count(const toml::value& v, const char* key) const {
        if (!v.is_integer() || v.as_integer() < 0) fail(v, std::string("'") + key + "' must be a whole number of 0 or more");
        return static_cast<std::uint64_t>(v.as_integer());
    }
    double number(const toml::value& v, const char* key) const {
        if (!v.is_integer() && !v.is_floating()) fail(v, std::string("'") + key + "' must be a number");
        return v.is_integer() ? static_cast<double>(v.as_integer()) : v.as_floating();
    }
    std::string text(const toml::value& v, const char* key) const {
        if (!v.is_string()) fail(v, std::string("'") + key + "' must be a string");
        return v.as_string().str;
    }
    // The bytes of a file named relative to the suite.
    std::string file(const toml::value& v, const char* key) const {
        const fs::path name = fs::path(path_).parent_path() / text(v, key);
        std::ifstream in(name, std::ios::binary);
        std::error_code ec;
        if (!in || fs::is_directory(name, ec)) fail(v, "cannot read '" + name.string() + "'");
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // An inline text in the machine's character set.
    std::string machine_text(const toml::value& v, const char* key) const {
        const charset::Converted c = charset::utf8_to_cp932(text(v, key));
        if (!c.bad_lines.empty()) fail(v, std::string("'") + key + "' holds a character without a CP932 form");
        return c.bytes;
    }

    // The limits and the way of comparing of [defaults] or of one test.
    void settings(const toml::value& table, RunLimits& limits, Match& match) const {
        if (table.contains("max_steps")) limits.max_steps = count(table.at("max_steps"), "max_steps");
        if (table.contains("max_output")) limits.max_output = count(table.at("max_output"), "max_output");
        if (table.contains("timeout")) {
            const toml::value& v = table.at("timeout");
            limits.timeout = number(v, "timeout");
            if (!(limits.timeout > 0) || limits.timeout > 86400) fail(v, "'timeout' must be more than 0 and at most 86400 seconds");
        }
        if (table.contains("match")) {
            const toml::value& v = table.at("match");
            if (!match_named(text(v, "match"), match)) fail(v, "'match' must be " + match_choices());
        }
    }

private:
    std::string path_;
};

// "[error] toml::parse_x: what happened\n --> file\n ... ^--- detail" as one
// line: what happened (detail).
std::string syntax_message(const std::string& what) {
    std::string first = what.substr(0, what.find('\n'));
    if (const std::size_t colon = first.find(": "); first.rfind("[error]", 0) == 0 && colon != std::string::npos)
        first = first.substr(colon + 2);
    const std::size_t mark = what.rfind("^--- ");
    if (mark != std::string::npos) {
        const std::string detail = what.substr(mark + 5, what.find('\n', mark) - mark - 5);
        if (!detail.empty()) first += " (" + detail + ")";
    }
    return first;
}

}  // namespace

double Suite::max_score() const {
    double sum = 0;
    for (const Test& t : tests) sum += t.points;
    return sum;
}

Suite load_suite(const std::string& path) {
    Reader reader(path);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) reader.fail_at(0, fs::exists(path, ec) ? "not a file" : "no such file");
    toml::value root;
    try {
        root = toml::parse(path);
    } catch (const toml::syntax_error& e) {
        reader.fail_at(e.location().line(), syntax_message(e.what()));
    } catch (const std::runtime_error& e) {
        reader.fail_at(0, "cannot read the file");
    }
    reader.check_keys(root, {"defaults", "test"}, "the suite (expected [defaults] and [[test]] tables)");

    RunLimits defaults;
    Match default_match = Match::exact;
    if (root.contains("defaults")) {
        const toml::value& d = root.at("defaults");
        if (!d.is_table()) reader.fail(d, "'defaults' must be a table ([defaults])");
        reader.check_keys(d, {"max_steps", "max_output", "timeout", "match"}, "[defaults]");
        reader.settings(d, defaults, default_match);
    }
    if (!root.contains("test")) reader.fail_at(0, "no tests (each test is a [[test]] table)");
    const toml::value& list = root.at("test");
    if (!list.is_array()) reader.fail(list, "'test' must be an array of tables ([[test]])");

    Suite suite;
    suite.path = path;
    std::set<std::string> names;
    for (const toml::value& t : list.as_array()) {
        if (!t.is_table()) reader.fail(t, "each test must be a table ([[test]])");
        reader.check_keys(t, {"name", "input", "input_file", "expected", "expected_file", "points", "max_steps",
                              "max_output", "timeout", "match"},
                          "[[test]]");
        Test test;
        test.limits = defaults;
        test.match = default_match;
        if (!t.contains("name")) reader.fail(t, "a test without a 'name'");
        const toml::value& name = t.at("name");
        test.name = reader.text(name, "name");
        if (test.name.empty()) reader.fail(name, "'name' must not be empty");
        if (!names.insert(test.name).second) reader.fail(name, "a second test named '" + test.name + "'");
        if (t.contains("input") && t.contains("input_file"))
            reader.fail(t.at("input_file"), "'input' and 'input_file' both given; keep one");
        if (t.contains("input")) test.input = reader.machine_text(t.at("input"), "input");
        if (t.contains("input_file")) test.input = reader.file(t.at("input_file"), "input_file");
        if (t.contains("expected") && t.contains("expected_file"))
            reader.fail(t.at("expected_file"), "'expected' and 'expected_file' both given; keep one");
        reader.settings(t, test.limits, test.match);
        // A pattern is UTF-8 like the text it is matched against.
        const toml::value* expected = nullptr;
        if (t.contains("expected")) {
            expected = &t.at("expected");
            test.expected = test.match == Match::regex ? reader.text(*expected, "expected")
                                                       : reader.machine_text(*expected, "expected");
        } else if (t.contains("expected_file")) {
            expected = &t.at("expected_file");
            test.expected = reader.file(*expected, "expected_file");
        } else {
            reader.fail(name, "test '" + test.name + "' has no 'expected' or 'expected_file'");
        }
        if (t.contains("points")) {
            const toml::value& p = t.at("points");
            test.points = reader.number(p, "points");
            if (!(test.points >= 0) || !std::isfinite(test.points)) reader.fail(p, "'points' must be 0 or more");
        }
        try {
            test.expectation = std::make_shared<const Expectation>(test.match, test.expected);
        } catch (const std::invalid_argument& e) {
            reader.fail(*expected, e.what());
        }
        suite.tests.push_back(std::move(test));
    }
    if (suite.tests.empty()) reader.fail(list, "no tests");
    return suite;
}

}  // namespace grade
