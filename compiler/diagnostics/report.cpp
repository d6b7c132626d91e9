// The printed forms of a compilation's diagnostics.
#include "report.h"

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

private:
    std::string_view source_;
    const ReportStyle& style_;
    std::vector<std::size_t> starts_;
};

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
        SourceLines lines(source, style);
        for (const Diagnostic& d : set.diagnostics) {
            out += file;
            if (d.line > 0) out += ":" + std::to_string(d.line);
            out += d.warning ? ": warning: " : ": error: ";
            out += diagnostic_text(d, cs, lang) + "\n";
            if (std::string line; d.line > 0 && lines.get(d.line, line)) out += "    " + line + "\n";
        }
        if (fatal) out += file + ": fatal error: " + fatal_text(*fatal, cs, lang) + "\n";
        break;
    }
    case ReportFormat::json:
    case ReportFormat::sarif: {
        out += "[";
        const char* separator = "\n";
        auto entry = [&](int line, const char* severity, std::string_view part, std::string_view cls,
                         const std::string& text) {
            out += separator;
            separator = ",\n";
            out += "  {\"file\": " + json_string(file) + ", \"line\": " + std::to_string(line) +
                   ", \"severity\": \"" + severity + "\", \"part\": " + json_string(part) +
                   ", \"class\": " + json_string(cls) + ", \"text\": " + json_string(text) + "}";
        };
        for (const Diagnostic& d : set.diagnostics)
            entry(d.line, d.warning ? "warning" : "error", d.node, d.class_name(),
                  diagnostic_text(d, Charset::utf8, lang));
        if (fatal) entry(0, "fatal", "", catalog::name(fatal->id), fatal_text(*fatal, Charset::utf8, lang));
        out += set.diagnostics.empty() && !fatal ? "]\n" : "\n]\n";
        break;
    }
    }
    if (fatal) {
        if (style.format == ReportFormat::plain) out += plain_fatal(*fatal, cs, lang);
        else out += std::string(catalog::text(Text::Abort, cs, lang)) + "\n";
    } else {
        out += summary_line(set, cs, lang);
    }
    return out;
}
