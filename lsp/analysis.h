// What the language server knows about one document: the compiler's
// diagnostics, the scanner's tokens placed at UTF-16 positions, and the
// names the compiler resolved while translating, with every place they are
// declared and used. Built by running the compiler on the text in memory.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lsp {

// A position in LSP terms: line from 0, character in UTF-16 code units.
struct Position {
    int line = 0;
    int character = 0;
    friend bool operator<(Position a, Position b) {
        return a.line < b.line || (a.line == b.line && a.character < b.character);
    }
    friend bool operator==(Position a, Position b) { return a.line == b.line && a.character == b.character; }
};

struct Range {
    Position start, end;
};

struct Diagnostic {
    Range range;
    bool warning = false;
    std::string part;   // the reporting part of the compiler ("flex", "expression", ...)
    std::string kind;   // the diagnostic's class name
    std::string text;   // UTF-8
    std::optional<Range> related;  // the earlier declaration of a duplicate
    bool unnecessary = false;      // code that does nothing (an unused variable)
    std::vector<std::string> values;  // the values written into the text
};

enum class SymbolKind { Function, Global, Parameter, Local };

struct Symbol {
    SymbolKind kind = SymbolKind::Global;
    std::string name;
    std::string scope;   // the function of a parameter or local, else empty
    std::string detail;  // "int x", "const int n", "int a[10]", "function int f(int a)"
    std::string type;    // "int", "bool", "void" (a function's result)
    bool is_const = false;
    std::optional<int> value;    // a constant's value
    int declaration = -1;        // token index of the declaring name, -1 if not found
    std::vector<int> uses;       // token indexes of every occurrence, declaration included
    int first_token = -1, last_token = -1;  // a function's whole definition (tokens)
    std::vector<int> parameters;            // a function's parameters (symbol indexes)
};

// Token classes for highlighting.
enum class TokenClass { Keyword, Type, Number, String, Variable, Parameter, Function, Operator };

struct Token {
    int code = 0;                // the scanner's token code
    TokenClass cls = TokenClass::Operator;
    Position start, end;         // on one line
    int symbol = -1;             // index into Analysis::symbols for names
    std::size_t offset = 0;      // in the document's UTF-8 text
    std::size_t length = 0;      // of its text there
};

// What the user asked the server for (initializationOptions and
// workspace/didChangeConfiguration).
struct Settings {
    bool c_compat = false;       // the warnings of vexlc -Wc-compat
    std::string language = "ja"; // of the messages
};

struct LeftOut;

struct Analysis {
    std::string text;            // the document analysed (UTF-8)
    bool complete = false;       // the compiler built its tree
    std::vector<Diagnostic> diagnostics;
    std::vector<Token> tokens;
    std::vector<Symbol> symbols;
    std::vector<int> line_lengths;  // UTF-16 length of every line
    // The last compilation of the text with its broken part left out, kept
    // for the analyses after this one.
    std::shared_ptr<const LeftOut> left_out;

    // A token's text (UTF-8), a view into `text`.
    std::string_view text_of(const Token& t) const { return std::string_view(text).substr(t.offset, t.length); }
    std::string_view text_of(int token) const { return text_of(tokens[static_cast<std::size_t>(token)]); }
    // The token whose text contains or ends at `p`, or -1.
    int token_at(Position p) const;
    // The token starting at a UTF-8 offset, or -1.
    int token_starting(std::size_t offset) const;
    // The function whose text holds `p`, or -1 (index into symbols).
    int function_at(Position p) const;
};

// Compiles `utf8` in memory (nothing is written) and indexes it. Where the
// compiler builds no tree, the names come from the text with the broken
// function left out and, inside it, from `last_complete` (an earlier
// analysis with a tree) where its tokens are unchanged. `previous` is the
// document's analysis before this one: what it kept is reused.
Analysis analyse(std::string_view utf8, const Settings& settings = {}, const Analysis* last_complete = nullptr,
                 const Analysis* previous = nullptr);

}  // namespace lsp
