// The one place where the generated scanner and parser meet the rest of the
// compiler: their globals and entry points. No generator-internal name is
// used outside scanner/scanner.l and parser/parser.y.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class program;
struct SourceSpan;

// Scanner (scanner/scanner.l)
extern int line_number;   // current source line, from 1
int next_token();         // next token code, 0 at end of input
// Byte offset and length of the text the last match took, counted in the
// text the scanner reads (a CR LF pair counts as one newline).
extern std::size_t token_offset;
extern std::size_t token_length;
// Every token handed to the parser, when a tool asks for them (the language
// server): its code and where it stands.
struct ScannedToken {
    int code;
    std::size_t offset, length;
};
extern std::vector<ScannedToken>* token_log;  // null: nothing is logged
// Starts scanning `source` from its beginning; it must stay alive until
// scanner_finish.
void scanner_start(std::string_view source);
// Releases the scanner's buffers.
void scanner_finish();

// Parser (parser/parser.y)
extern program* parse_root;  // set when the whole source was accepted
// Where the first syntax error of the last parse was noticed (the token the
// parser could not take); names no token when there was none.
extern SourceSpan first_syntax_error;
// 0 accepted, 1 gave up on a syntax error, 2 stacks full.
int parse();

// The source as the scanner reads it, in text mode: a carriage return
// directly before a line feed is dropped (scanner/source.cpp).
std::string text_mode(std::string_view bytes);

// Token texts handed to the parser live until the end of the compilation,
// so that error recovery can drop tokens without leaking them.
const std::string* keep_token_text(const char* text, std::size_t length);
void free_token_texts();
