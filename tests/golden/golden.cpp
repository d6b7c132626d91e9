// Discovery and checking of the golden cases; see golden.h for the layout.
#include "golden.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <set>
#include <sstream>

#include "listing.h"
#include "test_support.h"

namespace golden {

namespace {

using vexltest::ProcessResult;
using vexltest::read_file;
using vexltest::run_process;
using vexltest::TempDir;
using vexltest::write_file;

constexpr int kRunTimeoutMs = 10000;
constexpr int kCcTimeoutMs = 120000;  // gcc on a loaded two-core machine

bool file_exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

// The id without its first folder (the test's prefix names the kind), with
// everything but letters and digits made '_'.
std::string make_test_name(const std::string& id) {
    std::string s;
    for (char ch : id.substr(id.find('/') + 1)) s += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return s;
}

// One open iconv conversion, closed on scope exit.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible from *in; returns false at a sequence
    // that cannot be converted (*in then points at it).
    bool convert(const char** in, std::size_t* left, std::string& out) {
        char buf[256];
        while (*left > 0) {
            char* dst = buf;
            std::size_t room = sizeof buf;
            char* src = const_cast<char*>(*in);
            const std::size_t r = iconv(cd_, &src, left, &dst, &room);
            *in = src;
            out.append(buf, static_cast<std::size_t>(dst - buf));
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
                return false;
            }
        }
        return true;
    }

private:
    iconv_t cd_;
};

// Failure messages and bless bookkeeping for one case.
class Checker {
public:
    Checker(const Case& c, bool bless) : case_(c), bless_(bless) {}

    bool bless() const { return bless_; }
    void fail(const std::string& message) { outcome_.failures.push_back(message); }
    void skip(const std::string& why) { outcome_.skipped = why; }
    Outcome take() { return std::move(outcome_); }

    // Compares actual with the expectation file `ext`; an absent file means
    // empty output when absent_is_empty, else nothing is compared.
    void text(const std::string& what, const std::string& ext, const std::string& actual,
              bool absent_is_empty) {
        const fs::path file = case_.file(ext);
        std::string expected;
        if (!read_file(file, expected)) {
            if (!absent_is_empty) return;
            expected.clear();
        }
        if (expected != actual)
            fail(what + " differs from " + label(ext) + ":\n" + diff_text(expected, actual));
    }

    // Bless: the file holds actual, or is removed when actual is empty and
    // an absent file means empty.
    void write(const std::string& ext, const std::string& actual, bool remove_if_empty) {
        const fs::path file = case_.file(ext);
        std::error_code ec;
        if (remove_if_empty && actual.empty()) {
            if (fs::remove(file, ec)) outcome_.blessed.push_back("removed " + label(ext));
            return;
        }
        std::string old;
        if (read_file(file, old) && old == actual) return;
        write_file(file, actual);
        outcome_.blessed.push_back("wrote " + label(ext));
    }

    // Expected exit status from NAME.status (absent = 0); -1 reads as 255.
    bool expected_status(int& status) {
        std::string text;
        status = 0;
        if (!read_file(case_.file(".status"), text)) return true;
        const auto b = text.find_first_not_of(" \t\r\n");
        const auto e = text.find_last_not_of(" \t\r\n");
        int v = 0;
        const char* first = b == std::string::npos ? text.data() : text.data() + b;
        const char* last = b == std::string::npos ? first : text.data() + e + 1;
        const auto [ptr, ec] = std::from_chars(first, last, v);
        if (first == last || ec != std::errc() || ptr != last) {
            fail(label(".status") + " does not hold a decimal number");
            return false;
        }
        status = ((v % 256) + 256) % 256;
        return true;
    }

    void status(int actual) {
        if (bless_) {
            write(".status", actual == 0 ? "" : std::to_string(actual) + "\n", true);
            return;
        }
        int expected = 0;
        if (expected_status(expected) && expected != actual)
            fail("exit status " + std::to_string(actual) + ", expected " + std::to_string(expected) +
                 (file_exists(case_.file(".status")) ? " (" + label(".status") + ")" : " (no .status file)"));
    }

    std::string label(const std::string& ext) const { return case_.name + ext; }

private:
    const Case& case_;
    bool bless_;
    Outcome outcome_;
};

std::string show_run(const std::string& who, const ProcessResult& r) {
    std::string s = who + ": " + r.describe();
    if (!r.err.empty()) s += "\nits standard error:\n" + r.err;
    return s;
}

