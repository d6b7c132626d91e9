// Line counts and the flat profile: from the counter's per-address and
// per-region figures to the annotated source, the JSON and the table.
#include "line_counts.h"

#include <algorithm>
#include <cstdio>

namespace vm::profile {

namespace {

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

Report make_report(const debuginfo::DebugInfo& info, const Counter& counter, std::uint64_t instructions,
                   std::size_t source_lines) {
    Report r;
    r.source = info.source;
    r.instructions = instructions;
    const std::vector<std::uint64_t>& executed = counter.executed();
    int highest = 0;
    for (const debuginfo::LineEntry& e : info.lines) highest = std::max(highest, e.line);
    const std::size_t last = std::max(source_lines, std::size_t(highest));
    r.lines.resize(last);
    for (std::size_t i = 0; i < last; ++i) r.lines[i].line = int(i) + 1;
    for (std::size_t a = 0; a < executed.size(); ++a) {
        const int line = info.line_at(Word(a));
        if (line <= 0 || std::size_t(line) > last) continue;
        LineCount& l = r.lines[std::size_t(line) - 1];
        l.has_code = true;
        l.instructions += executed[a];
    }
    // The runs of code of each line start at the line records whose line
    // differs from that of the record before.
    int previous = 0;
    for (const debuginfo::LineEntry& e : info.lines) {
        if (e.line > 0 && e.line != previous && e.address < executed.size())
            r.lines[std::size_t(e.line) - 1].count += executed[e.address];
        previous = e.line;
    }

    std::uint64_t inside = 0;
    for (const debuginfo::Function& f : info.functions) {
        FunctionCount c;
        c.name = f.name;
        c.line = f.line;
        c.calls = counter.calls()[f.entry];
        c.inclusive = counter.inclusive()[f.entry];
        for (std::size_t a = f.entry; a < f.end && a < executed.size(); ++a) c.exclusive += executed[a];
        inside += c.exclusive;
        r.functions.push_back(std::move(c));
    }
    r.outside = instructions >= inside ? instructions - inside : 0;
    std::stable_sort(r.functions.begin(), r.functions.end(), [](const FunctionCount& a, const FunctionCount& b) {
        if (a.exclusive != b.exclusive) return a.exclusive > b.exclusive;
        if (a.inclusive != b.inclusive) return a.inclusive > b.inclusive;
        return a.name < b.name;
    });
    return r;
}

std::string annotated_source(const Report& report, const std::vector<std::string>& source) {
    std::string out;
    auto row = [&out](const std::string& count, int line, const std::string& text) {
        out += padded(count, 9) + ":" + padded(std::to_string(line), 5) + ":" + text + "\n";
    };
    row("-", 0, "Source:" + report.source);
    row("-", 0, "Runs:1");
    row("-", 0, "Instructions:" + std::to_string(report.instructions));
    for (const LineCount& l : report.lines) {
        const std::string text =
            std::size_t(l.line) <= source.size() ? source[std::size_t(l.line) - 1] : std::string();
        row(!l.has_code ? "-" : l.count == 0 ? "#####" : std::to_string(l.count), l.line, text);
    }
    return out;
}

std::string json(const Report& report) {
    std::string out = "{\"source\":" + json_string(report.source) +
                      ",\"instructions\":" + std::to_string(report.instructions) +
                      ",\"outside\":" + std::to_string(report.outside) + ",\"lines\":[";
    bool first = true;
    for (const LineCount& l : report.lines) {
        if (!l.has_code) continue;
        if (!first) out += ",";
        first = false;
        out += "{\"line\":" + std::to_string(l.line) + ",\"count\":" + std::to_string(l.count) +
               ",\"instructions\":" + std::to_string(l.instructions) + "}";
    }
    out += "],\"functions\":[";
    first = true;
    for (const FunctionCount& f : report.functions) {
        if (!first) out += ",";
        first = false;
        out += "{\"name\":" + json_string(f.name) + ",\"line\":" + std::to_string(f.line) +
               ",\"calls\":" + std::to_string(f.calls) + ",\"inclusive\":" + std::to_string(f.inclusive) +
               ",\"exclusive\":" + std::to_string(f.exclusive) + "}";
    }
    return out + "]}\n";
}

std::string flat_profile(const Report& report) {
    std::string out = "Flat profile of " + report.source + ": " + std::to_string(report.instructions) +
                      " instruction" + (report.instructions == 1 ? "" : "s") + "\n\n";
    out += "  % excl   exclusive   inclusive       calls  function\n";
    for (const FunctionCount& f : report.functions) {
        char pct[16];
        std::snprintf(pct, sizeof pct, "%.2f",
                      report.instructions ? 100.0 * double(f.exclusive) / double(report.instructions) : 0.0);
        out += padded(pct, 8) + padded(std::to_string(f.exclusive), 12) + padded(std::to_string(f.inclusive), 12) +
               padded(std::to_string(f.calls), 12) + "  " + f.name + "\n";
    }
    out += "\n" + std::to_string(report.outside) + " instruction" + (report.outside == 1 ? "" : "s") +
           " outside every function (global initialisation and start-up)\n";
    return out;
}

}  // namespace vm::profile
