// What the language server knows about one document: the compiler's
// diagnostics, the scanner's tokens placed at UTF-16 positions, and the
// names the compiler's parse tree declares, with every place they are used.
// Built by running the compiler's own front end on the text in memory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lsp {

// A position in LSP terms: line from 0, character in UTF-16 code units.
struct Position {
    int line = 0;
    int character = 0;
};

struct Diagnostic {
    int line = 0;  // source line from 1 (0: the warning names no line)
    bool warning = false;
    std::string part;   // the reporting part of the compiler ("flex", "expression", ...)
    std::string kind;   // the diagnostic's class name
    std::string text;   // UTF-8
};

enum class SymbolKind { Function, Global, Parameter, Local };

struct Symbol {
    SymbolKind kind = SymbolKind::Global;
    std::string name;
    std::string scope;   // the function of a parameter or local, else empty
    std::string detail;  // "int x", "const int n", "int a[10]", "function int f(int a)"
    int declaration = -1;        // token index of the declaring name, -1 if not found
    std::vector<int> uses;       // token indexes of every occurrence, declaration included
    int first_token = -1, last_token = -1;  // a function's whole text (tokens)
};

// Token classes for highlighting.
enum class TokenClass { Keyword, Type, Number, String, Variable, Parameter, Function, Operator };

struct Token {
    int code = 0;                // the scanner's token code
    TokenClass cls = TokenClass::Operator;
    Position start, end;         // on one line
    std::string text;            // the token's text (UTF-8)
    int symbol = -1;             // index into Analysis::symbols for names
};

struct Analysis {
    std::vector<Diagnostic> diagnostics;
    std::vector<Token> tokens;
    std::vector<Symbol> symbols;
    std::vector<int> line_lengths;  // UTF-16 length of every line

    // The token whose text contains or ends at `p`, or -1.
    int token_at(Position p) const;
    // The function whose text holds `p`, or -1 (index into symbols).
    int function_at(Position p) const;
};

// Compiles `utf8` in memory (nothing is written) and indexes it.
Analysis analyse(std::string_view utf8);

}  // namespace lsp