std::vector<image::Word> words_of(const std::string& bytes) {
    std::istringstream in(bytes);
    return image::read_words(in);
}

// The error count from the compiler's summary line "NAME - エラー N、警告 M";
// -1 when there is none.
long summary_errors(const std::string& stderr_utf8) {
    const std::string key = " - エラー ";
    const auto at = stderr_utf8.rfind(key);
    if (at == std::string::npos) return -1;
    long n = -1;
    const char* first = stderr_utf8.data() + at + key.size();
    const auto [ptr, ec] = std::from_chars(first, stderr_utf8.data() + stderr_utf8.size(), n);
    if (ec != std::errc() || ptr == first) return -1;
    return n;
}

// Lines of a text for the diff, each with its control bytes made visible
// and a final line without newline marked.
std::vector<std::string> diff_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        if (ch == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else if (ch == '\t') {
            cur += "\\t";
        } else if (ch < 0x20 || ch == 0x7F) {
            static const char digits[] = "0123456789ABCDEF";
            cur += "\\x";
            cur += digits[ch >> 4];
            cur += digits[ch & 15];
        } else {
            cur += static_cast<char>(ch);
        }
    }
    if (!cur.empty()) lines.push_back(cur + "  (no newline at end)");
    return lines;
}

}  // namespace

std::string diff_text(const std::string& expected, const std::string& actual) {
    const std::vector<std::string> a = diff_lines(expected), b = diff_lines(actual);
    std::ostringstream out;
    out << "--- expected (" << a.size() << " lines)\n+++ actual (" << b.size() << " lines)\n";

    // Longest common subsequence of lines; outputs here are small, and a
    // huge one just gets its first difference.
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::pair<char, std::string>> ops;
    if (n * m <= 4'000'000) {
        std::vector<std::vector<unsigned>> lcs(n + 1, std::vector<unsigned>(m + 1, 0));
        for (std::size_t i = n; i-- > 0;)
            for (std::size_t j = m; j-- > 0;)
                lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
        std::size_t i = 0, j = 0;
        while (i < n || j < m) {
            if (i < n && j < m && a[i] == b[j]) ops.emplace_back(' ', a[i++]), ++j;
            else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1])) ops.emplace_back('-', a[i++]);
            else ops.emplace_back('+', b[j++]);
        }
    } else {
        std::size_t i = 0;
        while (i < n && i < m && a[i] == b[i]) ops.emplace_back(' ', a[i++]);
        if (i < n) ops.emplace_back('-', a[i]);
        if (i < m) ops.emplace_back('+', b[i]);
    }

    // Changed lines with two lines of context, "..." for what is skipped.
    constexpr std::size_t kContext = 2, kMaxLines = 60;
    std::vector<bool> show(ops.size(), false);
    for (std::size_t k = 0; k < ops.size(); ++k)
        if (ops[k].first != ' ')
            for (std::size_t d = k >= kContext ? k - kContext : 0; d <= k + kContext && d < ops.size(); ++d)
                show[d] = true;
    std::size_t printed = 0, line = 0;
    bool gap = false;
    for (std::size_t k = 0; k < ops.size(); ++k) {
        if (ops[k].first != '+') ++line;
        if (!show[k]) {
            gap = true;
            continue;
        }
        if (printed == kMaxLines) {
            out << "... (diff cut)\n";
            break;
        }
        if (gap) out << "@@ expected line " << line << " @@\n";
        gap = false;
        out << ops[k].first << ops[k].second << '\n';
        ++printed;
    }
    return out.str();
}

bool parse_hex_words(const std::string& text, std::vector<image::Word>& words, std::string& error) {
    std::istringstream in(text);
    std::string line;
    int line_no = 0;
    while (std::getline(in, line)) {
        ++line_no;
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream tokens(line);
        std::string tok;
        while (tokens >> tok) {
            std::string digits = tok;
            if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
                digits.erase(0, 2);
            unsigned v = 0;
            const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
            if (digits.empty() || digits.size() > 4 || ec != std::errc() ||
                ptr != digits.data() + digits.size()) {
                error = "line " + std::to_string(line_no) + ": \"" + tok + "\" is not a word of 1-4 hex digits";
                return false;
            }
            words.push_back(static_cast<image::Word>(v));
        }
    }
    return true;
}

