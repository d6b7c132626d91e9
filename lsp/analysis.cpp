// Runs the compiler on a document held in memory and turns what it leaves
// behind (diagnostics, the tokens it scanned, the names it resolved) into
// positions and symbols for the language server.
#include "analysis.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>

#include "charset.h"
#include "compile.h"
#include "diagnostics.h"
#include "frontend.h"
#include "names.h"
#include "node.h"
#include "parser.hpp"
#include "report.h"
#include "symbols.h"

namespace lsp {

// The compilation of a text with its broken part left out (one that built
// a tree), kept for the analyses after it: while the user types inside the
// broken function, the text to compile differs only by the whitespace that
// stands for that function, and the names need no compilation.
struct LeftOut {
    std::string text;                // CP932, the broken part blank
    std::size_t blank = 0, to = 0;   // the blank stretch
    NameIndex names;                 // recorded by its compilation
};

namespace {

// The document in the compiler's character set, with the way back from
// its byte offsets to UTF-16 positions and to the document's own bytes:
// where every line starts in both texts, and whether it is all ASCII (one
// byte, one byte, one code unit). Other lines are walked character by
// character when a position in them is asked for. Lines end at LF, CR LF
// and a lone CR, as in the protocol; the compiler sees a lone CR as a
// character of its line.
struct Source {
    std::string_view utf8;                  // the document
    std::string bytes;                      // CP932, CR LF as LF
    std::vector<std::size_t> line_start;    // offset of every line in bytes
    std::vector<std::size_t> line_utf8;     // offset of every line in the document
    std::vector<char> ascii;                // every line: all ASCII
    std::vector<int> compiler_lines;        // LSP line of every compiler line (from 1; LF only)
    std::vector<int> bad_lines;             // lines (from 1, as the compiler counts) with a character CP932 lacks

