// Diagnostics of the compiler: the class tree every problem report belongs
// to, and the one list that collects errors and warnings until the driver
// prints them at the end of a compilation. The message texts of all
// concrete classes live in catalog.h / catalog.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

// Root of every diagnostic and fatal error. message() returns the whole
// printed text (prefix, text, newline).
class base_error {
public:
    virtual std::string message() const = 0;
    virtual ~base_error() = default;
};

namespace error {

// An ordinary error or warning, reported by the construct `node_name`
// at source line `line`.
class Error : public base_error {
public:
    Error(int line, std::string node_name) : line(line), node_name(std::move(node_name)) {}
    std::string message() const override;

    int line;
    std::string node_name;

protected:
    virtual bool is_warning() const { return false; }
    virtual std::string text() const = 0;  // the message without prefix
};

// Base of the warning classes: same fields, printed with the warning prefix.
class Warning : public Error {
public:
    using Error::Error;

protected:
    bool is_warning() const override { return true; }
};

}  // namespace error

namespace fatal_error {

// Conditions that end the compilation; thrown, caught only by the driver.
class FatalError : public base_error {
public:
    std::string message() const override;  // text, newline, abort line

protected:
    virtual std::string text() const = 0;
};

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

    // Writes every stored diagnostic, in order of addition, to standard error.
    void print_all() const;
    // All stored texts concatenated (what print_all writes).
    std::string text() const;
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