bool utf8_to_cp932(const std::string& utf8, std::string& cp932, std::string& error) {
    Converter conv("CP932", "UTF-8");
    if (!conv.ok()) {
        error = "iconv has no CP932 conversion";
        return false;
    }
    const char* in = utf8.data();
    std::size_t left = utf8.size();
    cp932.clear();
    if (conv.convert(&in, &left, cp932)) return true;
    error = "byte " + std::to_string(in - utf8.data()) + " has no CP932 form";
    return false;
}

std::string cp932_to_utf8(const std::string& cp932) {
    Converter conv("UTF-8", "CP932");
    if (!conv.ok()) return cp932;
    std::string out;
    const char* in = cp932.data();
    std::size_t left = cp932.size();
    while (!conv.convert(&in, &left, out)) {
        out += *in++;  // keep the byte that is not CP932 as it is
        --left;
    }
    return out;
}

std::vector<Case> discover(const fs::path& golden_dir, const fs::path& examples_dir) {
    std::vector<Case> cases;
    std::set<std::string> seen;
    auto add = [&](Kind kind, const fs::path& file, const std::string& id) {
        if (!seen.insert(id).second) return;  // NAME.hex beside NAME.exec: one case
        cases.push_back(Case{kind, file.parent_path(), file.stem().string(), id, make_test_name(id)});
    };
    auto hidden = [](const fs::path& p) { return p.filename().string().starts_with("."); };
    std::error_code ec;

    const fs::path vm = golden_dir / "vm";
    if (fs::is_directory(vm, ec))
        for (const auto& e : fs::directory_iterator(vm))
            if (e.is_regular_file() && !hidden(e.path()) &&
                (e.path().extension() == ".hex" || e.path().extension() == ".exec"))
                add(Kind::Machine, e.path(), "vm/" + e.path().stem().string());

    const fs::path compiler = golden_dir / "compiler";
    if (fs::is_directory(compiler, ec))
        for (const auto& e : fs::recursive_directory_iterator(compiler))
            if (e.is_regular_file() && !hidden(e.path()) && e.path().extension() == ".vxl") {
                const fs::path rel = fs::relative(e.path(), compiler);
                add(Kind::Compiler, e.path(), "compiler/" + rel.parent_path().generic_string() +
                                                  (rel.has_parent_path() ? "/" : "") + e.path().stem().string());
            }

    const fs::path runtime = golden_dir / "runtime";
    if (fs::is_directory(runtime, ec))
        for (const auto& e : fs::directory_iterator(runtime))
            if (e.is_regular_file() && !hidden(e.path()) && e.path().extension() == ".vxl")
                add(Kind::Runtime, e.path(), "runtime/" + e.path().stem().string());

    if (fs::is_directory(examples_dir, ec))
        for (const auto& e : fs::directory_iterator(examples_dir)) {
            const fs::path out = fs::path(e.path()).replace_extension(".out");
            if (e.is_regular_file() && !hidden(e.path()) && e.path().extension() == ".vxl" && file_exists(out))
                add(Kind::Example, e.path(), "examples/" + e.path().stem().string());
        }

    std::sort(cases.begin(), cases.end(), [](const Case& x, const Case& y) { return x.id < y.id; });
    // Two ids can sanitise alike ("a-b" and "a_b"); keep test names apart.
    std::set<std::string> names;
    for (Case& c : cases)
        for (int k = 2; !names.insert(c.test_name).second; ++k) c.test_name = make_test_name(c.id) + "_" + std::to_string(k);
    return cases;
}