    struct Place {
        Position position;
        std::size_t utf8 = 0;  // offset in the document
    };
    // The place of a CP932 offset in `line` (the line holding it).
    Place place(std::size_t offset, int line) const {
        const auto l = static_cast<std::size_t>(line);
        std::size_t cp = line_start[l], u = line_utf8[l];
        if (ascii[l]) return {{line, static_cast<int>(offset - cp)}, u + (offset - cp)};
        int col = 0;
        while (cp < offset) {
            const std::size_t width = charset::is_lead_byte(static_cast<unsigned char>(bytes[cp])) ? 2 : 1;
            if (cp + width > offset) break;  // inside a character: its start
            std::size_t length;
            const long c = charset::decode_utf8(utf8, u, length);
            col += c > 0xFFFF ? 2 : 1;
            u += length;
            cp += width;
        }
        return {{line, col}, u};
    }
    int line_of(std::size_t offset) const {
        auto it = std::upper_bound(line_start.begin(), line_start.end(), offset);
        return static_cast<int>(it - line_start.begin()) - 1;
    }
    Position at(std::size_t offset) const {
        offset = std::min(offset, bytes.size());
        return place(offset, line_of(offset)).position;
    }
    std::size_t document_offset(std::size_t offset) const {
        offset = std::min(offset, bytes.size());
        return place(offset, line_of(offset)).utf8;
    }
    Range range(const SourceSpan& s) const { return {at(s.offset), at(s.offset + s.length)}; }
    // The LSP line of a compiler line (which counts LF only).
    int lsp_line(int compiler_line) const {
        if (compiler_line < 1) return 0;
        if (static_cast<std::size_t>(compiler_line) > compiler_lines.size()) return static_cast<int>(line_start.size()) - 1;
        return compiler_lines[static_cast<std::size_t>(compiler_line) - 1];
    }
};

Source convert(std::string_view utf8, std::vector<int>& line_lengths) {
    Source s;
    s.utf8 = utf8;
    s.bytes.reserve(utf8.size());
    s.line_start.push_back(0);
    s.line_utf8.push_back(0);
    s.compiler_lines.push_back(0);
    int col = 0, compiler_line = 1;
    bool ascii = true;
    for (std::size_t pos = 0; pos < utf8.size();) {
        // A stretch of plain ASCII goes across as it is.
        std::size_t run = pos;
        while (run < utf8.size()) {
            const auto b = static_cast<unsigned char>(utf8[run]);
            if (b >= 0x80 || b == '\n' || b == '\r') break;
            ++run;
        }
        if (run > pos) {
            s.bytes.append(utf8, pos, run - pos);
            col += static_cast<int>(run - pos);
            pos = run;
            if (pos == utf8.size()) break;
        }
        std::size_t length;
        long c = charset::decode_utf8(utf8, pos, length);
        pos += length;
        if (c == '\r' && pos < utf8.size() && utf8[pos] == '\n') continue;  // text mode
        if (c == '\n' || c == '\r') {
            s.bytes += static_cast<char>(c);
            line_lengths.push_back(col);
            s.ascii.push_back(ascii);
            s.line_start.push_back(s.bytes.size());
            s.line_utf8.push_back(pos);
            col = 0;
            ascii = true;
            if (c == '\n') {
                ++compiler_line;
                s.compiler_lines.push_back(static_cast<int>(s.line_start.size()) - 1);
            }
            continue;
        }
        ascii = false;
        long code = c < 0 ? -1 : charset::to_cp932(static_cast<char32_t>(c));
        if (code < 0) {
            if (s.bad_lines.empty() || s.bad_lines.back() != compiler_line) s.bad_lines.push_back(compiler_line);
            code = ' ';
        }
        if (code > 0xFF) s.bytes += static_cast<char>(code >> 8);
        s.bytes += static_cast<char>(code & 0xFF);
        col += c > 0xFFFF ? 2 : 1;
    }
    line_lengths.push_back(col);
    s.ascii.push_back(ascii);
    return s;
}

// ---- One run of the compiler ------------------------------------------------

// The tokens of the last compilation that logged them, in memory kept from
// one analysis to the next (only one analysis runs at a time).
std::vector<ScannedToken>& kept_token_log() {
    static auto* log = new std::vector<ScannedToken>;  // lives as long as the process
    return *log;
}

struct Run {
    std::string_view bytes;       // what to compile
    std::vector<ScannedToken>* tokens = nullptr;  // where to log the tokens, if anywhere
    bool c_compat = false;
    CompileResult result;
    NameIndex names;
    bool tree = false;
};

void run_compiler(Run& run) {
    CompileOptions options;
    options.record_names = true;
    options.check_past_full_image = true;
    options.no_c_text = true;
    options.Wc_compat = run.c_compat;
    if (run.tokens) run.tokens->clear();
    options.tokens = run.tokens;
    options.names = &run.names;
    options.inspect = [&](const program* root, const MapManager&) { run.tree = root != nullptr; };
    run.result = compile_source_on_this_thread("", run.bytes, options);
}

// The compiler recurses once per level of nesting in the source; it runs on
// a thread with room for the deepest source. The thread stays for the next
// document, with its memory already mapped (a fresh thread per change costs
// more than the compilation).
constexpr std::size_t kStack = std::size_t{256} << 20;

class Worker {
public:
    static Worker& get() {
        static Worker* worker = new Worker;  // lives as long as the process
        return *worker;
    }
    void run(Run& run) {
        if (!started_) {
            run_compiler(run);
            return;
        }
        std::unique_lock lock(mutex_);
        job_ = &run;
        wake_.notify_all();
        wake_.wait(lock, [&] { return job_ == nullptr; });
    }

private:
    Worker() {
        pthread_attr_t attr;
        pthread_t thread;
        started_ = pthread_attr_init(&attr) == 0 && pthread_attr_setstacksize(&attr, kStack) == 0 &&
                   pthread_create(&thread, &attr, &Worker::loop, this) == 0;
        pthread_attr_destroy(&attr);
        if (started_) pthread_detach(thread);
    }
    static void* loop(void* self) {
        auto* w = static_cast<Worker*>(self);
        std::unique_lock lock(w->mutex_);
        for (;;) {
            w->wake_.wait(lock, [&] { return w->job_ != nullptr; });
            run_compiler(*w->job_);
            w->job_ = nullptr;
            w->wake_.notify_all();
        }
        return nullptr;
    }
    bool started_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    Run* job_ = nullptr;
};

TokenClass class_of(int code) {
    switch (code) {
    case NUMBER: return TokenClass::Number;
    case STRING: return TokenClass::String;
    case TYPE: return TokenClass::Type;
    case IDENT: return TokenClass::Variable;
    case ASSIGN: case NE: case LE: case GE: return TokenClass::Operator;
    default: return code >= 256 ? TokenClass::Keyword : TokenClass::Operator;
    }
}

// ---- Diagnostics ----------------------------------------------------------------

Range whole_line(const Analysis& a, int line) {
    line = std::clamp(line, 0, static_cast<int>(a.line_lengths.size()) - 1);
    return {{line, 0}, {line, a.line_lengths[static_cast<std::size_t>(line)]}};
}

void collect_diagnostics(const Source& src, const CompileResult& result, catalog::Language language, Analysis& a) {
    using catalog::Charset;
    for (int line : src.bad_lines) {
        Diagnostic d;
        d.range = whole_line(a, src.lsp_line(line));
        d.part = "flex";
        d.kind = catalog::name(catalog::Text::UnconvertibleCharacter);
        d.text = catalog::text(catalog::Text::UnconvertibleCharacter, Charset::utf8, language);
        a.diagnostics.push_back(std::move(d));
    }
    for (const auto& r : result.diagnostics) {
        Diagnostic d;
        d.range = r.span.known() ? src.range(r.span) : whole_line(a, src.lsp_line(r.line));
        d.warning = r.warning;
        d.part = r.node;
        d.kind = r.class_name();
        d.text = diagnostic_text(r, Charset::utf8, language);
        d.values = r.values;
        if (r.related.known()) d.related = src.range(r.related);
        d.unnecessary = r.id == catalog::Text::UnusedVariable;
        a.diagnostics.push_back(std::move(d));
    }
    if (result.fatal) {
        Diagnostic d;
        if (result.fatal->span.known()) d.range = src.range(result.fatal->span);
        else d.range = a.diagnostics.empty() ? whole_line(a, 0) : a.diagnostics.back().range;
        d.kind = catalog::name(result.fatal->id);
        d.text = fatal_text(*result.fatal, Charset::utf8, language);
        a.diagnostics.push_back(std::move(d));
    }
    // A construct translated twice reports once.
    std::vector<Diagnostic> unique;
    for (auto& d : a.diagnostics) {
        bool repeated = std::any_of(unique.begin(), unique.end(), [&](const Diagnostic& u) {
            return u.range.start.line == d.range.start.line && u.kind == d.kind && u.text == d.text &&
                   u.warning == d.warning;
        });
        if (!repeated) unique.push_back(std::move(d));
    }
    a.diagnostics = std::move(unique);
}

// ---- Names ------------------------------------------------------------------------

std::string variable_detail(const NamedEntity& e) {
    std::string d = e.is_const ? "const " : "";
    d.append(type_name(e.type)).append(" ").append(e.name);
    if (e.is_array) d.append("[").append(std::to_string(e.size)).append("]");
    return d;
}

SymbolKind kind_of(NamedEntity::Kind k) {
    switch (k) {
    case NamedEntity::Kind::Function: return SymbolKind::Function;
    case NamedEntity::Kind::Global: return SymbolKind::Global;
    case NamedEntity::Kind::Parameter: return SymbolKind::Parameter;
    case NamedEntity::Kind::Local: return SymbolKind::Local;
    }
    return SymbolKind::Global;
}

// Finds tokens by their CP932 offset in the compiled text. The compiler
// mostly asks in text order, so the search starts where the last one ended.
class TokenFinder {
public:
    explicit TokenFinder(const std::vector<ScannedToken>& scanned) : scanned_(scanned) {}
    // The token starting at `offset`, or -1.
    int starting(std::size_t offset) {
        const std::size_t i = first_at_or_after(offset);
        return i < scanned_.size() && scanned_[i].offset == offset ? static_cast<int>(i) : -1;
    }
    // The index of the first token at or after `offset`.
    std::size_t first_at_or_after(std::size_t offset) {
        const std::size_t n = scanned_.size();
        if (hint_ < n && scanned_[hint_].offset < offset) {  // a little further on
            for (std::size_t i = hint_ + 1; i < n && i <= hint_ + 16; ++i)
                if (scanned_[i].offset >= offset) return hint_ = i;
        } else if (hint_ < n && (hint_ == 0 || scanned_[hint_ - 1].offset < offset)) {
            return hint_;
        }
        auto it = std::lower_bound(scanned_.begin(), scanned_.end(), offset,
                                   [](const ScannedToken& t, std::size_t o) { return t.offset < o; });
        hint_ = static_cast<std::size_t>(it - scanned_.begin());
        return hint_;
    }

private:
    const std::vector<ScannedToken>& scanned_;  // in text order
    std::size_t hint_ = 0;
};

// Offsets of a compilation of another text that differs from this one only
// by whitespace at `from`: those past it move by `delta`.
struct Moved {
    std::size_t from = std::string::npos;
    std::ptrdiff_t delta = 0;
    std::size_t operator()(std::size_t offset) const {
        return offset < from ? offset : static_cast<std::size_t>(static_cast<std::ptrdiff_t>(offset) + delta);
    }
};

// Symbols and token links from the names the compiler resolved.
void link_names(const NameIndex& names, Moved moved, const std::vector<ScannedToken>& scanned, Analysis& a) {
    const std::size_t base = a.symbols.size();
    TokenFinder find(scanned);
    a.symbols.reserve(base + names.entities.size());
    std::vector<int> sites_of(names.entities.size());  // room for the uses, at most
    for (const NameSite& site : names.sites) ++sites_of[static_cast<std::size_t>(site.entity)];
    for (const NamedEntity& e : names.entities) {
        Symbol s;
        s.uses.reserve(static_cast<std::size_t>(sites_of[a.symbols.size() - base]));
        s.kind = kind_of(e.kind);
        s.name = e.name;
        s.scope = e.scope;
        s.type = type_name(e.type);
        s.is_const = e.is_const;
        if (e.value) s.value = *e.value;
        s.detail = variable_detail(e);
        if (s.kind == SymbolKind::Function) {
            s.first_token = find.starting(moved(e.extent.offset));
            s.last_token = static_cast<int>(find.first_at_or_after(moved(e.extent.offset + e.extent.length))) - 1;
            for (int p : e.parameters) s.parameters.push_back(static_cast<int>(base) + p);
        }
        a.symbols.push_back(std::move(s));
    }
    for (std::size_t i = base; i < a.symbols.size(); ++i) {
        Symbol& s = a.symbols[i];
        if (s.kind != SymbolKind::Function) continue;
        std::string params;
        for (int p : s.parameters) params += (params.empty() ? "" : ", ") + a.symbols[static_cast<std::size_t>(p)].detail;
        s.detail = "function " + s.type + " " + s.name + "(" + params + ")";
    }
    for (const NameSite& site : names.sites) {
        const int t = find.starting(moved(site.span.offset));
        if (t < 0 || a.tokens[static_cast<std::size_t>(t)].code != IDENT) continue;
        Token& tok = a.tokens[static_cast<std::size_t>(t)];
        const int sym = static_cast<int>(base) + site.entity;
        if (tok.symbol >= 0 && tok.symbol != sym) continue;
        Symbol& s = a.symbols[static_cast<std::size_t>(sym)];
        if (site.declaration) s.declaration = t;
        if (tok.symbol < 0) s.uses.push_back(t);  // a subtree translated twice counts once
        tok.symbol = sym;
    }
    for (auto& s : a.symbols)
        if (!std::is_sorted(s.uses.begin(), s.uses.end())) std::sort(s.uses.begin(), s.uses.end());
}

// ---- Without a tree -----------------------------------------------------------

// The text to compile instead when the compiler builds no tree: the function
// (or global declaration) holding the first syntax error left out, keeping
// the function's heading when it is whole, with offsets unchanged. Sets
// [from, to) to the CP932 range left out, and `blank` to where the blank
// part of it starts (past the kept heading and the '}' closing it).
std::string without_broken_part(const std::string& bytes, const std::vector<ScannedToken>& toks,
                                std::size_t error, std::size_t& from, std::size_t& to, std::size_t& blank) {
    int fn = -1, next = -1;
    for (int i = 0; i < static_cast<int>(toks.size()); ++i) {
        if (toks[static_cast<std::size_t>(i)].code != FUNCTION) continue;
        if (toks[static_cast<std::size_t>(i)].offset < error) fn = i;
        else if (next < 0) next = i;
    }
    std::string text = bytes;
    from = fn >= 0 ? toks[static_cast<std::size_t>(fn)].offset : 0;
    to = next >= 0 ? toks[static_cast<std::size_t>(next)].offset : bytes.size();
    if (fn < 0) {  // among the global declarations: the one statement
        for (const auto& t : toks) {
            if (t.offset >= error) break;
            if (t.code == ';') from = t.offset + 1;
        }
        for (const auto& t : toks)
            if (t.offset >= error && (t.code == ';' || t.code == FUNCTION)) {
                to = t.code == ';' ? t.offset + 1 : t.offset;
                break;
            }
    }
    std::size_t keep = from;
    if (fn >= 0) {
        // "function TYPE NAME ( ... ) {": keep it, and close the body at once.
        std::size_t i = static_cast<std::size_t>(fn) + 1;
        if (i + 2 < toks.size() && toks[i].code == TYPE && toks[i + 1].code == IDENT && toks[i + 2].code == '(') {
            for (i += 3; i < toks.size() && toks[i].offset < to; ++i) {
                if (toks[i].code == ')') {
                    if (i + 1 < toks.size() && toks[i + 1].code == '{' && toks[i + 1].offset < error) {
                        keep = toks[i + 1].offset + 1;
                    }
                    break;
                }
                if (toks[i].code != TYPE && toks[i].code != IDENT && toks[i].code != ',' && toks[i].code != CONST) break;
            }
        }
    }
    for (std::size_t i = keep; i < to; ++i)
        if (text[i] != '\n' && text[i] != '\r') text[i] = ' ';
    blank = keep;
    if (keep > from && keep < to) text[blank++] = '}';
    return text;
}

// `left_out`'s names as the compilation of `text` would record them, if
// `text` differs from its text only by whitespace inside both blank
// stretches.
std::optional<Moved> reusable(const LeftOut& left_out, const std::string& text, std::size_t blank, std::size_t to) {
    const std::string& old = left_out.text;
    const std::size_t n = std::min(old.size(), text.size());
    std::size_t prefix = 0, suffix = 0;
    while (prefix < n && old[prefix] == text[prefix]) ++prefix;
    while (suffix < n - prefix && old[old.size() - 1 - suffix] == text[text.size() - 1 - suffix]) ++suffix;
    auto white = [](std::string_view s) { return s.find_first_not_of(" \n") == std::string_view::npos; };
    const std::size_t old_end = old.size() - suffix, new_end = text.size() - suffix;
    if (prefix < left_out.blank || old_end > left_out.to || prefix < blank || new_end > to) return std::nullopt;
    if (!white(std::string_view(old).substr(prefix, old_end - prefix)) ||
        !white(std::string_view(text).substr(prefix, new_end - prefix)))
        return std::nullopt;
    return Moved{old_end, static_cast<std::ptrdiff_t>(text.size()) - static_cast<std::ptrdiff_t>(old.size())};
}

// Where `offset` of `old_text` is in `new_text`, assuming the change between
// them is one replaced stretch; npos inside that stretch.
struct Shift {
    std::size_t prefix = 0, suffix = 0;
    std::size_t old_size = 0, new_size = 0;
    Shift(std::string_view a, std::string_view b) : old_size(a.size()), new_size(b.size()) {
        const std::size_t n = std::min(a.size(), b.size());
        while (prefix < n && a[prefix] == b[prefix]) ++prefix;
        while (suffix < n - prefix && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) ++suffix;
    }
    std::size_t map(std::size_t offset, std::size_t length) const {
        if (offset + length <= prefix) return offset;
        if (offset >= old_size - suffix) return offset - old_size + new_size;
        return std::string::npos;
    }
};

// Names inside the left-out stretch [from, to) (document offsets) from an
// earlier analysis, where its tokens are still there unchanged.
void adopt_old_names(const Analysis& old, std::size_t from, std::size_t to, Analysis& a) {
    const Shift shift(old.text, a.text);
    std::map<int, int> symbol_of;  // old symbol -> new
    auto find_symbol = [&](int old_index) {
        if (auto it = symbol_of.find(old_index); it != symbol_of.end()) return it->second;
        const Symbol& o = old.symbols[static_cast<std::size_t>(old_index)];
        int found = -1;
        for (int i = 0; i < static_cast<int>(a.symbols.size()); ++i) {
            const Symbol& s = a.symbols[static_cast<std::size_t>(i)];
            if (s.kind == o.kind && s.name == o.name && s.scope == o.scope) found = i;
        }
        if (found < 0) {
            Symbol copy = o;
            copy.declaration = -1;
            copy.uses.clear();
            copy.first_token = copy.last_token = -1;
            copy.parameters.clear();
            found = static_cast<int>(a.symbols.size());
            a.symbols.push_back(std::move(copy));
        }
        return symbol_of[old_index] = found;
    };
    for (int i = 0; i < static_cast<int>(old.tokens.size()); ++i) {
        const Token& ot = old.tokens[static_cast<std::size_t>(i)];
        if (ot.symbol < 0) continue;
        const std::size_t at = shift.map(ot.offset, ot.length);
        if (at == std::string::npos || at < from || at >= to) continue;
        const int t = a.token_starting(at);
        if (t < 0 || a.tokens[static_cast<std::size_t>(t)].symbol >= 0 || a.text_of(t) != old.text_of(ot))
            continue;
        const int sym = find_symbol(ot.symbol);
        Symbol& s = a.symbols[static_cast<std::size_t>(sym)];
        a.tokens[static_cast<std::size_t>(t)].symbol = sym;
        s.uses.insert(std::lower_bound(s.uses.begin(), s.uses.end(), t), t);
        if (old.symbols[static_cast<std::size_t>(ot.symbol)].declaration == i && s.declaration < 0) s.declaration = t;
    }
    // A function whose body was left out still spans its old text.
    for (auto& s : a.symbols) {
        if (s.kind != SymbolKind::Function || s.first_token < 0) continue;
        const std::size_t first = a.tokens[static_cast<std::size_t>(s.first_token)].offset;
        if (first < from || first >= to) continue;
        int last = s.first_token;
        while (last + 1 < static_cast<int>(a.tokens.size()) && a.tokens[static_cast<std::size_t>(last) + 1].offset < to) ++last;
        s.last_token = last;
    }
}

}  // namespace

int Analysis::token_at(Position p) const {
    // Tokens are in text order: the last one starting at or before p.
    int lo = 0, hi = static_cast<int>(tokens.size()), found = -1;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (!(p < tokens[static_cast<std::size_t>(mid)].start)) found = mid, lo = mid + 1;
        else hi = mid;
    }
    if (found < 0) return -1;
    const Token& t = tokens[static_cast<std::size_t>(found)];
    if (t.end.line != p.line || t.end.character < p.character) return -1;
    return found;
}

