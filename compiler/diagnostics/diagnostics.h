// Diagnostics of the compiler: the class tree every problem report belongs
// to, and the one list that collects errors and warnings until the driver
// prints them at the end of a compilation. Every concrete class and its
// text is one row of diagnostics.def.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "catalog.h"

// Root of every diagnostic and fatal error. message() returns the whole
// printed text (prefix, text, newline).
class base_error {
public:
    virtual std::string message(catalog::Charset charset = catalog::Charset::cp932,
                                catalog::Language language = catalog::Language::ja) const = 0;
    virtual ~base_error() = default;
};

// Where a token stands in the text the scanner read (code page 932, a CR LF
// pair as one newline): its byte offset and length there, its line, and its
// first column (from 1, counted in bytes of that line). A span whose column
// is 0 names no token. Tokens never reach past the end of their line.
struct SourceSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
    int line = 0;
    int column = 0;

    bool known() const { return column > 0; }
    // One past the token's last column; 0 when the span names no token.
    int end_column() const { return known() ? column + static_cast<int>(length) : 0; }
};

namespace diagnostic_values {
// A value as it is written into a text: a character as its byte, a number
// in decimal, a name unchanged.
inline std::string show(char c) { return std::string(1, c); }
inline std::string show(int n) { return std::to_string(n); }
inline const std::string& show(const std::string& s) { return s; }
}  // namespace diagnostic_values

namespace error {

// An ordinary error or warning, reported by the construct `node_name`
// at source line `line`.
class Error : public base_error {
public:
    Error(int line, std::string node_name, catalog::Text id, std::vector<std::string> values = {})
        : line(line), node_name(std::move(node_name)), id(id), values(std::move(values)) {}
    std::string message(catalog::Charset charset = catalog::Charset::cp932,
                        catalog::Language language = catalog::Language::ja) const override;
    // The message without prefix and newline.
    std::string text(catalog::Charset charset = catalog::Charset::cp932,
                     catalog::Language language = catalog::Language::ja) const {
        return catalog::format(id, values, charset, language);
    }
    virtual bool is_warning() const { return false; }

    int line;
    std::string node_name;
    catalog::Text id;
    std::vector<std::string> values;  // as written into the text
    // The token the diagnostic is about (none for a whole-program one), and
    // for a duplicate declaration the token of the earlier one. Neither is
    // part of the printed form.
    SourceSpan span;
    SourceSpan related;
};

// Base of the warning classes: same fields, printed with the warning prefix.
class Warning : public Error {
public:
    using Error::Error;
    bool is_warning() const override { return true; }
};

// Each class keeps its values as typed fields too, named as in its row.
#define VEXL_DIAG0(Base, Name)                                                                 \
    class Name : public Base {                                                                 \
    public:                                                                                    \
        Name(int line, std::string node) : Base(line, std::move(node), catalog::Text::Name) {} \
    };
#define VEXL_DIAG1(Base, Name, T1, v1)                                                         \
    class Name : public Base {                                                                 \
    public:                                                                                    \
        Name(int line, std::string node, T1 v1)                                                \
            : Base(line, std::move(node), catalog::Text::Name, {diagnostic_values::show(v1)}), v1(v1) {} \
        T1 v1;                                                                                 \
    };
#define VEXL_DIAG2(Base, Name, T1, v1, T2, v2)                                                 \
    class Name : public Base {                                                                 \
    public:                                                                                    \
        Name(int line, std::string node, T1 v1, T2 v2)                                         \
            : Base(line, std::move(node), catalog::Text::Name,                                 \
                   {diagnostic_values::show(v1), diagnostic_values::show(v2)}),                \
              v1(v1), v2(v2) {}                                                                \
        T1 v1;                                                                                 \
        T2 v2;                                                                                 \
    };
#define ERROR(Name, ja, en) VEXL_DIAG0(Error, Name)
#define ERROR1(Name, T1, v1, ja, en) VEXL_DIAG1(Error, Name, T1, v1)
#define ERROR2(Name, T1, v1, T2, v2, ja, en) VEXL_DIAG2(Error, Name, T1, v1, T2, v2)
#define WARNING(Name, ja, en) VEXL_DIAG0(Warning, Name)
#define WARNING1(Name, T1, v1, ja, en) VEXL_DIAG1(Warning, Name, T1, v1)
#define WARNING2(Name, T1, v1, T2, v2, ja, en) VEXL_DIAG2(Warning, Name, T1, v1, T2, v2)
#include "diagnostics.def"
#undef VEXL_DIAG0
#undef VEXL_DIAG1
#undef VEXL_DIAG2

}  // namespace error

namespace fatal_error {

// Conditions that end the compilation; thrown, caught only by the driver.
class FatalError : public base_error {
public:
    explicit FatalError(catalog::Text id, std::vector<std::string> values = {})
        : id(id), values(std::move(values)) {}
    // The text, a newline, the abort line and a newline.
    std::string message(catalog::Charset charset = catalog::Charset::cp932,
                        catalog::Language language = catalog::Language::ja) const override;

    catalog::Text id;
    std::vector<std::string> values;
};

#define FATAL(Name, ja, en)                                      \
    class Name : public FatalError {                            \
    public:                                                     \
        Name() : FatalError(catalog::Text::Name) {}             \
    };
#define FATAL1(Name, T1, v1, ja, en)                                                        \
    class Name : public FatalError {                                                       \
    public:                                                                                \
        explicit Name(T1 v1) : FatalError(catalog::Text::Name, {diagnostic_values::show(v1)}), v1(v1) {} \
        T1 v1;                                                                             \
    };
#include "diagnostics.def"

}  // namespace fatal_error

// The one list of errors and warnings of a compilation.
class DiagnosticList {
public:
    static constexpr int kErrorLimit = 100;

    // Both take ownership; add_error throws fatal_error::OverSomeErrors once
    // more than kErrorLimit errors are stored (after storing that one).
    void add_error(std::unique_ptr<error::Error> d);
    void add_warning(std::unique_ptr<error::Error> d);

    template <class D, class... Args> void error(Args&&... args) {
        add_error(std::make_unique<D>(std::forward<Args>(args)...));
    }
    template <class D, class... Args> void warning(Args&&... args) {
        add_warning(std::make_unique<D>(std::forward<Args>(args)...));
    }
    // The same, naming the token the diagnostic is about.
    template <class D, class... Args> void error_at(const SourceSpan& span, Args&&... args) {
        auto d = std::make_unique<D>(std::forward<Args>(args)...);
        d->span = span;
        add_error(std::move(d));
    }
    template <class D, class... Args> void warning_at(const SourceSpan& span, Args&&... args) {
        auto d = std::make_unique<D>(std::forward<Args>(args)...);
        d->span = span;
        add_warning(std::move(d));
    }

    // Writes every stored diagnostic, in order of addition, to standard error.
    void print_all() const;
    // All stored texts concatenated (what print_all writes).
    std::string text(catalog::Charset charset = catalog::Charset::cp932) const;
    const std::vector<std::unique_ptr<error::Error>>& items() const { return items_; }
    void clear();

    bool enabled = true;  // while false, additions are dropped uncounted
    int error_count = 0;
    int warning_count = 0;

private:
    std::vector<std::unique_ptr<error::Error>> items_;
};

extern DiagnosticList diagnostics;

// Writes bytes to standard error unchanged (texts may hold NUL bytes).
void write_stderr(const std::string& bytes);