Outcome check_machine_case(const Case& c, const Tools& tools, bool bless) {
    Checker check(c, bless);
    if (tools.vexl.empty()) {
        check.skip("vexl is not built");
        return check.take();
    }
    TempDir tmp;
    const fs::path& work = tmp.path();
    const std::string image_name = c.name + ".exec";

    // The image: annotated hex words, or raw bytes copied unchanged (so a
    // raw case can hold an odd final byte).
    std::vector<image::Word> words;
    std::string bytes;
    const bool has_hex = file_exists(c.file(".hex")), has_raw = file_exists(c.file(".exec"));
    if (has_hex && has_raw) {
        check.fail("both " + check.label(".hex") + " and " + check.label(".exec") + " exist; keep one");
        return check.take();
    }
    if (has_hex) {
        std::string text, error;
        if (!read_file(c.file(".hex"), text) || !parse_hex_words(text, words, error)) {
            check.fail(check.label(".hex") + ": " + (error.empty() ? "cannot read" : error));
            return check.take();
        }
        std::ostringstream out;
        image::write_words(out, words);
        bytes = out.str();
    } else {
        if (!read_file(c.file(".exec"), bytes)) {
            check.fail("cannot read " + check.label(".exec"));
            return check.take();
        }
        words = words_of(bytes);
    }
    write_file(work / image_name, bytes);

    const std::string in = read_file(c.file(".in"));
    const ProcessResult r = run_process({{tools.vexl, image_name}, work, in, kRunTimeoutMs});
    if (!r.exited()) {
        check.fail(show_run("vexl", r));
        return check.take();
    }
    if (bless) {
        check.write(".out", r.out, true);
        check.write(".err", r.err, true);
    } else {
        check.text("standard output", ".out", r.out, true);
        check.text("standard error", ".err", r.err, true);
    }
    check.status(r.status);

    if (file_exists(c.file(".lst"))) {
        const std::string listing = image::list_image(words);
        if (bless) check.write(".lst", listing, false);
        else check.text("listing", ".lst", listing, false);
        // The tool must print the same listing as the library.
        if (!tools.vexldump.empty()) {
            const ProcessResult d = run_process({{tools.vexldump, image_name}, work, "", kRunTimeoutMs});
            if (!d.exited() || d.status != 0 || !d.err.empty())
                check.fail(show_run("vexldump", d));
            else if (d.out != listing)
                check.fail("vexldump output differs from list_image:\n" + diff_text(listing, d.out));
        }
    }
    return check.take();
}

Outcome check_compiler_case(const Case& c, const Tools& tools, bool bless) {
    Checker check(c, bless);
    TempDir tmp;
    const fs::path& work = tmp.path();
    const std::string source = c.name + ".vxl";
    const fs::path exec_file = work / (c.name + ".exec"), c_file = work / (c.name + ".c");
    fs::copy_file(c.file(".vxl"), work / source);

    // NAME.flags: options given before the source name. A case whose
    // diagnostics are UTF-8 keeps NAME.err as printed; one whose source is
    // UTF-8 keeps NAME.out in UTF-8 (the programs print CP932).
    std::vector<std::string> argv = tools.vexlc;
    bool utf8_err = false, utf8_out = false;
    if (std::string flags; read_file(c.file(".flags"), flags)) {
        std::istringstream words(flags);
        for (std::string w; words >> w;) {
            utf8_err = utf8_err || w == "--diagnostics-charset=utf-8";
            utf8_out = utf8_out || w == "--input-charset=utf-8";
            argv.push_back(w);
        }
    }
    argv.push_back(source);
    const ProcessResult r = run_process({argv, work, "", kRunTimeoutMs});
    if (!r.exited()) {
        check.fail(show_run("vexlc", r));
        return check.take();
    }
    const std::string err_utf8 = utf8_err ? r.err : cp932_to_utf8(r.err);

    check.status(r.status);
    if (bless) {
        if (c.kind != Kind::Example || file_exists(c.file(".err"))) check.write(".err", err_utf8, false);
    } else if (std::string expected_utf8; read_file(c.file(".err"), expected_utf8)) {
        std::string expected, error;
        if (utf8_err) expected = expected_utf8;
        if (!utf8_err && !utf8_to_cp932(expected_utf8, expected, error))
            check.fail(check.label(".err") + ": " + error);
        else if (expected != r.err)
            check.fail("standard error differs from " + check.label(".err") + " (compared as CP932, shown as UTF-8):\n" +
                       diff_text(expected_utf8, err_utf8));
    }
    if (!r.out.empty())
        check.fail("vexlc wrote to standard output:\n" + r.out);

    // The outputs are written exactly when the compilation ended normally
    // without an error; a status 0 run with errors writes none.
    const long errors = summary_errors(err_utf8);
    const bool want_outputs = r.status == 0 && errors == 0;
    if (r.status == 0 && errors < 0)
        check.fail("no summary line (\" - エラー N、警告 M\") on standard error");
    const bool have_exec = file_exists(exec_file), have_c = file_exists(c_file);
    if (want_outputs) {
        if (!have_exec) check.fail(c.name + ".exec was not created");
        if (!have_c) check.fail(c.name + ".c was not created");
    } else if (r.status != 0 || errors > 0) {
        const std::string why = r.status != 0 ? "after exit status " + std::to_string(r.status)
                                              : "although errors were reported";
        if (have_exec) check.fail(c.name + ".exec was created " + why);
        if (have_c) check.fail(c.name + ".c was created " + why);
    }
    if (!want_outputs || !have_exec || !have_c) {
        if (file_exists(c.file(".out"))) check.fail(check.label(".out") + " exists but there is no program to run");
        return check.take();
    }

    std::string c_text, exec_bytes;
    read_file(c_file, c_text);
    read_file(exec_file, exec_bytes);
    if (file_exists(c.file(".c"))) {
        if (bless) check.write(".c", c_text, false);
        else check.text("C text", ".c", c_text, false);
    }
    if (file_exists(c.file(".lst"))) {
        const std::string listing = image::list_image(words_of(exec_bytes));
        if (bless) check.write(".lst", listing, false);
        else check.text("listing", ".lst", listing, false);
    }

    if (!file_exists(c.file(".out"))) return check.take();
    // Both translations must print NAME.out for the same input.
    const std::string in = read_file(c.file(".in"));
    if (tools.vexl.empty()) {
        check.skip("vexl is not built");
    } else {
        const ProcessResult m = run_process({{tools.vexl, c.name + ".exec"}, work, in, kRunTimeoutMs});
        if (!m.exited() || m.status != 0 || !m.err.empty())
            check.fail(show_run("vexl " + c.name + ".exec", m) + "\nits standard output:\n" + m.out);
        else if (bless)
            check.write(".out", utf8_out ? cp932_to_utf8(m.out) : m.out, false);
        else
            check.text("vexl output", ".out", utf8_out ? cp932_to_utf8(m.out) : m.out, false);
    }
    const ProcessResult cc =
        run_process({{tools.cc, "-std=gnu17", "-w", "-o", "prog", c.name + ".c"}, work, "", kCcTimeoutMs});
    if (!cc.exited() || cc.status != 0) {
        check.fail(show_run("the C compiler on " + c.name + ".c", cc));
        return check.take();
    }
    // The C program's exit status is not looked at: the entry function may
    // be a void main.
    const ProcessResult p = run_process({{(work / "prog").string()}, work, in, kRunTimeoutMs});
    if (!p.exited())
        check.fail(show_run("the C program", p));
    else
        check.text("C program output", ".out", utf8_out ? cp932_to_utf8(p.out) : p.out, false);
    return check.take();
}

