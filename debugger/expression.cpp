// The debugger's expression evaluator: a recursive descent over the
// language's precedence levels (see expression.h).
#include "expression.h"

#include <cctype>
#include <charconv>
#include <cstdint>

namespace debugger {

namespace {

using debuginfo::Type;

enum class Tok : std::uint8_t { end, number, name, dollar, op, open, close, lbracket, rbracket, at };

struct Token {
    Tok kind = Tok::end;
    std::string text;
    long value = 0;
};

class Parser {
public:
    Parser(std::string_view text, const Scope& scope) : text_(text), scope_(scope) { next(); }

    Operand top() {
        Operand v = logical();
        if (tok_.kind == Tok::at) {
            next();
            const Operand n = logical();
            v = slice(v, n);
        }
        if (tok_.kind != Tok::end) throw EvalError("A syntax error in expression, near `" + rest() + "'.");
        return v;
    }

private:
    std::string rest() const { return std::string(text_.substr(tok_start_)); }

    void next() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        tok_start_ = pos_;
        tok_ = Token{};
        if (pos_ >= text_.size()) return;
        const char c = text_[pos_];
        auto ident = [&](std::size_t from) {
            std::size_t j = from;
            while (j < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[j])) || text_[j] == '_')) ++j;
            return j;
        };
        if (std::isdigit(static_cast<unsigned char>(c))) {
            int base = 10;
            std::size_t from = pos_;
            if (c == '0' && pos_ + 1 < text_.size() && (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
                base = 16;
                from += 2;
            }
            const std::size_t end = ident(pos_);
            const auto res = std::from_chars(text_.data() + from, text_.data() + end, tok_.value, base);
            if (res.ec != std::errc() || res.ptr != text_.data() + end)
                throw EvalError("Invalid number \"" + std::string(text_.substr(pos_, end - pos_)) + "\".");
            tok_.kind = Tok::number;
            pos_ = end;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            const std::size_t end = ident(pos_);
            tok_.kind = Tok::name;
            tok_.text = std::string(text_.substr(pos_, end - pos_));
            pos_ = end;
        } else if (c == '$') {
            std::size_t end = pos_ + 1;
            if (end < text_.size() && text_[end] == '$') ++end;
            end = ident(end);
            tok_.kind = Tok::dollar;
            tok_.text = std::string(text_.substr(pos_, end - pos_));
            pos_ = end;
        } else {
            static constexpr std::string_view two[] = {"<=", ">=", "><"};
            for (std::string_view t : two)
                if (text_.substr(pos_, 2) == t) {
                    tok_.kind = Tok::op;
                    tok_.text = std::string(t);
                    pos_ += 2;
                    return;
                }
            ++pos_;
            switch (c) {
            case '(': tok_.kind = Tok::open; break;
            case ')': tok_.kind = Tok::close; break;
            case '[': tok_.kind = Tok::lbracket; break;
            case ']': tok_.kind = Tok::rbracket; break;
            case '@': tok_.kind = Tok::at; break;
            case '+': case '-': case '*': case '=': case '<': case '>':
                tok_.kind = Tok::op;
                tok_.text = std::string(1, c);
                break;
            default:
                throw EvalError("Invalid character '" + std::string(1, c) + "' in expression.");
            }
        }
    }

    bool is_op(std::string_view op) const {
        return (tok_.kind == Tok::op || tok_.kind == Tok::name) && tok_.text == op;
    }

    static Operand scalar(Type t, long v) {
        Operand o;
        o.type = t;
        o.words = {Word(v)};
        return o;
    }
    static void need(const Operand& o, Type t, std::string_view op) {
        if (o.array) throw EvalError("An array cannot be an operand of \"" + std::string(op) + "\".");
        if (o.type != t)
            throw EvalError("The operands of \"" + std::string(op) + "\" must be " + debuginfo::type_name(t) + ".");
    }
    static int s16(const Operand& o) { return int(std::int16_t(o.words.front())); }

    // Level 1: and or xor.
    Operand logical() {
        Operand l = equality();
        while (is_op("and") || is_op("or") || is_op("xor")) {
            const std::string op = tok_.text;
            next();
            const Operand r = equality();
            need(l, Type::Bool, op);
            need(r, Type::Bool, op);
            const Word a = l.words.front(), b = r.words.front();
            l = scalar(Type::Bool, op == "and" ? (a & b) : op == "or" ? (a | b) : (a ^ b));
        }
        return l;
    }
    // Level 2: = ><.
    Operand equality() {
        Operand l = relation();
        while (is_op("=") || is_op("><")) {
            const std::string op = tok_.text;
            next();
            const Operand r = relation();
            need(l, l.type, op);
            need(r, l.type, op);
            const bool eq = l.words.front() == r.words.front();
            l = scalar(Type::Bool, op == "=" ? eq : !eq);
        }
        return l;
    }
    // Level 3: < <= > >=, decided by the 16-bit difference as the machine does.
    Operand relation() {
        Operand l = additive();
        while (is_op("<") || is_op("<=") || is_op(">") || is_op(">=")) {
            const std::string op = tok_.text;
            next();
            const Operand r = additive();
            need(l, Type::Int, op);
            need(r, Type::Int, op);
            const Word diff = Word(l.words.front() - r.words.front());
            const bool negative = diff & 0x8000u, zero = diff == 0;
            bool v = false;
            if (op == "<") v = negative;
            else if (op == "<=") v = negative || zero;
            else if (op == ">") v = !negative && !zero;
            else v = !negative;
            l = scalar(Type::Bool, v);
        }
        return l;
    }
    Operand additive() {
        Operand l = term();
        while (is_op("+") || is_op("-")) {
            const std::string op = tok_.text;
            next();
            const Operand r = term();
            need(l, Type::Int, op);
            need(r, Type::Int, op);
            const Word a = l.words.front(), b = r.words.front();
            l = scalar(Type::Int, op == "+" ? Word(a + b) : Word(a - b));
        }
        return l;
    }
    Operand term() {
        Operand l = unary();
        while (is_op("*") || is_op("div") || is_op("mod")) {
            const std::string op = tok_.text;
            next();
            const Operand r = unary();
            need(l, Type::Int, op);
            need(r, Type::Int, op);
            if (op == "*") {
                l = scalar(Type::Int, Word(unsigned(l.words.front()) * unsigned(r.words.front())));
            } else {
                if (r.words.front() == 0) throw EvalError("Division by zero");
                l = scalar(Type::Int, op == "div" ? s16(l) / s16(r) : s16(l) % s16(r));
            }
        }
        return l;
    }
    Operand unary() {
        if (is_op("-") || is_op("+") || is_op("not")) {
            const std::string op = tok_.text;
            next();
            const Operand v = unary();
            if (op == "not") {
                need(v, Type::Bool, op);
                return scalar(Type::Bool, v.words.front() ^ 1u);
            }
            need(v, Type::Int, op);
            return scalar(Type::Int, op == "-" ? Word(-v.words.front()) : v.words.front());
        }
        return primary();
    }
    Operand primary() {
        switch (tok_.kind) {
        case Tok::number: {
            const long v = tok_.value;
            if (v > 65535) throw EvalError("The number " + std::to_string(v) + " does not fit in 16 bits.");
            next();
            return scalar(Type::Int, v);
        }
        case Tok::open: {
            next();
            Operand v = logical();
            if (tok_.kind != Tok::close) throw EvalError("Missing ')' in expression.");
            next();
            v.name.clear();
            return v;
        }
        case Tok::dollar: {
            const std::string t = tok_.text;
            next();
            return dollar(t);
        }
        case Tok::name: {
            const std::string name = tok_.text;
            if (name == "true" || name == "false") {
                next();
                return scalar(Type::Bool, name == "true");
            }
            if (name == "and" || name == "or" || name == "xor" || name == "div" || name == "mod")
                throw EvalError("A syntax error in expression, near `" + rest() + "'.");
            next();
            if (tok_.kind == Tok::open) throw EvalError("Calls are not evaluated by the debugger.");
            Operand v = scope_.variable(name);
            while (tok_.kind == Tok::lbracket) {
                next();
                const Operand i = logical();
                if (tok_.kind != Tok::rbracket) throw EvalError("Missing ']' in expression.");
                next();
                if (!v.variable || !v.variable->is_array() || v.index >= 0)
                    throw EvalError("\"" + v.name + "\" is not an array.");
                if (i.array || i.type != Type::Int) throw EvalError("The index of \"" + name + "\" must be an int.");
                v = scope_.element(v, s16(i));
            }
            return v;
        }
        case Tok::end: throw EvalError("Expression expected.");
        default: throw EvalError("A syntax error in expression, near `" + rest() + "'.");
        }
    }

    Operand dollar(const std::string& t) {
        // $ $$ $N $$N, or a register.
        std::string_view body = std::string_view(t).substr(1);
        const bool twice = !body.empty() && body[0] == '$';
        if (twice) body.remove_prefix(1);
        long n = 0;
        const bool number = !body.empty() && std::from_chars(body.data(), body.data() + body.size(), n).ptr ==
                                                 body.data() + body.size();
        if (body.empty()) return scope_.history(twice ? 1 : 0, true);
        if (number) return scope_.history(n, twice);
        if (twice) throw EvalError("Invalid history reference \"" + t + "\".");
        return scope_.reg(body);
    }

    Operand slice(const Operand& v, const Operand& n) {
        if (n.array || n.type != Type::Int) throw EvalError("The count after @ must be an int.");
        const int count = s16(n);
        if (count <= 0) throw EvalError("Only values in memory can be extended with '@'; the count must be positive.");
        if (!v.address || v.array) throw EvalError("Only values in memory can be extended with '@'.");
        if (long(count) > long(*v.address) + 1) throw EvalError("Cannot access memory beyond address 0x0000.");
        Operand s;
        s.type = v.type;
        s.array = true;
        for (int i = 0; i < count; ++i) s.words.push_back(scope_.memory(Word(*v.address - i)));
        return s;
    }

    std::string_view text_;
    const Scope& scope_;
    std::size_t pos_ = 0, tok_start_ = 0;
    Token tok_;
};

}  // namespace

Operand evaluate(std::string_view text, const Scope& scope) { return Parser(text, scope).top(); }

std::size_t find_assignment(std::string_view text) {
    int depth = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '(' || text[i] == '[') ++depth;
        if (text[i] == ')' || text[i] == ']') --depth;
        if (depth == 0 && text[i] == ':' && text[i + 1] == '=') return i;
    }
    return std::string_view::npos;
}

}  // namespace debugger
