// The formatter: a scanner that keeps comments and the line breaks between
// tokens, and a printer that lays the tokens out by their kinds and the
// blocks and parentheses they stand in.
#include "format.h"

#include <algorithm>
#include <vector>

namespace format {
namespace {

enum class Kind {
    word,           // identifier, keyword or number: a run of [A-Za-z0-9_]
    text,           // "..."
    op,             // := >< <= >= and the one-byte tokens
    line_comment,   // // ... (without its line break)
    block_comment,  // /* ... */
};

struct Token {
    Kind kind;
    std::string_view bytes;
    int line;        // of its first byte, from 1
    int breaks;      // line breaks between the previous token and this one
};

bool is_word_byte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

struct Scan {
    std::vector<Token> tokens;
    int breaks_at_end = 0;
    int bad_line = 0;
    std::string error;
};

// The tokens as the compiler's scanner finds them, comments included.
Scan scan(std::string_view s) {
    Scan out;
    int line = 1, breaks = 0;
    std::size_t i = 0;
    auto add = [&](Kind kind, std::size_t start, int first_line) {
        out.tokens.push_back({kind, s.substr(start, i - start), first_line, breaks});
        breaks = 0;
    };
    auto fail = [&](int at, const char* what) {
        out.bad_line = at;
        out.error = what;
    };
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t start = i;
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '\n' || (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) {
            i += c == '\r' ? 2 : 1;
            ++line;
            ++breaks;
        } else if (s.compare(i, 2, "//") == 0) {
            while (i < s.size() && s[i] != '\n') ++i;
            // Without the CR of a CR LF and trailing blanks.
            const std::size_t end = i;
            while (i > start + 2 && (s[i - 1] == ' ' || s[i - 1] == '\t' || s[i - 1] == '\r')) --i;
            add(Kind::line_comment, start, line);
            i = end;
        } else if (s.compare(i, 2, "/*") == 0) {
            const int first = line;
            const std::size_t end = s.find("*/", i + 2);
            if (end == std::string_view::npos) {
                fail(first, "unterminated comment");
                return out;
            }
            for (; i < end; ++i)
                if (s[i] == '\n') ++line;
            i = end + 2;
            add(Kind::block_comment, start, first);
        } else if (is_word_byte(c)) {
            while (i < s.size() && is_word_byte(static_cast<unsigned char>(s[i]))) ++i;
            add(Kind::word, start, line);
        } else if (c == '"') {
            // As the scanner's longest match: up to the first quote without
            // a backslash before it, else the last quote of the line.
            std::size_t end = std::string_view::npos;
            for (std::size_t j = i + 1; j < s.size() && s[j] != '\n'; ++j) {
                if (s[j] != '"') continue;
                if (j > i + 1) end = j;
                if (s[j - 1] != '\\' || j == i + 1) break;
            }
            if (end == std::string_view::npos || end == i + 1) {
                fail(line, "illegal character '\"'");
                return out;
            }
            i = end + 1;
            add(Kind::text, start, line);
        } else {
            static constexpr std::string_view kPairs[] = {":=", "><", "<=", ">="};
            bool pair = false;
            for (std::string_view p : kPairs)
                if (s.compare(i, 2, p) == 0) pair = true;
            if (pair) {
                i += 2;
            } else if (std::string_view("&()*+,-;<=>[]{}").find(static_cast<char>(c)) != std::string_view::npos) {
                ++i;
            } else {
                fail(line, "illegal character");
                return out;
            }
            add(Kind::op, start, line);
        }
    }
    out.breaks_at_end = breaks;
    return out;
}

bool is(const Token& t, std::string_view text) { return t.bytes == text; }

bool is_keyword(std::string_view w) {
    static constexpr std::string_view kKeywords[] = {
        "void", "int", "bool", "const", "function", "return", "if", "else", "while", "do", "for", "break",
        "continue", "input", "output", "and", "or", "xor", "not", "div", "mod", "true", "false"};
    return std::find(std::begin(kKeywords), std::end(kKeywords), w) != std::end(kKeywords);
}

// A token after which a '+' or '-' is binary: the end of an operand.
bool ends_operand(const Token& t) {
    if (t.kind == Kind::text) return true;
    if (t.kind == Kind::word) return !is_keyword(t.bytes) || is(t, "true") || is(t, "false");
    return is(t, ")") || is(t, "]");
}

bool is_comment(const Token& t) { return t.kind == Kind::line_comment || t.kind == Kind::block_comment; }

// Bytes of operators that could fuse with a neighbour into another token.
bool fusing(char c) { return c == '<' || c == '>' || c == '=' || c == ':'; }

class Printer {
public:
    explicit Printer(const std::vector<Token>& tokens) : t_(tokens) {}

