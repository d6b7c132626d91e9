// The diagnostics list and the printed forms of errors, warnings and fatal
// errors.
#include "diagnostics.h"

#include <cstdio>

using catalog::Text;

DiagnosticList diagnostics;

std::string printed_form(bool warning, int line, const std::string& node_name, const std::string& text,
                         catalog::Charset cs) {
    if (warning && line <= 0) return std::string(catalog::text(Text::WarningNoLine, cs)) + text + "\n";
    std::string out(catalog::text(warning ? Text::WarningPrefix : Text::ErrorPrefix, cs));
    out += std::to_string(line);
    out += "): ";
    out += node_name;
    out += ": ";
    out += text;
    out += "\n";
    return out;
}

std::string error::Error::message(catalog::Charset cs) const {
    return printed_form(is_warning(), line, node_name, text(cs), cs);
}

std::string fatal_error::FatalError::message(catalog::Charset cs) const {
    return catalog::format(id, values, cs) + "\n" + std::string(catalog::text(Text::Abort, cs)) + "\n";
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
