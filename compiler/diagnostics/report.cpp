// The printed forms of a compilation's diagnostics.
#include "report.h"

#include <algorithm>
#include <vector>

#include "charset.h"
#include "diagnostics.h"

using catalog::Charset;
using catalog::Language;
using catalog::Text;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t length;
        if (c >= 0x80) {
            // Bytes that are no UTF-8 (a file name, say) become U+FFFD.
            if (charset::decode_utf8(s, i, length) < 0) out += "\xEF\xBF\xBD";
            else out.append(s, i, length);
            i += length;
            continue;
        }
        ++i;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) out += std::string("\\u00") + kHex[c >> 4] + kHex[c & 15];
            else out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// UTF-8 text with every malformed sequence replaced by U+FFFD.
std::string well_formed(std::string_view s) {
    std::string out;
    for (std::size_t i = 0, length; i < s.size(); i += length) {
        if (charset::decode_utf8(s, i, length) < 0) out += "\xEF\xBF\xBD";
        else out.append(s, i, length);
    }
    return out;
}

// The source's lines as gnu quotes them, in the output charset.
class SourceLines {
public:
    SourceLines(std::string_view source, const ReportStyle& style) : source_(source), style_(style) {
        starts_.push_back(0);
        for (std::size_t i = 0; i < source.size(); ++i)
            if (source[i] == '\n') starts_.push_back(i + 1);
    }
    // Line n (from 1) without its line break; false past the end.
    bool get(int n, std::string& line) const {
        if (n < 1 || static_cast<std::size_t>(n) > starts_.size()) return false;
        std::size_t a = starts_[n - 1];
        std::size_t b = static_cast<std::size_t>(n) < starts_.size() ? starts_[n] - 1 : source_.size();
        if (a == b && static_cast<std::size_t>(n) == starts_.size()) return false;  // after the last newline
        std::string_view raw = source_.substr(a, b - a);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (style_.charset == Charset::utf8) {
            line = style_.utf8_source ? well_formed(raw) : charset::cp932_to_utf8(raw);
        } else {
            line = style_.utf8_source ? charset::utf8_to_cp932(raw).bytes : std::string(raw);
        }
        return true;
    }
    // Line n as the scanner read it: in code page 932, without its break.
    bool scanned(int n, std::string& line) const {
        ReportStyle cp932 = style_;
        cp932.charset = Charset::cp932;
        if (!SourceLines(source_, cp932).get(n, line)) return false;
        return true;
    }

private:
    std::string_view source_;
    const ReportStyle& style_;
    std::vector<std::size_t> starts_;
};

// The end of the string that starts at compact[i] (its closing quote).
std::size_t string_end(std::string_view compact, std::size_t i) {
    for (++i; compact[i] != '"'; ++i)
        if (compact[i] == '\\') ++i;
    return i;
}

// The end of the container that opens at compact[i] (its closing bracket),
// and in `levels` how deep containers nest inside it (0: none).
std::size_t container_end(std::string_view compact, std::size_t i, int& levels) {
    int depth = 0;
    levels = 0;
    for (;; ++i) {
        const char c = compact[i];
        if (c == '"') {
            i = string_end(compact, i);
        } else if (c == '{' || c == '[') {
            levels = std::max(levels, depth++);
        } else if (c == '}' || c == ']') {
            if (--depth == 0) return i;
        }
    }
}

// Compact JSON (as json_string and the builders below write it) laid out
// with two spaces per level; a container with at most one level of
// containers inside (one diagnostic, one region) stays on one line.
std::string pretty_json(std::string_view compact) {
    std::string out;
    int depth = 0;
    std::size_t inline_end = 0;  // within a container kept on one line, up to here
    auto newline = [&] { out += '\n'; out.append(static_cast<std::size_t>(depth) * 2, ' '); };
    for (std::size_t i = 0; i < compact.size(); ++i) {
        const char c = compact[i];
        const bool on_one_line = i < inline_end;
        if (c == '"') {
            const std::size_t end = string_end(compact, i);
            out.append(compact, i, end - i + 1);
            i = end;
        } else if ((c == '{' || c == '[') && !on_one_line) {
            int levels;
            const std::size_t end = container_end(compact, i, levels);
            out += c;
            if (end == i + 1) {
                out += compact[end];
                i = end;
            } else if (levels <= 1) {
                inline_end = end;
            } else {
                ++depth;
                newline();
            }
        } else if ((c == '}' || c == ']') && !on_one_line && i != inline_end) {
            --depth;
            newline();
            out += c;
        } else if (c == ',') {
            out += c;
            if (on_one_line) out += ' ';
            else newline();
        } else if (c == ':') {
            out += ": ";
        } else {
            out += c;
        }
    }
    return out + "\n";
}

