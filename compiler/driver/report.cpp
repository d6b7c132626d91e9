// Printed forms of a compilation's diagnostics.
#include "report.h"

#include <vector>

#include "charset.h"
#include "diagnostics.h"

using catalog::Charset;

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
            line = style_.utf8_source ? std::string(raw) : charset::cp932_to_utf8(raw);
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

std::string diagnostic_text(const Diagnostic& d, Charset charset) {
    if (charset != Charset::utf8 || d.id != catalog::Text::IllegalCharacter || d.values.empty())
        return d.text(charset);
    std::vector<std::string> values = d.values;
    std::string& byte = values[0];
    if (byte.size() == 1 && (static_cast<unsigned char>(byte[0]) < 0x21 || static_cast<unsigned char>(byte[0]) > 0x7E)) {
        auto b = static_cast<unsigned char>(byte[0]);
        byte = std::string("\\x") + kHex[b >> 4] + kHex[b & 15];
    }
    return catalog::format(d.id, values, charset);
}

std::string report(const CompileResult& result, const FatalStop* fatal, std::string_view source,
                   const ReportStyle& style) {
    const Charset cs = style.charset;
    const std::string& file = result.input_name;
    std::string out;
    switch (style.format) {
    case ReportFormat::plain:
        for (const Diagnostic& d : result.diagnostics)
            out += printed_form(d.warning, d.line, d.node, diagnostic_text(d, cs), cs);
        break;
    case ReportFormat::gnu: {
        SourceLines lines(source, style);
        for (const Diagnostic& d : result.diagnostics) {
            out += file;
            if (d.line > 0) out += ":" + std::to_string(d.line);
            out += d.warning ? ": warning: " : ": error: ";
            out += diagnostic_text(d, cs) + "\n";
            if (std::string line; d.line > 0 && lines.get(d.line, line)) out += "    " + line + "\n";
        }
        if (fatal) out += file + ": fatal error: " + catalog::format(fatal->id, fatal->values, cs) + "\n";
        break;
    }
    case ReportFormat::json: {
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
        for (const Diagnostic& d : result.diagnostics)
            entry(d.line, d.warning ? "warning" : "error", d.node, d.class_name(),
                  diagnostic_text(d, Charset::utf8));
        if (fatal)
            entry(0, "fatal", "", catalog::name(fatal->id), catalog::format(fatal->id, fatal->values, Charset::utf8));
        out += result.diagnostics.empty() && !fatal ? "]\n" : "\n]\n";
        break;
    }
    }
    if (fatal) {
        if (style.format == ReportFormat::plain) out += fatal->printed(cs);
        else out += std::string(catalog::text(catalog::Text::Abort, cs)) + "\n";
    } else {
        out += result.summary(cs);
    }
    return out;
}
