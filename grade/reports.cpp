// The reports (see reports.h).
#include "reports.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "charset.h"
#include "compare.h"

namespace grade {

namespace {

using nlohmann::ordered_json;

constexpr std::size_t kShownBytes = 4000;  // of an output or an error text in a report
constexpr std::size_t kShownLines = 400;   // of a difference

std::string points(double p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", p);
    return buf;
}

// Whole points as JSON integers, others as numbers with a fraction.
ordered_json number(double p) {
    if (p == std::floor(p) && std::fabs(p) < 9e15) return static_cast<long long>(p);
    return p;
}

// Program output (CP932) as UTF-8 text, control characters other than tab
// and newline written as \xHH, cut after `limit` bytes of input.
std::string shown(std::string_view bytes, std::size_t limit = kShownBytes) {
    const bool cut = bytes.size() > limit;
    if (cut) {
        bytes = bytes.substr(0, limit);
        // Not in the middle of a two-byte character.
        std::size_t i = 0;
        while (i < bytes.size()) i += charset::is_lead_byte(static_cast<unsigned char>(bytes[i])) ? 2 : 1;
        if (i > bytes.size()) bytes.remove_suffix(1);
    }
    std::string text;
    for (char c : charset::cp932_to_utf8(bytes)) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n' && c != '\t') || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            text += buf;
        } else {
            text += c;
        }
    }
    if (cut) text += "\n[… cut]\n";
    return text;
}

// Diagnostics are UTF-8 already; only control characters are made visible.
std::string shown_utf8(std::string_view text) {
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n' && c != '\t') || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    return out;
}

// The line `number` (from 1) of a source, in UTF-8.
std::string source_line(const std::string& source, int number) {
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) {
        start = source.find('\n', start);
        if (start == std::string::npos) return "";
        ++start;
    }
    std::string line = source.substr(start, source.find('\n', start) - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return shown(line, 1000);
}

// What a failed test tells the student in the harness's results and in
// JUnit: the expected and the actual output, or the machine's complaint.
std::string failure_text(const Test& test, const TestResult& r, const SubmissionResult& s) {
    std::string text = r.detail + "\n";
    if (r.status == Status::wrong) {
        text += (test.match == Match::regex ? "Expected output matching:\n" + test.expected
                                            : "Expected output:\n" + shown(test.expected)) +
                "\nActual output:\n" + shown(r.output);
    } else if (r.status == Status::runtime_error) {
        if (r.error_line) text += "Line " + std::to_string(r.error_line) + ": " + source_line(s.source, r.error_line) + "\n";
        text += shown(r.errors);
    }
    return text;
}

std::size_t width_of(std::string_view utf8) {
    std::size_t n = 0;
    for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string padded(std::string text, std::size_t width, bool right = false) {
    const std::size_t w = width_of(text);
    if (w >= width) return text;
    return right ? std::string(width - w, ' ') + text : text + std::string(width - w, ' ');
}

struct Totals {
    std::size_t compiled = 0, full = 0;
    double sum = 0;
};
Totals totals_of(const Suite& suite, const Results& results) {
    Totals t;
    for (const SubmissionResult& s : results) {
        t.compiled += s.compiled;
        t.full += s.compiled && s.score == suite.max_score();
        t.sum += s.score;
    }
    return t;
}

}  // namespace

const char* submission_status(const SubmissionResult& result) { return result.compiled ? "compiled" : "compile-error"; }