// Where a diagnostic stands in the source: lines from 1, columns from 1
// in characters (Unicode code points) of the line; `end` is just past the
// last character. A diagnostic without a line has line 0.
struct Span {
    int line = 0, column = 0, end_line = 0, end_column = 0;
};

// Characters in a UTF-8 text (a malformed byte counts as one).
int characters(std::string_view utf8) {
    int n = 0;
    for (std::size_t i = 0, length; i < utf8.size(); i += length, ++n) charset::decode_utf8(utf8, i, length);
    return n;
}

// Characters in the first `bytes` bytes of a CP932 text.
int cp932_characters(std::string_view text, std::size_t bytes) {
    int n = 0;
    for (std::size_t i = 0; i < bytes && i < text.size(); ++n)
        i += charset::is_lead_byte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    return n;
}

// Where a diagnostic stands: the token it names when it names one, else
// its line from the first to past the last character that is not blank
// (the whole line when it is blank); nothing without a line.
Span span_of(const SourceSpan& token, int line, const SourceLines& lines) {
    Span s;
    std::string text;
    if (token.known() && lines.scanned(token.line, text)) {
        const auto first = static_cast<std::size_t>(token.column - 1);
        s.line = s.end_line = token.line;
        s.column = cp932_characters(text, first) + 1;
        s.end_column = std::max(cp932_characters(text, first + token.length) + 1, s.column + 1);
        return s;
    }
    if (line <= 0) return s;
    s.line = s.end_line = line;
    s.column = 1;
    if (!lines.get(line, text)) {
        s.end_column = 1;
        return s;
    }
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) {
        s.end_column = characters(text) + 1;
    } else {
        s.column = characters(std::string_view(text).substr(0, first)) + 1;
        s.end_column = characters(std::string_view(text).substr(0, last + 1)) + 1;
    }
    return s;
}

Span span_of(const Diagnostic& d, const SourceLines& utf8_lines) { return span_of(d.span, d.line, utf8_lines); }

// The line of a diagnostic in the gnu form, which always names one: that
// of its token for a diagnostic listed without a line, else 1.
int gnu_line(const Diagnostic& d) { return d.line > 0 ? d.line : d.span.known() ? d.span.line : 1; }

// The line a fatal error is placed at: that of the construct it stopped,
// that of the last diagnostic for the error limit (the error that crossed
// it), else none (0).
int fatal_line(const DiagnosticSet& set) {
    if (!set.fatal) return 0;
    if (set.fatal->span.known()) return set.fatal->span.line;
    if (set.fatal->id == Text::OverSomeErrors)
        for (auto d = set.diagnostics.rbegin(); d != set.diagnostics.rend(); ++d)
            if (d->line > 0) return d->line;
    return 0;
}

Span fatal_span(const DiagnosticSet& set, const SourceLines& lines) {
    return span_of(set.fatal->span, fatal_line(set), lines);
}

std::string json_number(int n) { return std::to_string(n); }

// "line", and with a line "column" and "end" (compact JSON members).
std::string json_position(const Span& sp) {
    std::string o = "\"line\":" + json_number(sp.line);
    if (sp.line > 0)
        o += ",\"column\":" + json_number(sp.column) + ",\"end\":{\"line\":" + json_number(sp.end_line) +
             ",\"column\":" + json_number(sp.end_column) + "}";
    return o;
}

