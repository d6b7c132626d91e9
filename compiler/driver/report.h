// The forms in which vexlc writes a compilation's diagnostics to standard
// error: the plain listing (the default), one "FILE:LINE: error: TEXT" line
// per diagnostic with the source line below it (gnu, for editors' quickfix
// and compilation modes), or one JSON array (json); in CP932 (the default)
// or UTF-8. The summary line follows in every form.
#pragma once

#include <string>
#include <string_view>

#include "compile.h"

enum class ReportFormat { plain, gnu, json };

struct ReportStyle {
    ReportFormat format = ReportFormat::plain;
    catalog::Charset charset = catalog::Charset::cp932;
    bool utf8_source = false;  // the source bytes are UTF-8 (--input-charset=utf-8)
};

// The whole text for standard error: the diagnostics, then the summary line,
// or, when the compilation was stopped, the fatal message instead of the
// summary. `source` is the source as read, for the lines gnu quotes.
std::string report(const CompileResult& result, const FatalStop* fatal, std::string_view source,
                   const ReportStyle& style);

// A diagnostic's text in a charset; in UTF-8 an illegal source byte that is
// not a printable ASCII character is written as \xHH.
std::string diagnostic_text(const Diagnostic& d, catalog::Charset charset);