    std::string run() {
        for (i_ = 0; i_ < t_.size(); ++i_) token(t_[i_]);
        if (!out_.empty() && out_.back() != '\n') out_ += '\n';
        return out_;
    }

    // The output line of every token (from 1), filled by run().
    std::vector<int> lines;

private:
    void token(const Token& t) {
        const Token* prev = last_ ? &t_[last_index_] : nullptr;
        if (is_comment(t)) {
            comment(t, prev);
            return;
        }
        // Where a line break is due before this token.
        if (is(t, "}")) {
            depth_ = std::max(0, depth_ - 1);
            if (prev) newline_ = true;
            keep_blank_ = false;
        }
        if (is(t, "else") && prev && !is(*prev, "}")) newline_ = true;
        if (is(t, "while") && prev && is(*prev, "}") && closed_do_) newline_ = false;
        if (is(t, "else") && prev && is(*prev, "}")) newline_ = false;
        if (is(t, ";") && prev && is(*prev, "}")) newline_ = false;

        if (newline_ && !out_.empty()) {
            break_line(t);
        } else if (prev && !at_line_start()) {
            if (space_between(*prev, t)) out_ += ' ';
        }
        if (at_line_start()) indent();
        out_ += t.bytes;
        lines.push_back(line_);
        newline_ = false;
        keep_blank_ = true;
        closed_do_ = false;

        if (is(t, "(") || is(t, "[")) ++parens_;
        if ((is(t, ")") || is(t, "]")) && parens_ > 0) --parens_;
        if (is(t, "{")) {
            do_block_.push_back(prev && is(*prev, "do"));
            ++depth_;
            newline_ = true;
            keep_blank_ = false;
            in_statement_ = false;
        } else if (is(t, "}")) {
            closed_do_ = !do_block_.empty() && do_block_.back();
            if (!do_block_.empty()) do_block_.pop_back();
            newline_ = true;
            in_statement_ = false;
        } else if (is(t, ";") && parens_ == 0) {
            newline_ = true;
            in_statement_ = false;
        } else {
            in_statement_ = true;
        }
        last_ = true;
        last_index_ = i_;
    }

    void comment(const Token& t, const Token* prev) {
        const bool own_line = !prev || t.breaks > 0;
        if (own_line) {
            if (!out_.empty()) break_line(t);
            newline_ = false;
        } else if (!at_line_start()) {
            out_ += ' ';
        }
        if (at_line_start()) indent();
        out_ += t.bytes;
        lines.push_back(line_);
        for (char c : t.bytes)
            if (c == '\n') ++line_;
        // What follows a line comment starts a line; after a block comment,
        // a line break of the source stays.
        const Token* next = i_ + 1 < t_.size() ? &t_[i_ + 1] : nullptr;
        if (t.kind == Kind::line_comment || (next && next->breaks > 0)) newline_ = true;
        keep_blank_ = true;
        last_comment_ = true;
        comment_index_ = i_;
    }

    void break_line(const Token& t) {
        out_ += '\n';
        ++line_;
        if (t.breaks >= 2 && keep_blank_ && !is(t, "}")) {
            out_ += '\n';
            ++line_;
        }
    }

    bool at_line_start() const { return out_.empty() || out_.back() == '\n'; }

    void indent() {
        const int levels = depth_ + (in_statement_ || parens_ > 0 ? 1 : 0);
        out_.append(static_cast<std::size_t>(levels) * 4, ' ');
    }