int Analysis::token_starting(std::size_t offset) const {
    auto it = std::lower_bound(tokens.begin(), tokens.end(), offset,
                               [](const Token& t, std::size_t o) { return t.offset < o; });
    return it != tokens.end() && it->offset == offset ? static_cast<int>(it - tokens.begin()) : -1;
}

int Analysis::function_at(Position p) const {
    for (int i = 0; i < static_cast<int>(symbols.size()); ++i) {
        const Symbol& s = symbols[static_cast<std::size_t>(i)];
        if (s.kind != SymbolKind::Function || s.first_token < 0 || s.last_token < s.first_token) continue;
        if (!(p < tokens[static_cast<std::size_t>(s.first_token)].start) &&
            !(tokens[static_cast<std::size_t>(s.last_token)].end < p))
            return i;
    }
    return -1;
}

Analysis analyse(std::string_view utf8, const Settings& settings, const Analysis* last_complete,
                 const Analysis* previous) {
    Analysis a;
    if (previous) a.left_out = previous->left_out;
    a.text = utf8;
    Source src = convert(utf8, a.line_lengths);
    Run run;
    run.bytes = src.bytes;
    run.tokens = &kept_token_log();
    run.c_compat = settings.c_compat;
    Worker::get().run(run);
    a.complete = run.tree;
    collect_diagnostics(src, run.result, catalog::language_named(settings.language).value_or(catalog::Language::ja), a);

    const std::vector<ScannedToken>& scanned = *run.tokens;
    a.tokens.reserve(scanned.size());
    // Tokens come in text order: their lines are found walking forward.
    int line = 0;
    const int last_line = static_cast<int>(src.line_start.size()) - 1;
    auto place = [&](std::size_t offset) {
        offset = std::min(offset, src.bytes.size());
        while (line < last_line && src.line_start[static_cast<std::size_t>(line) + 1] <= offset) ++line;
        return src.place(offset, line);
    };
    for (const auto& raw : scanned) {
        if (raw.offset < src.line_start[static_cast<std::size_t>(line)]) line = src.line_of(raw.offset);
        Token t;
        t.code = raw.code;
        t.cls = class_of(raw.code);
        const Source::Place start = place(raw.offset);
        const int start_line = line;
        const Source::Place end = place(raw.offset + raw.length);
        line = start_line;
        t.start = start.position;
        t.end = end.position;
        t.offset = start.utf8;
        t.length = end.utf8 - start.utf8;
        a.tokens.push_back(t);
    }
    if (run.tree) {
        link_names(run.names, {}, scanned, a);
    } else {
        // The text without the broken part, as often as a part still breaks it.
        std::string text = src.bytes;
        std::size_t error = run.result.diagnostics.empty() ? 0 : run.result.diagnostics.back().span.offset;
        std::size_t from = 0, to = 0, blank = 0, first_from = std::string::npos, last_to = 0;
        for (int attempt = 0; attempt < 4; ++attempt) {
            text = without_broken_part(text, scanned, error, from, to, blank);
            first_from = std::min(first_from, from);
            last_to = std::max(last_to, to);
            if (attempt == 0 && previous && previous->left_out) {
                if (auto moved = reusable(*previous->left_out, text, blank, to)) {
                    a.left_out = previous->left_out;
                    link_names(a.left_out->names, *moved, scanned, a);
                    break;
                }
            }
            Run again;
            again.bytes = text;
            Worker::get().run(again);
            if (again.tree) {
                if (attempt == 0) {
                    auto kept = std::make_shared<LeftOut>();
                    kept->text = text;
                    kept->blank = blank;
                    kept->to = to;
                    kept->names = std::move(again.names);
                    a.left_out = kept;
                }
                link_names(attempt == 0 ? a.left_out->names : again.names, {}, scanned, a);
                break;
            }
            if (again.result.diagnostics.empty()) break;
            error = again.result.diagnostics.back().span.offset;
        }
        if (last_complete && first_from != std::string::npos)
            adopt_old_names(*last_complete, src.document_offset(first_from), src.document_offset(last_to), a);
    }
    for (Token& t : a.tokens) {
        if (t.symbol < 0) continue;
        const SymbolKind k = a.symbols[static_cast<std::size_t>(t.symbol)].kind;
        t.cls = k == SymbolKind::Function ? TokenClass::Function
                : k == SymbolKind::Parameter ? TokenClass::Parameter : TokenClass::Variable;
    }
    // A call of a name that is no function (yet) still reads as a call.
    for (std::size_t i = 0; i + 1 < a.tokens.size(); ++i)
        if (a.tokens[i].code == IDENT && a.tokens[i].symbol < 0 && a.tokens[i + 1].code == '(')
            a.tokens[i].cls = TokenClass::Function;
    return a;
}

}  // namespace lsp
