// Every printed form of a compilation's diagnostics, in one place: the
// plain listing (the default), one "FILE:LINE: error: TEXT" line per
// diagnostic with the source line below it (gnu, for editors' quickfix and
// compilation modes), one JSON document (json) or one SARIF 2.1.0 log
// (sarif); in Japanese (the default) or English; in CP932 (the default) or
// UTF-8 (json and sarif are UTF-8 always). vexlc, the language server and
// the browser build all print through here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "catalog.h"
#include "record.h"
#include "version.h"

enum class ReportFormat {
#define REPORT_FORMAT(id, name) id,
#include "formats.def"
#undef REPORT_FORMAT
};

// The format of a name as the command line writes it ("gnu"), if any.
std::optional<ReportFormat> report_format_named(std::string_view name);

struct ReportStyle {
    ReportFormat format = ReportFormat::plain;
    catalog::Charset charset = catalog::Charset::cp932;
    catalog::Language language = catalog::Language::ja;
    bool utf8_source = false;  // the source bytes are UTF-8 (--input-charset=utf-8)
    std::string tool_version = VEXL_VERSION;  // the toolchain's (as --version prints it), for sarif
};

// The whole text for standard error. plain and gnu: the diagnostics, then
// the summary line, or, when the compilation was stopped, the fatal
// message instead of the summary. json and sarif: one document. `source`
// is the source as read, for the lines gnu quotes and the columns.
std::string report(const DiagnosticSet& set, std::string_view source, const ReportStyle& style);

// A diagnostic's message alone (no prefix, no newline). In UTF-8 an illegal
// source byte that is not a printable ASCII character is written as \xHH.
std::string diagnostic_text(const Diagnostic& d, catalog::Charset charset,
                            catalog::Language language = catalog::Language::ja);
// A fatal error's message alone.
std::string fatal_text(const FatalStop& f, catalog::Charset charset,
                       catalog::Language language = catalog::Language::ja);

// The plain form of one diagnostic: "エラー(" line "): " node ": " text,
// newline; a warning at line 0 or less is "警告: " text, newline.
std::string plain_line(bool warning, int line, const std::string& node, const std::string& text,
                       catalog::Charset charset = catalog::Charset::cp932,
                       catalog::Language language = catalog::Language::ja);
// "NAME - エラー N、警告 M" and a newline.
std::string summary_line(const DiagnosticSet& set, catalog::Charset charset = catalog::Charset::cp932,
                         catalog::Language language = catalog::Language::ja);
// A fatal error in the plain form: its text, newline, the abort line, newline.
std::string plain_fatal(const FatalStop& f, catalog::Charset charset = catalog::Charset::cp932,
                        catalog::Language language = catalog::Language::ja);
