// Text-mode reading of the source file and the token text pool.
#include <deque>
#include <string>

#include "frontend.h"

std::size_t read_source_text(std::FILE* source, char* buffer, std::size_t max_size) {
    std::size_t n = 0;
    while (n < max_size) {
        int c = getc(source);
        if (c == EOF) break;
        if (c == '\r') {
            // Only CR LF becomes LF; a lone CR (also at the very end of the
            // file, or the first of CR CR LF) reaches the scanner.
            int next = getc(source);
            if (next == '\n') c = '\n';
            else if (next != EOF) ungetc(next, source);
        }
        buffer[n++] = static_cast<char>(c);
    }
    return n;
}

static std::deque<std::string>& token_texts() {
    static std::deque<std::string> texts;
    return texts;
}

const std::string* keep_token_text(const char* text, std::size_t length) {
    return &token_texts().emplace_back(text, length);
}

void free_token_texts() { token_texts().clear(); }