    bool space_between(const Token& a, const Token& b) const {
        const bool after_comment = last_comment_ && comment_index_ + 1 == i_;
        if (after_comment) return !(is(b, ")") || is(b, "]") || is(b, ",") || is(b, ";"));
        if (a.kind == Kind::word && b.kind == Kind::word) return true;
        if (is(b, ",") || is(b, ";") || is(b, ")") || is(b, "]")) return false;
        if (is(a, "(") || is(a, "[")) return false;
        if (is(a, ",")) return true;
        if (is(a, ";")) return true;
        if (is(b, "[")) return !(a.kind == Kind::word && !is_keyword(a.bytes));
        if (is(b, "(")) return !(a.kind == Kind::word && !is_keyword(a.bytes));
        if ((is(a, "+") || is(a, "-")) && unary(last_index_)) {
            // "- -x" keeps its space only to stay readable; "--" is two tokens too.
            return fusing(b.bytes.front());
        }
        if (a.kind == Kind::op && b.kind == Kind::op && fusing(a.bytes.back()) && fusing(b.bytes.front())) return true;
        return true;
    }

    // Whether the '+' or '-' at index k is a sign (no operand before it).
    bool unary(std::size_t k) const {
        for (std::size_t j = k; j-- > 0;) {
            if (is_comment(t_[j])) continue;
            return !ends_operand(t_[j]);
        }
        return true;
    }

    const std::vector<Token>& t_;
    std::string out_;
    std::size_t i_ = 0;
    int depth_ = 0;
    int parens_ = 0;
    int line_ = 1;
    bool newline_ = false;
    bool keep_blank_ = false;
    bool in_statement_ = false;
    bool closed_do_ = false;
    bool last_ = false;
    std::size_t last_index_ = 0;
    bool last_comment_ = false;
    std::size_t comment_index_ = 0;
    std::vector<bool> do_block_;
};

}  // namespace

Result format_source(std::string_view source) {
    Result r;
    const Scan s = scan(source);
    if (!s.error.empty()) {
        r.line = s.bad_line;
        r.error = s.error;
        return r;
    }
    Printer p(s.tokens);
    r.text = p.run();
    r.ok = true;
    return r;
}

Result format_lines(std::string_view source, int first, int last) {
    Result r;
    const Scan s = scan(source);
    if (!s.error.empty()) {
        r.line = s.bad_line;
        r.error = s.error;
        return r;
    }
    Printer p(s.tokens);
    const std::string formatted = p.run();
    const std::vector<Token>& t = s.tokens;
    // The tokens of the range, widened until no input or output line is
    // shared with a token outside: then whole input lines a..b become
    // whole output lines.
    std::size_t lo = t.size(), hi = 0;
    for (std::size_t k = 0; k < t.size(); ++k)
        if (t[k].line >= first && t[k].line <= last) lo = std::min(lo, k), hi = k;
    std::vector<std::string_view> in_lines, out_lines;
    auto split = [](std::string_view text, std::vector<std::string_view>& into) {
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            into.push_back(text.substr(start, end - start));
            start = end + 1;
        }
    };
    split(source, in_lines);
    split(formatted, out_lines);
    if (lo == t.size()) {  // no token: the range is left as it is
        r.ok = true;
        r.text = std::string(source);
        return r;
    }
    auto last_line = [&](std::size_t k) {
        int n = t[k].line;
        for (char c : t[k].bytes) n += c == '\n';
        return n;
    };
    auto out_last = [&](std::size_t k) {
        int n = p.lines[k];
        for (char c : t[k].bytes) n += c == '\n';
        return n;
    };
    for (bool changed = true; changed;) {
        changed = false;
        while (lo > 0 && (last_line(lo - 1) == t[lo].line || out_last(lo - 1) == p.lines[lo])) --lo, changed = true;
        while (hi + 1 < t.size() && (t[hi + 1].line == last_line(hi) || p.lines[hi + 1] == out_last(hi)))
            ++hi, changed = true;
    }
    const int a = t[lo].line, b = last_line(hi);
    const int oa = p.lines[lo], ob = out_last(hi);
    std::string text;
    for (int n = 1; n < a; ++n) text += std::string(in_lines[n - 1]) + "\n";
    for (int n = oa; n <= ob; ++n) text += std::string(out_lines[n - 1]) + "\n";
    for (int n = b + 1; n <= static_cast<int>(in_lines.size()); ++n) {
        std::string_view l = in_lines[n - 1];
        text += l;
        if (n < static_cast<int>(in_lines.size()) || (!source.empty() && source.back() == '\n')) text += "\n";
    }
    r.ok = true;
    r.text = std::move(text);
    r.line = a;
    return r;
}

}  // namespace format