std::string json_report(const DiagnosticSet& set, std::string_view source, const ReportStyle& style) {
    ReportStyle utf8 = style;
    utf8.charset = Charset::utf8;
    const SourceLines lines(source, utf8);
    std::string o = "{\"file\":" + json_string(set.input_name) + ",\"diagnostics\":[";
    const char* comma = "";
    for (const Diagnostic& d : set.diagnostics) {
        const Span sp = span_of(d, lines);
        o += comma;
        comma = ",";
        o += "{" + json_position(sp);
        o += std::string(",\"severity\":\"") + (d.warning ? "warning" : "error") + "\",\"part\":" +
             json_string(d.node) + ",\"class\":" + json_string(d.class_name()) + ",\"text\":" +
             json_string(diagnostic_text(d, Charset::utf8, style.language)) + "}";
    }
    o += "],\"errors\":" + json_number(set.error_count) + ",\"warnings\":" + json_number(set.warning_count) +
         ",\"fatal\":";
    if (set.fatal)
        o += "{" + json_position(fatal_span(set, lines)) + ",\"class\":" + json_string(catalog::name(set.fatal->id)) +
             ",\"text\":" +
             json_string(fatal_text(*set.fatal, Charset::utf8, style.language)) + "}";
    else
        o += "null";
    return pretty_json(o + "}");
}

// A file name as a relative URI reference: bytes outside the unreserved
// set and '/' percent-encoded.
std::string uri_of(std::string_view name) {
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/')
            out += static_cast<char>(c);
        else
            out += std::string("%") + kHex[c >> 4] + kHex[c & 15];
    }
    return out;
}

// A SARIF 2.1.0 log with one run, laid out as gcc writes its own: the
// tool with one rule per class that occurs, the invocation (unsuccessful
// after a fatal error, which is also its notification), the source as
// the one artifact, and one result per diagnostic.
std::string sarif_report(const DiagnosticSet& set, std::string_view source, const ReportStyle& style) {
    ReportStyle utf8 = style;
    utf8.charset = Charset::utf8;
    const SourceLines lines(source, utf8);
    const std::string artifact = "{\"uri\":" + json_string(uri_of(set.input_name)) + "}";

    std::vector<catalog::Text> rules;
    auto rule_index = [&](catalog::Text id) {
        for (std::size_t i = 0; i < rules.size(); ++i)
            if (rules[i] == id) return i;
        rules.push_back(id);
        return rules.size() - 1;
    };
    std::string results;
    const char* comma = "";
    auto result = [&](catalog::Text id, const char* level, const std::string& text, const Span& sp) {
        results += comma;
        comma = ",";
        results += "{\"ruleId\":" + json_string(catalog::name(id)) + ",\"ruleIndex\":" +
                   std::to_string(rule_index(id)) + ",\"level\":\"" + level + "\",\"message\":{\"text\":" +
                   json_string(text) + "},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":" +
                   artifact.substr(0, artifact.size() - 1) + ",\"index\":0}";
        if (sp.line > 0)
            results += ",\"region\":{\"startLine\":" + json_number(sp.line) + ",\"startColumn\":" +
                       json_number(sp.column) + ",\"endLine\":" + json_number(sp.end_line) +
                       ",\"endColumn\":" + json_number(sp.end_column) + "}";
        results += "}}]}";
    };
    for (const Diagnostic& d : set.diagnostics)
        result(d.id, d.warning ? "warning" : "error", diagnostic_text(d, Charset::utf8, style.language),
               span_of(d, lines));
    std::string notifications;
    if (set.fatal) {
        const std::string text = fatal_text(*set.fatal, Charset::utf8, style.language);
        result(set.fatal->id, "error", text, fatal_span(set, lines));
        notifications = "{\"level\":\"error\",\"message\":{\"text\":" + json_string(text) +
                        "},\"descriptor\":{\"id\":" + json_string(catalog::name(set.fatal->id)) + "}}";
    }

    std::string rule_list;
    for (std::size_t i = 0; i < rules.size(); ++i)
        rule_list += std::string(i ? "," : "") + "{\"id\":" + json_string(catalog::name(rules[i])) +
                     ",\"shortDescription\":{\"text\":" +
                     json_string(catalog::format(rules[i], {"{0}", "{1}"}, Charset::utf8, catalog::Language::en)) +
                     "}}";

    std::string o = "{\"$schema\":\"https://docs.oasis-open.org/sarif/sarif/v2.1.0/errata01/os/schemas/"
                    "sarif-schema-2.1.0.json\",\"version\":\"2.1.0\",\"runs\":[{\"tool\":{\"driver\":{"
                    "\"name\":\"vexlc\",\"version\":" + json_string(style.tool_version) +
                    ",\"rules\":[" + rule_list + "]}},\"invocations\":[{\"executionSuccessful\":" +
                    (set.fatal ? "false" : "true") + ",\"toolExecutionNotifications\":[" + notifications +
                    "]}],\"originalUriBaseIds\":{},\"artifacts\":[{\"location\":" + artifact +
                    ",\"sourceLanguage\":\"vexl\"}],\"columnKind\":\"unicodeCodePoints\",\"results\":[" +
                    results + "]}]}";
    return pretty_json(o);
}

}  // namespace

