// The diagnostics list and the printed forms of errors, warnings and fatal
// errors.
#include "diagnostics.h"

#include <cstdio>

#include "catalog.h"

DiagnosticList diagnostics;

std::string error::Error::message() const {
    if (is_warning() && line <= 0) return catalog::kWarningNoLine + text() + "\n";
    std::string out = is_warning() ? catalog::kWarningPrefix : catalog::kErrorPrefix;
    out += std::to_string(line);
    out += "): ";
    out += node_name;
    out += ": ";
    out += text();
    out += "\n";
    return out;
}

std::string fatal_error::FatalError::message() const {
    return text() + "\n" + catalog::kAbort + "\n";
}

void DiagnosticList::add_error(std::unique_ptr<error::Error> d) {
    if (!enabled) return;
    items_.push_back(std::move(d));
    if (++error_count > kErrorLimit) throw fatal_error::OverSomeErrors(kErrorLimit);
}

void DiagnosticList::add_warning(std::unique_ptr<error::Error> d) {
    if (!enabled) return;
    items_.push_back(std::move(d));
    ++warning_count;
}

std::string DiagnosticList::text() const {
    std::string out;
    for (const auto& d : items_) out += d->message();
    return out;
}

void DiagnosticList::print_all() const { write_stderr(text()); }

void DiagnosticList::clear() {
    items_.clear();
    enabled = true;
    error_count = warning_count = 0;
}

void write_stderr(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}
