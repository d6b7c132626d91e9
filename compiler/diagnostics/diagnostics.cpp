// The diagnostics list; the classes print through report.h.
#include "diagnostics.h"

#include <cstdio>

#include "report.h"

DiagnosticList diagnostics;

std::string error::Error::message(catalog::Charset cs, catalog::Language language) const {
    return plain_line(is_warning(), line, node_name, text(cs, language), cs, language);
}

std::string fatal_error::FatalError::message(catalog::Charset cs, catalog::Language language) const {
    return plain_fatal(FatalStop{id, values, {}}, cs, language);
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

std::string DiagnosticList::text(catalog::Charset cs) const {
    std::string out;
    for (const auto& d : items_) out += d->message(cs);
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