std::optional<ReportFormat> report_format_named(std::string_view name) {
#define REPORT_FORMAT(id, text) \
    if (name == text) return ReportFormat::id;
#include "formats.def"
#undef REPORT_FORMAT
    return std::nullopt;
}

std::string diagnostic_text(const Diagnostic& d, Charset charset, Language language) {
    if (charset != Charset::utf8 || d.id != catalog::Text::IllegalCharacter || d.values.empty())
        return catalog::format(d.id, d.values, charset, language);
    std::vector<std::string> values = d.values;
    std::string& byte = values[0];
    if (byte.size() == 1 && (static_cast<unsigned char>(byte[0]) < 0x21 || static_cast<unsigned char>(byte[0]) > 0x7E)) {
        auto b = static_cast<unsigned char>(byte[0]);
        byte = std::string("\\x") + kHex[b >> 4] + kHex[b & 15];
    }
    return catalog::format(d.id, values, charset, language);
}

std::string fatal_text(const FatalStop& f, Charset charset, Language language) {
    return catalog::format(f.id, f.values, charset, language);
}

std::string plain_line(bool warning, int line, const std::string& node, const std::string& text, Charset cs,
                       Language language) {
    if (warning && line <= 0) return std::string(catalog::text(Text::WarningNoLine, cs, language)) + text + "\n";
    std::string out(catalog::text(warning ? Text::WarningPrefix : Text::ErrorPrefix, cs, language));
    out += std::to_string(line);
    out += "): ";
    out += node;
    out += ": ";
    out += text;
    out += "\n";
    return out;
}

std::string summary_line(const DiagnosticSet& set, Charset cs, Language language) {
    return set.input_name + std::string(catalog::text(Text::SummaryErrors, cs, language)) +
           std::to_string(set.error_count) + std::string(catalog::text(Text::SummaryWarnings, cs, language)) +
           std::to_string(set.warning_count) + "\n";
}

std::string plain_fatal(const FatalStop& f, Charset cs, Language language) {
    return fatal_text(f, cs, language) + "\n" + std::string(catalog::text(Text::Abort, cs, language)) + "\n";
}

std::string report(const DiagnosticSet& set, std::string_view source, const ReportStyle& style) {
    const Charset cs = style.charset;
    const Language lang = style.language;
    const std::string& file = set.input_name;
    const FatalStop* fatal = set.fatal ? &*set.fatal : nullptr;
    std::string out;
    switch (style.format) {
    case ReportFormat::plain:
        for (const Diagnostic& d : set.diagnostics)
            out += plain_line(d.warning, d.line, d.node, diagnostic_text(d, cs, lang), cs, lang);
        break;
    case ReportFormat::gnu: {
        // Every entry names a line, so that editors' default patterns take
        // it: a warning without one and a fatal error without one are
        // placed at line 1, the error-limit fatal at the last error.
        SourceLines lines(source, style);
        for (const Diagnostic& d : set.diagnostics) {
            out += file + ":" + std::to_string(gnu_line(d));
            out += d.warning ? ": warning: " : ": error: ";
            out += diagnostic_text(d, cs, lang) + "\n";
            if (std::string line; d.line > 0 && lines.get(d.line, line)) out += "    " + line + "\n";
        }
        if (fatal)
            out += file + ":" + std::to_string(std::max(fatal_line(set), 1)) + ": fatal error: " +
                   fatal_text(*fatal, cs, lang) + "\n";
        break;
    }
    case ReportFormat::json: return json_report(set, source, style);
    case ReportFormat::sarif: return sarif_report(set, source, style);
    }
    if (fatal) {
        if (style.format == ReportFormat::plain) out += plain_fatal(*fatal, cs, lang);
        else out += std::string(catalog::text(Text::Abort, cs, lang)) + "\n";
    } else {
        out += summary_line(set, cs, lang);
    }
    return out;
}