Outcome check_runtime_case(const Case& c, const Tools& tools, bool bless) {
    Checker check(c, bless);
    if (tools.vexl.empty()) {
        check.skip("vexl is not built");
        return check.take();
    }
    TempDir tmp;
    const fs::path work = tmp.path() / "work";
    fs::create_directory(work);
    fs::copy_file(c.file(".vxl"), work / (c.name + ".vxl"));

    std::vector<std::string> argv = tools.vexlc;
    std::string flags = "-g";
    read_file(c.file(".flags"), flags);
    std::istringstream words(flags);
    for (std::string w; words >> w;) argv.push_back(w);
    argv.push_back(c.name + ".vxl");
    const ProcessResult r = run_process({argv, work, "", kRunTimeoutMs});
    if (!r.exited() || r.status != 0 || !file_exists(work / (c.name + ".dbg"))) {
        check.fail(show_run("vexlc", r) + "\n(and a debug file must be written)");
        return check.take();
    }

    // With the debug file: standard error has the source lines. Without
    // it: exactly the machine's own output; standard output is the same.
    const std::string in = read_file(c.file(".in"));
    const std::string image = c.name + ".exec";
    // NAME.run-flags: options for vexl, given before the image name.
    std::vector<std::string> run = {tools.vexl};
    std::string run_flags;
    read_file(c.file(".run-flags"), run_flags);
    std::istringstream run_words(run_flags);
    for (std::string w; run_words >> w;) run.push_back(w);
    run.push_back(image);
    const ProcessResult with = run_process({run, work, in, kRunTimeoutMs});
    fs::remove(work / (c.name + ".dbg"));
    const ProcessResult without = run_process({run, work, in, kRunTimeoutMs});
    if (!with.exited() || !without.exited()) {
        check.fail(show_run("vexl", with.exited() ? without : with));
        return check.take();
    }
    if (bless) {
        check.write(".out", with.out, true);
        check.write(".err", with.err, true);
        check.write(".plain.err", without.err, true);
    } else {
        check.text("standard output", ".out", with.out, true);
        check.text("standard error", ".err", with.err, true);
        check.text("standard error without the debug file", ".plain.err", without.err, true);
    }
    check.text("standard output without the debug file", ".out", without.out, true);
    check.status(with.status);
    if (without.status != with.status) check.fail("the exit status changes without the debug file");
    return check.take();
}

}  // namespace golden
