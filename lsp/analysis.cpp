// Runs the compiler's front end on a document held in memory and turns what
// it leaves behind (diagnostics, parse tree, tokens) into positions and
// symbols for the language server.
#include "analysis.h"

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <map>
#include <stdexcept>

#include "charset.h"
#include "compile.h"
#include "diagnostics.h"
#include "frontend.h"
#include "node.h"
#include "parser.hpp"
#include "report.h"

namespace lsp {
namespace {

// The document in the compiler's character set, with the way back from
// its byte offsets to UTF-16 positions.
struct Source {
    std::string bytes;                   // CP932, CR LF as LF
    std::vector<std::size_t> line_start; // offset of every line in bytes
    std::vector<std::vector<int>> column;  // per line: UTF-16 column of each byte, and of its end
    std::vector<int> bad_lines;          // lines with a character CP932 cannot hold

    // The position of a byte offset, searching from line `hint` on (the
    // offsets asked for mostly grow).
    Position at(std::size_t offset, std::size_t& hint) const {
        if (hint >= line_start.size() || line_start[hint] > offset) hint = 0;
        while (hint + 1 < line_start.size() && line_start[hint + 1] <= offset) ++hint;
        const auto& cols = column[hint];
        std::size_t k = std::min(offset - line_start[hint], cols.size() - 1);
        return {static_cast<int>(hint), cols[k]};
    }
};

Source convert(std::string_view utf8, std::vector<int>& line_lengths) {
    Source s;
    s.bytes.reserve(utf8.size());
    s.line_start.push_back(0);
    s.column.emplace_back();
    int col = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        std::size_t length;
        long c = charset::decode_utf8(utf8, pos, length);
        pos += length;
        if (c == '\r' && pos < utf8.size() && utf8[pos] == '\n') continue;  // text mode
        auto& cols = s.column.back();
        if (c == '\n') {
            cols.push_back(col);
            line_lengths.push_back(col);
            s.bytes += '\n';
            s.line_start.push_back(s.bytes.size());
            s.column.emplace_back();
            col = 0;
            continue;
        }
        long code = c < 0 ? -1 : charset::to_cp932(static_cast<char32_t>(c));
        if (code < 0) {
            int line = static_cast<int>(s.line_start.size());
            if (s.bad_lines.empty() || s.bad_lines.back() != line) s.bad_lines.push_back(line);
            code = ' ';
        }
        if (code > 0xFF) {
            s.bytes += static_cast<char>(code >> 8);
            cols.push_back(col);
        }
        s.bytes += static_cast<char>(code & 0xFF);
        cols.push_back(col);
        col += c > 0xFFFF ? 2 : 1;
    }
    s.column.back().push_back(col);
    line_lengths.push_back(col);
    return s;
}

// ---- What the parse tree declares -------------------------------------------

struct Variable {
    std::string name, detail;
    bool parameter = false;
};
struct Function {
    std::string name, detail;
    std::vector<Variable> variables;  // parameters, then locals
};
struct Declarations {
    std::vector<Variable> globals;
    std::vector<Function> functions;  // in source order, duplicates included
};

std::string variable_detail(ValueType type, bool is_const, const std::string& name, bool is_array,
                            unsigned size) {
    std::string d = is_const ? "const " : "";
    d += type_name(type) + " " + name;
    if (is_array) d += "[" + std::to_string(size) + "]";
    return d;
}

void collect_variables(const declare_valiable* v, ValueType type, bool is_const, std::vector<Variable>& out) {
    if (!v) return;
    if (v->left || v->right) {
        collect_variables(v->left, type, is_const, out);
        collect_variables(v->right, type, is_const, out);
    } else if (!v->name.empty()) {
        out.push_back({v->name, variable_detail(type, is_const, v->name, v->is_array, v->size)});
    }
}

void collect_declarations(const declarations* d, std::vector<Variable>& out) {
    for (; d; d = d->rest)
        if (d->first) collect_variables(d->first->list, d->first->type, d->first->is_const, out);
}

void collect_parameters(const declare_parameter* p, std::vector<Variable>& out) {
    if (!p) return;
    if (p->left || p->right) {
        collect_parameters(p->left, out);
        collect_parameters(p->right, out);
    } else if (!p->name.empty()) {
        out.push_back({p->name, variable_detail(p->type, p->is_const, p->name, false, 1), true});
    }
}

void collect_functions(const define_functions* f, std::vector<Function>& out) {
    if (!f) return;
    if (auto* def = dynamic_cast<const define_function*>(f->first)) {
        Function fn{def->name, {}, {}};
        if (def->params) collect_parameters(def->params->list, fn.variables);
        std::string params;
        for (const auto& v : fn.variables) params += (params.empty() ? "" : ", ") + v.detail;
        fn.detail = "function " + type_name(def->result) + " " + def->name + "(" + params + ")";
        collect_declarations(def->locals, fn.variables);
        out.push_back(std::move(fn));
    } else if (auto* list = dynamic_cast<const define_functions*>(f->first)) {
        collect_functions(list, out);
    }
    collect_functions(f->second, out);
}

// ---- One run of the front end ------------------------------------------------

struct RawToken {
    int code;
    std::size_t offset, length;
};

struct Run {
    const Source* source;
    Analysis* analysis;
    Declarations decls;
    std::vector<RawToken> tokens;
};

void run_front_end(Run& run) {
    const Source& src = *run.source;
    Analysis& a = *run.analysis;
    using catalog::Charset;
    for (int line : src.bad_lines) {
        Diagnostic d;
        d.line = line;
        d.part = "flex";
        d.kind = catalog::name(catalog::Text::UnconvertibleCharacter);
        d.text = catalog::text(catalog::Text::UnconvertibleCharacter, Charset::utf8);
        a.diagnostics.push_back(std::move(d));
    }
    CompileOptions options;
    options.inspect = [&](const program* root, const MapManager&) {
        if (!root) return;
        collect_declarations(root->decls, run.decls.globals);
        collect_functions(root->funcs, run.decls.functions);
    };
    const CompileResult result = compile_source_on_this_thread("", src.bytes, options);
    for (const auto& r : result.diagnostics) {
        Diagnostic d;
        d.line = r.line;
        d.warning = r.warning;
        d.part = r.node;
        d.kind = r.class_name();
        d.text = diagnostic_text(r, Charset::utf8);
        a.diagnostics.push_back(std::move(d));
    }
    if (result.fatal) {
        Diagnostic d;
        d.line = a.diagnostics.empty() ? 1 : a.diagnostics.back().line;
        d.kind = catalog::name(result.fatal->id);
        d.text = fatal_text(*result.fatal, Charset::utf8);
        a.diagnostics.push_back(std::move(d));
    }

    // The tokens: the scanner once more, on its own, with the list closed.
    diagnostics.clear();
    diagnostics.enabled = false;
    scanner_start(src.bytes);
    for (int code; (code = next_token()) != 0;) run.tokens.push_back({code, token_offset, token_length});
    scanner_finish();
    diagnostics.clear();
    free_token_texts();
}

// The front end recurses once per level of nesting in the source; like the
// compiler it runs on a thread with room for the deepest source. The
// thread stays for the next document, with its memory already mapped (a
// fresh thread per change costs more than the compilation).
constexpr std::size_t kStack = std::size_t{256} << 20;

class Worker {
public:
    static Worker& get() {
        static Worker* worker = new Worker;  // lives as long as the process
        return *worker;
    }
    void run(Run& run) {
        if (!started_) {
            run_front_end(run);
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
            run_front_end(*w->job_);
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

Symbol make_symbol(SymbolKind kind, const std::string& name, const std::string& scope, const std::string& detail) {
    Symbol s;
    s.kind = kind;
    s.name = name;
    s.scope = scope;
    s.detail = detail;
    return s;
}

// Gives every name token its symbol. Functions cannot nest and every
// function starts with "function", so the tokens from one "function" to the
// next are that function's text; a name there is its parameter or local
// when the function declares one of that name, else a global.
void resolve(Run& run) {
    Analysis& a = *run.analysis;
    auto& toks = a.tokens;
    std::map<std::string, int> globals, functions;
    for (const auto& g : run.decls.globals) {
        if (globals.count(g.name)) continue;
        globals[g.name] = static_cast<int>(a.symbols.size());
        a.symbols.push_back(make_symbol(SymbolKind::Global, g.name, "", g.detail));
    }
    // Function texts, matched to the tree's definitions by name and order.
    struct Region {
        int first, last;
        const Function* fn;
        std::map<std::string, int> names;
    };
    std::vector<Region> regions;
    std::map<std::string, int> seen;  // definitions of a name met so far
    for (int i = 0; i < static_cast<int>(toks.size()); ++i) {
        if (toks[i].code != FUNCTION) continue;
        if (!regions.empty()) regions.back().last = i - 1;
        Region r{i, static_cast<int>(toks.size()) - 1, nullptr, {}};
        if (i + 2 < static_cast<int>(toks.size()) && toks[i + 1].code == TYPE && toks[i + 2].code == IDENT) {
            const std::string& name = toks[i + 2].text;
            int nth = seen[name]++;
            for (const auto& fn : run.decls.functions)
                if (fn.name == name && nth-- == 0) {
                    r.fn = &fn;
                    break;
                }
        }
        regions.push_back(std::move(r));
    }
    for (auto& r : regions) {
        if (!r.fn) continue;
        if (!functions.count(r.fn->name)) {
            functions[r.fn->name] = static_cast<int>(a.symbols.size());
            Symbol s = make_symbol(SymbolKind::Function, r.fn->name, "", r.fn->detail);
            s.first_token = r.first;
            s.last_token = r.last;
            a.symbols.push_back(std::move(s));
        }
        for (const auto& v : r.fn->variables) {
            if (r.names.count(v.name)) continue;
            r.names[v.name] = static_cast<int>(a.symbols.size());
            a.symbols.push_back(make_symbol(v.parameter ? SymbolKind::Parameter : SymbolKind::Local, v.name,
                                            r.fn->name, v.detail));
        }
    }
    std::size_t region = 0;
    for (int i = 0; i < static_cast<int>(toks.size()); ++i) {
        while (region < regions.size() && regions[region].last < i) ++region;
        Region* r = region < regions.size() && regions[region].first <= i ? &regions[region] : nullptr;
        Token& t = toks[i];
        if (t.code != IDENT) continue;
        bool defines = i >= 2 && toks[i - 1].code == TYPE && toks[i - 2].code == FUNCTION;
        bool calls = i + 1 < static_cast<int>(toks.size()) && toks[i + 1].code == '(';
        int sym = -1;
        if (defines || calls) {
            auto it = functions.find(t.text);
            if (it != functions.end()) sym = it->second;
            t.cls = TokenClass::Function;
            // Only the definition the tree kept declares the name.
            if (defines && sym >= 0 && r && a.symbols[sym].first_token == r->first) a.symbols[sym].declaration = i;
        } else {
            if (r && r->fn) {
                auto it = r->names.find(t.text);
                if (it != r->names.end()) sym = it->second;
            }
            if (sym < 0) {
                auto it = globals.find(t.text);
                if (it != globals.end()) sym = it->second;
            }
            if (sym >= 0) {
                Symbol& s = a.symbols[sym];
                t.cls = s.kind == SymbolKind::Parameter ? TokenClass::Parameter : TokenClass::Variable;
                // Declarations come first in their scope: the first use
                // inside it is the declaring name.
                bool in_scope = s.kind == SymbolKind::Global ? r == nullptr : r != nullptr;
                if (s.declaration < 0 && in_scope) s.declaration = i;
            }
        }
        t.symbol = sym;
        if (sym >= 0) a.symbols[sym].uses.push_back(i);
    }
}

}  // namespace

int Analysis::token_at(Position p) const {
    // Tokens are in text order: the last one starting at or before p.
    int lo = 0, hi = static_cast<int>(tokens.size()), found = -1;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        const Position& s = tokens[mid].start;
        if (s.line < p.line || (s.line == p.line && s.character <= p.character)) found = mid, lo = mid + 1;
        else hi = mid;
    }
    if (found < 0) return -1;
    const Token& t = tokens[found];
    if (t.end.line != p.line || t.end.character < p.character) return -1;
    return found;
}

int Analysis::function_at(Position p) const {
    for (int i = 0; i < static_cast<int>(symbols.size()); ++i) {
        const Symbol& s = symbols[i];
        if (s.kind != SymbolKind::Function || s.first_token < 0) continue;
        const Position& a = tokens[s.first_token].start;
        bool after = a.line < p.line || (a.line == p.line && a.character <= p.character);
        bool last = s.last_token + 1 >= static_cast<int>(tokens.size());
        const Position& b = last ? Position{1 << 30, 0} : tokens[s.last_token + 1].start;
        bool before = p.line < b.line || (p.line == b.line && p.character < b.character);
        if (after && before) return i;
    }
    return -1;
}

Analysis analyse(std::string_view utf8) {
    Analysis a;
    Source src = convert(utf8, a.line_lengths);
    Run run{&src, &a, {}, {}};
    Worker::get().run(run);
    a.tokens.reserve(run.tokens.size());
    std::size_t line = 0;
    for (const auto& raw : run.tokens) {
        Token t;
        t.code = raw.code;
        t.cls = class_of(raw.code);
        t.start = src.at(raw.offset, line);
        t.end = src.at(raw.offset + raw.length, line);
        t.text = charset::cp932_to_utf8(std::string_view(src.bytes).substr(raw.offset, raw.length));
        a.tokens.push_back(std::move(t));
    }
    resolve(run);
    return a;
}

}  // namespace lsp