void write_table(std::ostream& out, const Suite& suite, const Results& results) {
    std::size_t first = width_of("submission");
    for (const SubmissionResult& s : results) first = std::max(first, std::min<std::size_t>(width_of(s.path), 48));
    std::vector<std::size_t> widths;
    for (const Test& t : suite.tests) widths.push_back(std::max<std::size_t>(width_of(t.name), 7));
    const std::string max = points(suite.max_score());
    std::string line = padded("submission", first);
    for (std::size_t i = 0; i < suite.tests.size(); ++i) line += "  " + padded(suite.tests[i].name, widths[i], true);
    line += "  " + padded("score", 5 + 2 * max.size(), true);
    out << line << '\n' << std::string(width_of(line), '-') << '\n';
    for (const SubmissionResult& s : results) {
        line = padded(s.path, first);
        for (std::size_t i = 0; i < suite.tests.size(); ++i) {
            std::string cell = "-";
            if (s.compiled) {
                const TestResult& r = s.tests[i];
                cell = r.status == Status::passed ? points(r.score) : status_cell(r.status);
            }
            line += "  " + padded(cell, widths[i], true);
        }
        line += "  " + padded(points(s.score) + " / " + max, 5 + 2 * max.size(), true);
        if (!s.compiled) line += "  compile error";
        out << line << '\n';
    }
    const Totals t = totals_of(suite, results);
    out << '\n'
        << results.size() << " submission(s), " << suite.tests.size() << " test(s) worth " << max << " point(s); "
        << t.full << " with full marks, " << results.size() - t.compiled << " not compiled; mean score "
        << points(results.empty() ? 0 : t.sum / static_cast<double>(results.size())) << '\n';
    for (const SubmissionResult& s : results)
        if (!s.compiled) out << '\n' << s.path << ": does not compile\n" << shown_utf8(s.diagnostics);
}

void write_json(std::ostream& out, const Suite& suite, const Results& results) {
    ordered_json doc = {{"suite", suite.path}, {"max_score", number(suite.max_score())}, {"submissions", ordered_json::array()}};
    for (const SubmissionResult& s : results) {
        ordered_json sub = {{"path", s.path},
                            {"source", s.source_path},
                            {"score", number(s.score)},
                            {"max_score", number(suite.max_score())},
                            {"status", submission_status(s)},
                            {"diagnostics", s.diagnostics},
                            {"tests", ordered_json::array()}};
        for (std::size_t i = 0; s.compiled && i < suite.tests.size(); ++i) {
            const TestResult& r = s.tests[i];
            ordered_json test = {{"name", suite.tests[i].name},
                                 {"status", status_name(r.status)},
                                 {"score", number(r.score)},
                                 {"max_score", number(suite.tests[i].points)}};
            if (!r.detail.empty()) test["detail"] = r.detail;
            if (r.error_line) test["line"] = r.error_line;
            test["seconds"] = r.seconds;
            sub["tests"].push_back(std::move(test));
        }
        doc["submissions"].push_back(std::move(sub));
    }
    out << doc.dump(2, ' ', false, ordered_json::error_handler_t::replace) << '\n';
}

