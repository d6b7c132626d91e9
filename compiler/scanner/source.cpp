// Text-mode reading of the source and the token text pool.
#include <deque>
#include <string>

#include "frontend.h"

std::string text_mode(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // Only CR LF becomes LF; a lone CR (also at the very end of the
        // source, or the first of CR CR LF) reaches the scanner.
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return text;
}

static std::deque<std::string>& token_texts() {
    static std::deque<std::string> texts;
    return texts;
}

const std::string* keep_token_text(const char* text, std::size_t length) {
    return &token_texts().emplace_back(text, length);
}

void free_token_texts() { token_texts().clear(); }
