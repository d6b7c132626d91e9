// A compilation's diagnostics as plain records, apart from the compiler's
// global state: what the printed forms (report.h) are made from, and what
// the language server and the browser build receive.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog.h"
#include "diagnostics.h"  // SourceSpan

// One listed error or warning.
struct Diagnostic {
    int line = 0;
    bool warning = false;
    std::string node;                 // who reports: "flex", "bison", a node class
    catalog::Text id{};               // its row in diagnostics.def
    std::vector<std::string> values;  // the values written into its text
    SourceSpan span;                  // the token it is about (see diagnostics.h)
    SourceSpan related;               // a duplicate's earlier declaration

    std::string_view class_name() const { return catalog::name(id); }
};

// What ended a compilation early: a fatal error, or the last-resort texts
// for a range error and any other exception.
struct FatalStop {
    catalog::Text id{};
    std::vector<std::string> values;
    SourceSpan span;  // the construct being translated when it came, if any
};

// Everything a compilation's report is made of.
struct DiagnosticSet {
    std::string input_name;
    std::vector<Diagnostic> diagnostics;  // in the order they were listed
    int error_count = 0;
    int warning_count = 0;
    std::optional<FatalStop> fatal;
};