std::string results_json(const Suite& suite, const SubmissionResult& s) {
    ordered_json doc = {{"score", number(s.score)},
                        {"max_score", number(suite.max_score())},
                        {"output", s.compiled ? shown_utf8(s.diagnostics)
                                              : "The submission does not compile.\n" + shown_utf8(s.diagnostics)},
                        {"tests", ordered_json::array()}};
    for (std::size_t i = 0; i < suite.tests.size(); ++i) {
        const Test& test = suite.tests[i];
        ordered_json t = {{"name", test.name}, {"score", 0}, {"max_score", number(test.points)}};
        if (!s.compiled) {
            t["status"] = "failed";
            t["output"] = "not run: the submission does not compile";
        } else {
            const TestResult& r = s.tests[i];
            t["score"] = number(r.score);
            t["status"] = r.status == Status::passed ? "passed" : "failed";
            t["output"] = r.status == Status::passed ? "" : status_name(r.status) + std::string(": ") +
                                                                   failure_text(test, r, s);
        }
        doc["tests"].push_back(std::move(t));
    }
    return doc.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

void write_junit(std::ostream& out, const Suite& suite, const Results& results) {
    std::size_t tests = 0, failures = 0, errors = 0;
    double time = 0;
    for (const SubmissionResult& s : results)
        for (std::size_t i = 0; i < suite.tests.size(); ++i) {
            ++tests;
            if (!s.compiled) {
                ++errors;
                continue;
            }
            time += s.tests[i].seconds;
            failures += s.tests[i].status == Status::wrong;
            errors += s.tests[i].status != Status::wrong && s.tests[i].status != Status::passed;
        }
    char buf[64];
    auto seconds = [&](double t) {
        std::snprintf(buf, sizeof buf, "%.3f", t);
        return std::string(buf);
    };
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<testsuites name=\"" << escaped(suite.path) << "\" tests=\"" << tests << "\" failures=\"" << failures
        << "\" errors=\"" << errors << "\" time=\"" << seconds(time) << "\">\n";
    for (const SubmissionResult& s : results) {
        std::size_t f = 0, e = 0;
        double t = 0;
        for (std::size_t i = 0; i < suite.tests.size(); ++i) {
            if (!s.compiled) {
                ++e;
                continue;
            }
            t += s.tests[i].seconds;
            f += s.tests[i].status == Status::wrong;
            e += s.tests[i].status != Status::wrong && s.tests[i].status != Status::passed;
        }
        const std::string name = escaped(s.path);
        out << "  <testsuite name=\"" << name << "\" tests=\"" << suite.tests.size() << "\" failures=\"" << f
            << "\" errors=\"" << e << "\" skipped=\"0\" time=\"" << seconds(t) << "\">\n"
            << "    <properties>\n"
            << "      <property name=\"score\" value=\"" << points(s.score) << "\"/>\n"
            << "      <property name=\"max_score\" value=\"" << points(suite.max_score()) << "\"/>\n"
            << "      <property name=\"status\" value=\"" << submission_status(s) << "\"/>\n"
            << "    </properties>\n";
        for (std::size_t i = 0; i < suite.tests.size(); ++i) {
            const Test& test = suite.tests[i];
            out << "    <testcase name=\"" << escaped(test.name) << "\" classname=\"" << name << "\" time=\""
                << seconds(s.compiled ? s.tests[i].seconds : 0) << "\"";
            if (s.compiled && s.tests[i].status == Status::passed) {
                out << "/>\n";
                continue;
            }
            out << ">\n";
            if (!s.compiled) {
                out << "      <error type=\"compile-error\" message=\"the submission does not compile\">"
                    << escaped(shown_utf8(s.diagnostics)) << "</error>\n";
            } else {
                const TestResult& r = s.tests[i];
                const char* element = r.status == Status::wrong ? "failure" : "error";
                out << "      <" << element << " type=\"" << status_name(r.status) << "\" message=\""
                    << escaped(shown_utf8(r.detail)) << "\">" << escaped(failure_text(test, r, s)) << "</" << element
                    << ">\n";
            }
            out << "    </testcase>\n";
        }
        if (!s.diagnostics.empty()) out << "    <system-err>" << escaped(shown_utf8(s.diagnostics)) << "</system-err>\n";
        out << "  </testsuite>\n";
    }
    out << "</testsuites>\n";
}

namespace {

constexpr const char* kStyle = R"(body{font-family:system-ui,sans-serif;margin:2em;color:#222}
table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:2px 8px}
th{background:#f4f4f4}td.num{text-align:right}
.passed{background:#e6f4e6}.wrong{background:#fde8e8}.runtime-error,.compile-error{background:#fbe3c9}
.limit,.timeout{background:#fdf5c9}
pre{background:#f8f8f8;border:1px solid #ddd;padding:6px;overflow-x:auto;white-space:pre-wrap}
table.diff{font-family:monospace;width:100%}table.diff td{border:none;white-space:pre-wrap;padding:0 6px}
tr.del{background:#fdd}tr.add{background:#dfd}td.mark{width:1em;color:#666}
section.submission{border-top:2px solid #888;margin-top:2em}h3{font-size:1em;margin:.6em 0 .3em}
.source-line code{background:#fee;padding:2px;white-space:pre}
)";

void html_diff(std::ostream& out, const Test& test, const TestResult& r) {
    if (test.match == Match::regex) {
        out << "<p>Expected output matching:</p><pre class=\"expected\">" << escaped(test.expected) << "</pre>"
            << "<p>Actual output:</p><pre class=\"actual\">" << escaped(shown(r.output)) << "</pre>\n";
        return;
    }
    const std::vector<DiffLine> lines = diff_lines(test.expected, r.output);
    out << "<p>Difference (<span class=\"del\">- expected</span>, <span class=\"add\">+ actual</span>):</p>\n"
        << "<table class=\"diff\">\n";
    bool changed = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == kShownLines) {
            out << "<tr><td class=\"mark\"></td><td>[… " << lines.size() - i << " more lines]</td></tr>\n";
            break;
        }
        const DiffLine& d = lines[i];
        changed |= d.kind != ' ';
        out << "<tr class=\"" << (d.kind == '-' ? "del" : d.kind == '+' ? "add" : "same") << "\"><td class=\"mark\">"
            << d.kind << "</td><td>" << escaped(shown(d.text, 1000)) << "</td></tr>\n";
    }
    out << "</table>\n";
    if (!changed)
        out << "<p class=\"note\">The lines are the same; the outputs differ in the newline at the end or in "
               "trailing blanks.</p>\n";
}

}  // namespace

void write_html(std::ostream& out, const Suite& suite, const Results& results) {
    const std::string max = points(suite.max_score());
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Grades: "
        << escaped(suite.path) << "</title>\n<style>\n" << kStyle << "</style>\n</head>\n<body>\n"
        << "<h1>Grades: " << escaped(suite.path) << "</h1>\n";
    const Totals t = totals_of(suite, results);
    out << "<p class=\"summary\">" << results.size() << " submission(s), " << suite.tests.size()
        << " test(s) worth " << max << " point(s); " << t.full << " with full marks, " << results.size() - t.compiled
        << " not compiled.</p>\n";
    out << "<table class=\"overview\">\n<thead><tr><th>Submission</th>";
    for (const Test& test : suite.tests) out << "<th>" << escaped(test.name) << "</th>";
    out << "<th>Score</th></tr></thead>\n<tbody>\n";
    for (std::size_t k = 0; k < results.size(); ++k) {
        const SubmissionResult& s = results[k];
        out << "<tr><td><a href=\"#s" << k + 1 << "\">" << escaped(s.path) << "</a></td>";
        for (std::size_t i = 0; i < suite.tests.size(); ++i) {
            if (!s.compiled) {
                out << "<td class=\"compile-error\">-</td>";
                continue;
            }
            const TestResult& r = s.tests[i];
            out << "<td class=\"" << status_name(r.status) << "\">"
                << (r.status == Status::passed ? points(r.score) : status_name(r.status)) << "</td>";
        }
        out << "<td class=\"num\">" << points(s.score) << " / " << max << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n";

    for (std::size_t k = 0; k < results.size(); ++k) {
        const SubmissionResult& s = results[k];
        out << "<section class=\"submission\" id=\"s" << k + 1 << "\" data-status=\"" << submission_status(s)
            << "\" data-score=\"" << points(s.score) << "\">\n<h2>" << escaped(s.path) << ": " << points(s.score)
            << " / " << max << "</h2>\n";
        if (!s.compiled) out << "<p class=\"compile-error\">The submission does not compile.</p>\n";
        if (!s.diagnostics.empty())
            out << "<pre class=\"diagnostics\">" << escaped(shown_utf8(s.diagnostics)) << "</pre>\n";
        for (std::size_t i = 0; s.compiled && i < suite.tests.size(); ++i) {
            const Test& test = suite.tests[i];
            const TestResult& r = s.tests[i];
            out << "<div class=\"test " << status_name(r.status) << "\" data-status=\"" << status_name(r.status)
                << "\">\n<h3>" << escaped(test.name) << ": " << status_name(r.status) << " (" << points(r.score)
                << " / " << points(test.points) << ")</h3>\n";
            if (r.status == Status::passed) {
                out << "</div>\n";
                continue;
            }
            out << "<p class=\"detail\">" << escaped(shown_utf8(r.detail)) << "</p>\n";
            if (r.status == Status::wrong) html_diff(out, test, r);
            if (r.status == Status::runtime_error && r.error_line)
                out << "<p class=\"source-line\">" << escaped(s.source_path) << ":" << r.error_line << ": <code>"
                    << escaped(source_line(s.source, r.error_line)) << "</code></p>\n";
            if (r.status != Status::wrong) {
                if (!r.errors.empty()) out << "<pre class=\"errors\">" << escaped(shown(r.errors)) << "</pre>\n";
                out << "<p>Output:</p><pre class=\"actual\">" << escaped(shown(r.output)) << "</pre>\n";
            }
            out << "</div>\n";
        }
        out << "</section>\n";
    }
    out << "</body>\n</html>\n";
}

}  // namespace grade
