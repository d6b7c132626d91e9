// Random program generator. Programs are built so that the machine image and
// the C translation cannot disagree unless a translation is wrong:
// - every int value, also every intermediate one, stays inside 16 bits: each
//   expression carries bounds on its value, and operands whose bounds are too
//   wide are wrapped with "mod" before they are combined;
// - ordered comparisons only see operands inside -16384..16383, where the
//   machine's 16-bit difference cannot overflow;
// - divisors never include 0, and -32768 is never divided by -1;
// - calls inside expressions only reach "pure" functions (no output, input or
//   global store, calling only pure functions), because the machine evaluates
//   operands and arguments in a fixed order while C does not, and C skips the
//   right operand of && and ||; a call with effects stands alone (a call
//   statement, or the whole value of an assignment, output or return);
// - every local is assigned before it is read (the machine's stack and C's
//   locals hold different garbage); globals start as 0 in both as long as
//   the uninitialised ones come first (Options::mixed_global_order);
// - loops run a bounded number of times (a counter that the body never
//   assigns), recursion is bounded by a const depth parameter, and a cost
//   estimate keeps the work and the amount of input of one run small.
#include "generator.h"

#include <algorithm>
#include <deque>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace proggen {
namespace {

enum class Ty { Void, Int, Bool };

const char* type_word(Ty t) {
    switch (t) {
    case Ty::Void: return "void";
    case Ty::Int: return "int";
    case Ty::Bool: return "bool";
    }
    return "void";
}

// Binding levels of the source operators, loosest first.
enum Prec { LOGIC = 1, EQUALITY, RELATION, ADDITIVE, MULTIPLICATIVE, PREFIX, ATOM };

constexpr long kMin = -32768, kMax = 32767;
constexpr long kCmpLimit = 16383;   // ordered comparisons: operands in -16384..16383
constexpr int kMaxDepthArg = 3;     // recursion depth parameters stay in 0..3
constexpr long kMaxMult = 48;       // bound on the product of nested trip counts

struct Expr {
    std::string text;
    int prec = ATOM;
    Ty ty = Ty::Int;
    long lo = 0, hi = 0;  // for ints: bounds of every value it can take
};

struct Var {
    std::string name;
    Ty ty = Ty::Int;
    bool is_array = false;
    int size = 1;
    bool is_const = false;
    bool is_global = false;
    bool is_counter = false;
    bool is_depth = false;  // the depth parameter of a recursive function
    bool want_init = false; // declared with an initialiser
    bool readable = true;   // assigned on every path to the current point
    bool read = false;      // read somewhere (unread variables are warned about)
    long lo = 0, hi = 0;    // for ints: bounds of every value it can hold
};

struct Func {
    std::string name;
    Ty result = Ty::Void;
    std::vector<Var*> params;
    bool pure = false;
    bool recursive = false;
    long budget = 0;
    long cost = 1;    // bound on statements executed per call, callees included
    long inputs = 0;  // bound on numbers read per call, callees included
    std::vector<std::string> lines;
};

// State of the function body being generated.
struct Ctx {
    Func* fn = nullptr;
    int index = 0;                // may call functions with a larger index
    std::vector<Var*> vars;       // parameters and locals
    std::vector<Var*> counters;   // loop counters, one per loop nesting level
    long mult = 1;                // bound on runs of the current statement per call
    int loops = 0;                // loops of this function around the current statement
    long cost = 0, inputs = 0;
    long input_limit = 0;
    int rec_sites = 0;
    bool literals_only = false;   // global initialisers: C wants constant expressions
    int expr_depth = 3;
};

using Lines = std::vector<std::string>;

class Generator {
public:
    Generator(std::uint64_t seed, const Options& o) : rng_(seed), opt_(o) {}

    Program run(std::uint64_t seed);

private:
    // --- random choices (own arithmetic so that every platform agrees) ---
    long below(long n) { return n <= 1 ? 0 : static_cast<long>(rng_() % static_cast<std::uint64_t>(n)); }
    long range(long lo, long hi) { return lo + below(hi - lo + 1); }
    bool chance(int percent) { return below(100) < percent; }
    template <class T> T& pick(std::vector<T>& v) { return v[static_cast<std::size_t>(below(static_cast<long>(v.size())))]; }

    // --- expressions ---
    Expr literal(long v);
    Expr boolean(bool b);
    std::string operand(const Expr& e, bool needed);
    Expr binary(const char* op, int prec, const Expr& l, const Expr& r, Ty ty, long lo, long hi);
    Expr prefix(const char* op, const Expr& e, Ty ty, long lo, long hi);
    Expr parens(const Expr& e);
    Expr add(Expr l, Expr r, bool minus);
    Expr mul(Expr l, Expr r);
    Expr div(Expr l, Expr r);
    Expr mod(Expr l, Expr r);
    Expr negate(Expr e);
    Expr nonzero(Expr e);
    Expr fit_sym(Expr e, long m);
    Expr fit_nonneg(Expr e, long size);
    Expr fit_cmp(const Expr& e) { return fit_sym(e, kCmpLimit); }
    Expr fit_var(const Expr& e, const Var& v);
    Expr gen_int(Ctx& c, int depth);
    Expr gen_bool(Ctx& c, int depth);
    Expr int_leaf(Ctx& c, int depth);
    Expr bool_leaf(Ctx& c, int depth);
    Expr var_read(Ctx& c, Var* v, int depth);
    Expr subscript(Ctx& c, const Var& array, int depth);
    long int_literal_value();

    // --- variables and calls ---
    std::vector<Var*> readable(Ctx& c, Ty ty, bool array);
    std::vector<Var*> assignable(Ctx& c, Ty ty, bool array);
    Var* prefer_unread(std::vector<Var*>& vs);
    std::vector<Func*> callable(Ctx& c, Ty result, bool pure_only);
    std::string call_text(Ctx& c, Func& f, int depth, const std::string& depth_arg = "");
    Expr call_expr(Ctx& c, Func& f, int depth);

    // --- statements ---
    void emit(Lines& out, int ind, const std::string& text) { out.push_back(std::string(4 * static_cast<std::size_t>(ind), ' ') + text); }
    void stmts(Ctx& c, Lines& out, int ind, int count, int depth);
    void stmt(Ctx& c, Lines& out, int ind, int depth, bool single);
    bool branch(Ctx& c, Lines& out, int ind, int depth);
    void gen_if(Ctx& c, Lines& out, int ind, int depth);
    void gen_loop(Ctx& c, Lines& out, int ind, int depth, bool single);
    void gen_exit(Ctx& c, Lines& out, int ind, const std::string& word);
    void gen_output(Ctx& c, Lines& out, int ind);
    void gen_input(Ctx& c, Lines& out, int ind);
    void gen_assign(Ctx& c, Lines& out, int ind, bool element);
    void gen_effect_call(Ctx& c, Lines& out, int ind);
    void gen_return(Ctx& c, Lines& out, int ind);
    void gen_recursion(Ctx& c, Lines& out, int ind);
    std::string text_literal();
    Var* counter(Ctx& c, int level);

    // --- program structure ---
    std::string name_for(const std::string& base);
    void plan_globals(Lines& out);
    void plan_functions();
    void gen_function(Func& f, int index);
    Lines declarations(std::vector<Var*>& vs, int ind, Ctx& c);
    std::string input_text(long count);

    std::mt19937_64 rng_;
    Options opt_;
    long v_ = 1000;  // ordinary ints hold values in -v_..v_
    std::deque<Var> vars_;
    std::vector<Var*> globals_;
    std::deque<Func> funcs_;  // funcs_[0] is start
};

// ---------------------------------------------------------------- expressions

Expr Generator::literal(long v) {
    Expr e;
    e.text = std::to_string(v);
    e.lo = e.hi = v;
    return e;
}

Expr Generator::boolean(bool b) {
    Expr e;
    e.text = b ? "true" : "false";
    e.ty = Ty::Bool;
    return e;
}

std::string Generator::operand(const Expr& e, bool needed) {
    // Redundant parentheses now and then, so both kinds of text occur.
    if (needed || (e.prec < ATOM && chance(6))) return "(" + e.text + ")";
    return e.text;
}

// Operators of one level group from the left: the right operand needs
// parentheses already at equal level.
Expr Generator::binary(const char* op, int prec, const Expr& l, const Expr& r, Ty ty, long lo, long hi) {
    Expr e;
    // Every random choice is its own statement: the order in which C++
    // evaluates function arguments is unspecified, and the same seed must
    // give the same program whatever the compiler.
    const std::string left = operand(l, l.prec < prec);
    e.text = left + " " + op + " " + operand(r, r.prec <= prec);
    e.prec = prec;
    e.ty = ty;
    e.lo = lo;
    e.hi = hi;
    return e;
}

Expr Generator::prefix(const char* op, const Expr& e, Ty ty, long lo, long hi) {
    Expr r;
    r.text = std::string(op) + " " + operand(e, e.prec < PREFIX);
    r.prec = PREFIX;
    r.ty = ty;
    r.lo = lo;
    r.hi = hi;
    return r;
}

Expr Generator::parens(const Expr& e) {
    Expr r = e;
    r.text = "(" + e.text + ")";
    r.prec = ATOM;
    return r;
}

Expr Generator::add(Expr l, Expr r, bool minus) {
    auto bounds = [&] {
        return minus ? std::pair(l.lo - r.hi, l.hi - r.lo) : std::pair(l.lo + r.lo, l.hi + r.hi);
    };
    auto [lo, hi] = bounds();
    if (lo < kMin || hi > kMax) {
        l = fit_sym(l, 9999);
        r = fit_sym(r, 9999);
        std::tie(lo, hi) = bounds();
    }
    return binary(minus ? "-" : "+", ADDITIVE, l, r, Ty::Int, lo, hi);
}

Expr Generator::mul(Expr l, Expr r) {
    auto bounds = [&] {
        const long c[] = {l.lo * r.lo, l.lo * r.hi, l.hi * r.lo, l.hi * r.hi};
        return std::pair(*std::min_element(c, c + 4), *std::max_element(c, c + 4));
    };
    auto [lo, hi] = bounds();
    if (lo < kMin || hi > kMax) {
        l = fit_sym(l, 150);
        r = fit_sym(r, 150);
        std::tie(lo, hi) = bounds();
    }
    return binary("*", MULTIPLICATIVE, l, r, Ty::Int, lo, hi);
}

Expr Generator::nonzero(Expr e) {
    if (e.lo > 0 || e.hi < 0) return e;
    // (e mod k) + k lies in 1..2k-1.
    const long k = range(2, 12);
    return add(mod(e, literal(k)), literal(k), false);
}

Expr Generator::div(Expr l, Expr r) {
    r = nonzero(r);
    if (l.lo == kMin && r.lo <= -1 && r.hi >= -1) l = fit_sym(l, 9999);  // -32768 div -1
    // Truncating division is monotonic in each operand while the divisor
    // keeps its sign, so the corners bound it.
    const long c[] = {l.lo / r.lo, l.lo / r.hi, l.hi / r.lo, l.hi / r.hi};
    return binary("div", MULTIPLICATIVE, l, r, Ty::Int, *std::min_element(c, c + 4), *std::max_element(c, c + 4));
}

Expr Generator::mod(Expr l, Expr r) {
    r = nonzero(r);
    // The remainder has the dividend's sign and a smaller magnitude than
    // both the dividend and the divisor.
    const long m = std::max(std::labs(r.lo), std::labs(r.hi)) - 1;
    const long lo = l.lo >= 0 ? 0 : std::max(l.lo, -m);
    const long hi = l.hi <= 0 ? 0 : std::min(l.hi, m);
    return binary("mod", MULTIPLICATIVE, l, r, Ty::Int, lo, hi);
}

Expr Generator::negate(Expr e) {
    if (e.lo == kMin) e = fit_sym(e, 9999);
    return prefix("-", e, Ty::Int, -e.hi, -e.lo);
}

// Bring e into -m..m.
Expr Generator::fit_sym(Expr e, long m) {
    if (e.lo >= -m && e.hi <= m) return e;
    return mod(e, literal(m + 1));
}

// Bring e into 0..size-1 (a subscript, a depth argument, a trip count).
Expr Generator::fit_nonneg(Expr e, long size) {
    if (e.lo >= 0 && e.hi <= size - 1) return e;
    if (e.lo >= 0) return mod(e, literal(size));
    return mod(add(mod(e, literal(size)), literal(size), false), literal(size));
}

Expr Generator::fit_var(const Expr& e, const Var& v) {
    if (v.ty != Ty::Int) return e;
    if (v.is_depth) return fit_nonneg(e, kMaxDepthArg + 1);
    return fit_sym(e, v_);
}

long Generator::int_literal_value() {
    static const long special[] = {0, 1, 2, 7, 10, 100, 255, 256, 1000, 16383, 16384, 32767};
    const long k = below(20);
    if (k < 10) return range(0, 9);
    if (k < 16) return range(0, v_);
    if (k < 18) return range(0, kMax);
    return special[below(12)];
}

Expr Generator::gen_int(Ctx& c, int depth) {
    if (depth <= 0 || chance(c.literals_only ? 45 : 30)) return int_leaf(c, depth);
    const long k = below(12);
    if (k < 8) {
        const Expr l = gen_int(c, depth - 1);
        const Expr r = gen_int(c, depth - 1);
        if (k < 2) return add(l, r, false);
        if (k < 4) return add(l, r, true);
        if (k < 6) return mul(l, r);
        return k == 6 ? div(l, r) : mod(l, r);
    }
    switch (k) {
    case 8: return negate(gen_int(c, depth - 1));
    case 9: {
        const Expr e = gen_int(c, depth - 1);
        return prefix("+", e, Ty::Int, e.lo, e.hi);
    }
    case 10: return parens(gen_int(c, depth - 1));
    default: return int_leaf(c, depth);
    }
}

Expr Generator::gen_bool(Ctx& c, int depth) {
    if (depth <= 0 || chance(25)) return bool_leaf(c, depth);
    static const char* logic[] = {"and", "or", "xor"};
    static const char* order[] = {"<", "<=", ">", ">="};
    static const char* equal[] = {"=", "><"};
    const long k = below(10);
    if (k < 3 || k == 7) {
        const char* op = k < 3 ? logic[below(3)] : equal[below(2)];
        const Expr l = gen_bool(c, depth - 1);
        const Expr r = gen_bool(c, depth - 1);
        return binary(op, k < 3 ? LOGIC : EQUALITY, l, r, Ty::Bool, 0, 0);
    }
    if (k == 4 || k == 5 || k == 6) {
        // Equality is exact on all 16-bit values; ordered comparisons are
        // not (a 16-bit difference).
        const char* op = k == 6 ? equal[below(2)] : order[below(4)];
        Expr l = gen_int(c, depth - 1);
        Expr r = gen_int(c, depth - 1);
        if (k != 6) {
            l = fit_cmp(l);
            r = fit_cmp(r);
        }
        return binary(op, k == 6 ? EQUALITY : RELATION, l, r, Ty::Bool, 0, 0);
    }
    if (k == 3) return prefix("not", gen_bool(c, depth - 1), Ty::Bool, 0, 0);
    if (k == 8) return parens(gen_bool(c, depth - 1));
    return bool_leaf(c, depth);
}

Expr Generator::var_read(Ctx& c, Var* v, int depth) {
    v->read = true;
    Expr e;
    e.ty = v->ty;
    e.lo = v->lo;
    e.hi = v->hi;
    e.text = v->name;
    if (v->is_array) e.text += "[" + subscript(c, *v, depth - 1).text + "]";
    return e;
}

Expr Generator::subscript(Ctx& c, const Var& array, int depth) {
    if (chance(40)) return literal(below(array.size));
    return fit_nonneg(gen_int(c, std::min(depth, 2)), array.size);
}

Expr Generator::int_leaf(Ctx& c, int depth) {
    if (!c.literals_only) {
        const long k = below(100);
        if (k < 40) {
            auto vs = readable(c, Ty::Int, false);
            if (!vs.empty()) return var_read(c, prefer_unread(vs), depth);
        } else if (k < 55) {
            auto vs = readable(c, Ty::Int, true);
            if (!vs.empty()) return var_read(c, prefer_unread(vs), depth);
        } else if (k < 68 && depth > 0) {
            auto fs = callable(c, Ty::Int, true);
            if (!fs.empty()) return call_expr(c, *pick(fs), depth);
        }
    }
    return literal(int_literal_value());
}

Expr Generator::bool_leaf(Ctx& c, int depth) {
    if (!c.literals_only) {
        const long k = below(100);
        if (k < 45) {
            auto vs = readable(c, Ty::Bool, false);
            if (!vs.empty()) return var_read(c, prefer_unread(vs), depth);
        } else if (k < 60) {
            auto vs = readable(c, Ty::Bool, true);
            if (!vs.empty()) return var_read(c, prefer_unread(vs), depth);
        } else if (k < 80 && depth > 0) {
            auto fs = callable(c, Ty::Bool, true);
            if (!fs.empty()) return call_expr(c, *pick(fs), depth);
        }
    }
    return boolean(chance(50));
}

// ---------------------------------------------------------------- variables and calls

std::vector<Var*> Generator::readable(Ctx& c, Ty ty, bool array) {
    std::vector<Var*> r;
    auto consider = [&](Var* v) {
        if (v->ty == ty && v->is_array == array && v->readable) r.push_back(v);
    };
    for (Var* v : globals_) consider(v);
    for (Var* v : c.vars) consider(v);
    for (Var* v : c.counters) consider(v);
    return r;
}

std::vector<Var*> Generator::assignable(Ctx& c, Ty ty, bool array) {
    std::vector<Var*> r;
    auto consider = [&](Var* v) {
        if (v->ty == ty && v->is_array == array && !v->is_const && !v->is_counter && !v->is_depth && v->readable)
            r.push_back(v);
    };
    if (!c.fn->pure)
        for (Var* v : globals_) consider(v);
    for (Var* v : c.vars) consider(v);
    return r;
}

Var* Generator::prefer_unread(std::vector<Var*>& vs) {
    std::vector<Var*> unread;
    for (Var* v : vs)
        if (!v->read) unread.push_back(v);
    if (!unread.empty() && chance(60)) return pick(unread);
    return pick(vs);
}

std::vector<Func*> Generator::callable(Ctx& c, Ty result, bool pure_only) {
    std::vector<Func*> r;
    for (std::size_t i = static_cast<std::size_t>(c.index) + 1; i < funcs_.size(); ++i) {
        Func& f = funcs_[i];
        if (f.result != result && result != Ty::Void) continue;
        if (pure_only && !f.pure) continue;
        if (c.fn->pure && !f.pure) continue;
        if (c.cost + c.mult * f.cost > c.fn->budget) continue;
        if (c.inputs + c.mult * f.inputs > c.input_limit) continue;
        r.push_back(&f);
    }
    return r;
}

std::string Generator::call_text(Ctx& c, Func& f, int depth, const std::string& depth_arg) {
    c.cost += c.mult * f.cost;
    c.inputs += c.mult * f.inputs;
    std::string text = f.name + "(";
    for (std::size_t i = 0; i < f.params.size(); ++i) {
        const Var& p = *f.params[i];
        if (i > 0) text += ", ";
        if (p.is_depth && !depth_arg.empty())
            text += depth_arg;
        else if (p.ty == Ty::Bool)
            text += gen_bool(c, depth - 1).text;
        else
            text += fit_var(gen_int(c, depth - 1), p).text;
    }
    return text + ")";
}

Expr Generator::call_expr(Ctx& c, Func& f, int depth) {
    Expr e;
    e.text = call_text(c, f, depth);
    e.ty = f.result;
    if (f.result == Ty::Int) {
        e.lo = -v_;
        e.hi = v_;
    }
    return e;
}

// ---------------------------------------------------------------- statements

Var* Generator::counter(Ctx& c, int level) {
    while (static_cast<int>(c.counters.size()) <= level) {
        Var& v = vars_.emplace_back();
        v.name = "c" + std::to_string(c.counters.size());
        v.is_counter = true;
        v.readable = false;
        v.read = true;  // every loop condition reads its counter
        c.counters.push_back(&v);
    }
    return c.counters[static_cast<std::size_t>(level)];
}

void Generator::stmts(Ctx& c, Lines& out, int ind, int count, int depth) {
    for (int i = 0; i < count && c.cost < c.fn->budget; ++i) stmt(c, out, ind, depth, false);
}

// One statement. A single statement (the unbraced body of an if or a for)
// must be exactly one statement, so forms that need a preceding counter
// assignment are left out there.
void Generator::stmt(Ctx& c, Lines& out, int ind, int depth, bool single) {
    enum Kind { Assign, Element, If, Loop, Block, Output, Input, Call, Break, Continue, Return, Comment };
    std::vector<std::pair<int, Kind>> menu;
    const bool impure = !c.fn->pure;
    menu.emplace_back(20, Assign);
    if (!assignable(c, Ty::Int, true).empty() || !assignable(c, Ty::Bool, true).empty()) menu.emplace_back(8, Element);
    if (depth > 0) {
        menu.emplace_back(12, If);
        if (c.loops < 3 && c.mult * 2 <= kMaxMult) menu.emplace_back(12, Loop);
        if (!single) menu.emplace_back(2, Block);
    }
    if (impure) menu.emplace_back(16, Output);
    if (impure && c.inputs + c.mult <= c.input_limit) menu.emplace_back(5, Input);
    if (!callable(c, Ty::Void, false).empty()) menu.emplace_back(7, Call);
    if (c.loops > 0) {
        menu.emplace_back(3, Break);
        menu.emplace_back(3, Continue);
    }
    if (ind > 1) menu.emplace_back(2, Return);
    if (!single) menu.emplace_back(1, Comment);

    long total = 0;
    for (auto& m : menu) total += m.first;
    long k = below(total);
    Kind kind = Assign;
    for (auto& m : menu) {
        if (k < m.first) {
            kind = m.second;
            break;
        }
        k -= m.first;
    }
    // The statement's own cost is charged after it: the menu's checks
    // must still hold while it is generated.
    switch (kind) {
    case Assign: gen_assign(c, out, ind, false); break;
    case Element: gen_assign(c, out, ind, true); break;
    case If: gen_if(c, out, ind, depth); break;
    case Loop: gen_loop(c, out, ind, depth, single); break;
    case Block:
        emit(out, ind, "{");
        stmts(c, out, ind + 1, static_cast<int>(range(0, 3)), depth - 1);
        emit(out, ind, "}");
        break;
    case Output: gen_output(c, out, ind); break;
    case Input: gen_input(c, out, ind); break;
    case Call: gen_effect_call(c, out, ind); break;
    case Break: gen_exit(c, out, ind, "break"); break;
    case Continue: gen_exit(c, out, ind, "continue"); break;
    case Return: gen_return(c, out, ind); break;
    case Comment:
        if (chance(50))
            emit(out, ind, "// note " + std::to_string(below(1000)));
        else
            emit(out, ind, "/* step " + std::to_string(below(1000)) + " */");
        break;
    }
    c.cost += c.mult;
}

// The body of an if branch or a for loop: a block, or now and then a single
// statement. Returns whether it is a block.
bool Generator::branch(Ctx& c, Lines& out, int ind, int depth) {
    if (chance(25)) {
        stmt(c, out, ind + 1, depth, true);
        return false;
    }
    stmts(c, out, ind + 1, static_cast<int>(range(1, 3)), depth);
    return true;
}

void Generator::gen_if(Ctx& c, Lines& out, int ind, int depth) {
    std::string cond;
    auto effect = c.fn->pure ? std::vector<Func*>{} : callable(c, Ty::Bool, false);
    if (!effect.empty() && chance(10))
        cond = call_text(c, *pick(effect), c.expr_depth);  // a call with effects as the whole condition
    else
        cond = gen_bool(c, c.expr_depth).text;
    Lines then_part, else_part;
    const bool then_block = branch(c, then_part, ind, depth - 1);
    const bool has_else = chance(45);
    bool else_block = false;
    if (has_else) else_block = branch(c, else_part, ind, depth - 1);

    emit(out, ind, "if (" + cond + ")" + (then_block ? " {" : ""));
    out.insert(out.end(), then_part.begin(), then_part.end());
    if (!has_else) {
        if (then_block) emit(out, ind, "}");
        return;
    }
    emit(out, ind, std::string(then_block ? "} " : "") + "else" + (else_block ? " {" : ""));
    out.insert(out.end(), else_part.begin(), else_part.end());
    if (else_block) emit(out, ind, "}");
}

// Loops count with a counter of their own nesting level that only the loop
// header (or the first statement of the body) assigns, so each runs at most
// `trips` times whatever break and continue do.
void Generator::gen_loop(Ctx& c, Lines& out, int ind, int depth, bool single) {
    Var* k = counter(c, c.loops);
    const std::string& n = k->name;
    long trips = range(0, 5);
    while (trips > 1 && c.mult * trips > kMaxMult) --trips;

    // The bound: a literal, or an expression whose value lies in 0..trips.
    std::string bound = std::to_string(trips);
    if (chance(20)) {
        const long saved = c.mult;
        c.mult *= trips + 1;
        bound = operand(fit_nonneg(gen_int(c, 2), trips + 1), false);
        c.mult = saved;
        if (bound.find(' ') != std::string::npos) bound = "(" + bound + ")";
    }
    c.cost += c.mult * (trips + 1);

    enum Form { While, DoWhile, ForUp, ForDown, ForNoInit, ForNoCond, ForNoStep, ForEmpty };
    std::vector<Form> forms = {ForUp, ForDown, ForNoCond, ForNoStep};
    if (!single) forms.insert(forms.end(), {While, While, DoWhile, DoWhile, ForNoInit, ForEmpty});
    const Form form = pick(forms);

    const long saved_mult = c.mult;
    const bool saved_readable = k->readable;
    const long saved_lo = k->lo, saved_hi = k->hi;
    c.mult *= std::max(trips, 1L);
    c.loops += 1;
    k->readable = true;
    k->lo = 0;
    k->hi = std::max(trips, 1L);  // a do-while body runs once even when the bound is 0

    static const char* up_tests[] = {"%k < %n", "%n > %k", "not (%k >= %n)", "%k + 1 <= %n"};
    auto up_test = [&](void) {
        std::string t = up_tests[below(4)];
        for (std::string::size_type p; (p = t.find("%k")) != std::string::npos;) t.replace(p, 2, n);
        for (std::string::size_type p; (p = t.find("%n")) != std::string::npos;) t.replace(p, 2, bound);
        // An extra condition in parentheses may end the loop sooner.
        if (chance(20)) t = chance(50) ? "(" + t + ") and (" + gen_bool(c, 2).text + ")" : "(" + gen_bool(c, 2).text + ") and " + t;
        return t;
    };
    const std::string inc = n + " := " + n + " + 1";
    // Now and then the step of a for loop also calls a function (whose
    // value is multiplied by 0): the step's code is generated apart from
    // its text.
    auto step = [&] {
        auto fs = callable(c, Ty::Int, true);
        if (fs.empty() || !chance(10)) return inc;
        return n + " := " + n + " + 0 * " + call_text(c, *pick(fs), 2) + " + 1";
    };

    Lines body;
    bool block = true;
    switch (form) {
    case While:
        emit(out, ind, n + " := 0;");
        emit(out, ind, "while (" + up_test() + ") {");
        emit(body, ind + 1, inc + ";");
        stmts(c, body, ind + 1, static_cast<int>(range(1, 3)), depth - 1);
        break;
    case DoWhile:
        emit(out, ind, n + " := 0;");
        emit(out, ind, "do {");
        emit(body, ind + 1, inc + ";");
        stmts(c, body, ind + 1, static_cast<int>(range(1, 3)), depth - 1);
        break;
    case ForUp: {
        block = branch(c, body, ind, depth - 1);
        const std::string test = up_test();
        emit(out, ind, "for (" + n + " := 0; " + test + "; " + step() + ")" + (block ? " {" : ""));
        break;
    }
    case ForDown:
        block = branch(c, body, ind, depth - 1);
        emit(out, ind, "for (" + n + " := " + bound + "; " + n + " > 0; " + n + " := " + n + " - 1)" + (block ? " {" : ""));
        break;
    case ForNoInit: {
        emit(out, ind, n + " := 0;");
        block = branch(c, body, ind, depth - 1);
        const std::string test = up_test();
        emit(out, ind, "for (; " + test + "; " + step() + ")" + (block ? " {" : ""));
        break;
    }
    case ForNoCond:
        emit(out, ind, "for (" + n + " := 0; ; " + step() + ") {");
        emit(body, ind + 1, "if (" + n + " >= " + bound + ") break;");
        stmts(c, body, ind + 1, static_cast<int>(range(1, 3)), depth - 1);
        break;
    case ForNoStep:
        emit(out, ind, "for (" + n + " := 0; " + up_test() + "; ) {");
        emit(body, ind + 1, inc + ";");
        stmts(c, body, ind + 1, static_cast<int>(range(1, 3)), depth - 1);
        break;
    case ForEmpty:
        emit(out, ind, n + " := 0;");
        emit(out, ind, "for (;;) {");
        emit(body, ind + 1, "if (" + n + " >= " + bound + ") {");
        emit(body, ind + 2, "break;");
        emit(body, ind + 1, "}");
        emit(body, ind + 1, inc + ";");
        stmts(c, body, ind + 1, static_cast<int>(range(1, 3)), depth - 1);
        break;
    }
    out.insert(out.end(), body.begin(), body.end());
    if (form == DoWhile)
        emit(out, ind, "} while (" + up_test() + ");");
    else if (block)
        emit(out, ind, "}");

    c.loops -= 1;
    c.mult = saved_mult;
    k->readable = saved_readable;
    k->lo = saved_lo;
    k->hi = saved_hi;
}

void Generator::gen_exit(Ctx& c, Lines& out, int ind, const std::string& word) {
    switch (below(3)) {
    case 0: emit(out, ind, "if (" + gen_bool(c, 2).text + ") " + word + ";"); break;
    case 1:
        emit(out, ind, "if (" + gen_bool(c, 2).text + ") {");
        emit(out, ind + 1, word + ";");
        emit(out, ind, "}");
        break;
    default: emit(out, ind, word + ";"); break;
    }
}

std::string Generator::text_literal() {
    static const char* pieces[] = {"a", "b", "x", "sum", "val", "ok", "end", " ", " ", ", ", ": ", "=", "-",
                                   "+", "*", "(", ")", "[", "]", "<", ">", ".", "!", "#", "\\n", "\\n", "\\t",
                                   "\x82\xa0", "0", "42", "'", "_", "&", "{", "}", "~", "|", "$", "@", "^"};
    // Escapes that mean the same to the machine and to C; the numeric ones
    // do not (the machine reads any number of digits).
    static const char* escapes[] = {"\\\"", "\\'", "\\?", "\\\\", "\\a", "\\b", "\\f", "\\r", "\\v"};
    std::string t;
    const long n = range(1, 4);
    for (long i = 0; i < n; ++i)
        t += chance(5) ? escapes[below(sizeof escapes / sizeof *escapes)] : pieces[below(sizeof pieces / sizeof *pieces)];
    // A backslash right before the closing quote would escape it.
    if (t.back() == '\\') t += "x";
    return t;
}

void Generator::gen_output(Ctx& c, Lines& out, int ind) {
    const long k = below(10);
    if (k < 4) {
        emit(out, ind, "output \"" + text_literal() + "\";");
    } else if (k < 7) {
        // Any 16-bit value may be printed, so no fitting here.
        emit(out, ind, "output " + gen_int(c, c.expr_depth).text + ";");
    } else if (k < 9) {
        emit(out, ind, "output " + gen_bool(c, c.expr_depth).text + ";");
    } else {
        auto fs = callable(c, chance(50) ? Ty::Int : Ty::Bool, false);
        if (fs.empty())
            emit(out, ind, "output \"" + text_literal() + "\";");
        else
            emit(out, ind, "output " + call_text(c, *pick(fs), c.expr_depth) + ";");
    }
}

void Generator::gen_input(Ctx& c, Lines& out, int ind) {
    c.inputs += c.mult;
    auto arrays = assignable(c, Ty::Int, true);
    if (!arrays.empty() && chance(35)) {
        Var* a = pick(arrays);
        emit(out, ind, "input " + a->name + "[" + subscript(c, *a, 2).text + "];");
        return;
    }
    auto scalars = assignable(c, Ty::Int, false);
    if (scalars.empty()) {
        emit(out, ind, "output \"" + text_literal() + "\";");
        c.inputs -= c.mult;
        return;
    }
    emit(out, ind, "input " + pick(scalars)->name + ";");
}

void Generator::gen_assign(Ctx& c, Lines& out, int ind, bool element) {
    const Ty ty = chance(60) ? Ty::Int : Ty::Bool;
    auto targets = assignable(c, ty, element);
    if (targets.empty()) targets = assignable(c, ty == Ty::Int ? Ty::Bool : Ty::Int, element);
    if (targets.empty()) {
        // Nothing to assign: an output instead, or an empty block in a
        // function that may not print.
        if (!c.fn->pure) {
            gen_output(c, out, ind);
        } else {
            emit(out, ind, "{");
            emit(out, ind, "}");
        }
        return;
    }
    Var* v = pick(targets);
    std::string target = v->name;
    if (v->is_array) target += "[" + subscript(c, *v, 2).text + "]";
    // A call with effects may be the whole value of a scalar assignment.
    if (!v->is_array && !c.fn->pure && chance(12)) {
        auto fs = callable(c, v->ty, false);
        if (!fs.empty()) {
            Func& f = *pick(fs);
            emit(out, ind, target + " := " + call_text(c, f, c.expr_depth) + ";");
            return;
        }
    }
    const Expr value = v->ty == Ty::Int ? fit_var(gen_int(c, c.expr_depth), *v) : gen_bool(c, c.expr_depth);
    emit(out, ind, target + " := " + value.text + ";");
}

void Generator::gen_effect_call(Ctx& c, Lines& out, int ind) {
    auto fs = callable(c, Ty::Void, false);
    if (fs.empty()) return gen_assign(c, out, ind, false);  // a statement must come out in any case
    emit(out, ind, call_text(c, *pick(fs), c.expr_depth) + ";");
}

void Generator::gen_return(Ctx& c, Lines& out, int ind) {
    std::string guard = chance(70) ? gen_bool(c, 2).text : "";
    std::string ret;
    if (c.fn->result == Ty::Void)
        ret = "return;";
    else if (c.fn->result == Ty::Int)
        ret = "return " + fit_sym(gen_int(c, c.expr_depth), v_).text + ";";
    else
        ret = "return " + gen_bool(c, c.expr_depth).text + ";";
    if (guard.empty()) {
        emit(out, ind, ret);
    } else {
        emit(out, ind, "if (" + guard + ") {");
        emit(out, ind + 1, ret);
        emit(out, ind, "}");
    }
}

// A recursive call of the current function, one level less deep. Written at
// the top level of the body only, so that it runs at most once per call.
void Generator::gen_recursion(Ctx& c, Lines& out, int ind) {
    Func& f = *c.fn;
    const std::string& d = f.params[0]->name;
    c.rec_sites += 1;
    emit(out, ind, "if (" + d + " > 0) {");
    // While its body is generated, the function's own cost is still 1, so
    // the call adds nearly nothing here; the recursion is accounted for as a
    // whole when the body is complete.
    const std::string call = call_text(c, f, 2, d + " - 1");
    std::vector<Var*> targets = f.result == Ty::Void ? std::vector<Var*>{} : assignable(c, f.result, false);
    if (!targets.empty() && chance(60)) {
        Var* v = pick(targets);
        std::string value = call;
        // A pure call may also take part in an expression.
        if (f.pure && v->ty == Ty::Int && chance(50)) {
            Expr result;
            result.text = call;
            result.lo = -v_;
            result.hi = v_;
            value = fit_sym(add(var_read(c, v, 1), result, false), v_).text;
        }
        emit(out, ind + 1, v->name + " := " + value + ";");
    } else if (!f.pure && f.result != Ty::Void && chance(50)) {
        emit(out, ind + 1, "output " + call + ";");
    } else {
        emit(out, ind + 1, call + ";");
    }
    emit(out, ind, "}");
}

// ---------------------------------------------------------------- program structure

std::string Generator::input_text(long count) {
    std::string s;
    for (long i = 0; i < count; ++i) {
        const long v = range(-v_, v_);
        if (v >= 0 && chance(5)) s += "+";
        s += std::to_string(v);
        s += chance(30) ? "\n" : " ";
    }
    return s + "\n";
}

// Now and then a name of 31 characters, the longest without a warning.
std::string Generator::name_for(const std::string& base) {
    if (!chance(3)) return base;
    std::string n = base + "_";
    while (n.size() < 31) n += static_cast<char>('a' + below(26));
    return n;
}

// Declaration statements for vs, consecutive variables of one type and
// constness sharing a statement now and then. Initialisers are generated in
// order, so each may read the variables initialised before it.
Lines Generator::declarations(std::vector<Var*>& vs, int ind, Ctx& c) {
    Lines out;
    std::string cur;
    bool cur_const = false;
    Ty cur_ty = Ty::Void;
    for (Var* v : vs) {
        std::string item = v->name;
        if (v->is_array) {
            item += "[" + std::to_string(v->size) + "]";
        } else if (v->want_init) {
            Expr e = v->ty == Ty::Bool ? gen_bool(c, 2) : gen_int(c, 2);
            if (v->ty == Ty::Int && !v->is_const) e = fit_sym(e, v_);
            if (v->ty == Ty::Int && v->is_const) {  // a constant keeps exactly its initial value
                v->lo = e.lo;
                v->hi = e.hi;
            }
            item += " := " + e.text;
            v->readable = true;
        }
        if (!cur.empty() && cur_const == v->is_const && cur_ty == v->ty && chance(50)) {
            cur += ", " + item;
            continue;
        }
        if (!cur.empty()) emit(out, ind, cur + ";");
        cur = std::string(v->is_const ? "const " : "") + type_word(v->ty) + " " + item;
        cur_const = v->is_const;
        cur_ty = v->ty;
    }
    if (!cur.empty()) emit(out, ind, cur + ";");
    return out;
}

void Generator::plan_globals(Lines& out) {
    const long n = range(0, 5);
    for (long i = 0; i < n; ++i) {
        Var& v = vars_.emplace_back();
        v.name = name_for("g" + std::to_string(i));
        v.ty = chance(60) ? Ty::Int : Ty::Bool;
        v.is_global = true;
        v.lo = -v_;
        v.hi = v_;
        if (chance(30)) {
            v.is_array = true;
            v.size = static_cast<int>(chance(10) ? range(9, 300) : range(1, 8));
        } else {
            v.is_const = chance(25);
            v.want_init = v.is_const || chance(40);
        }
        globals_.push_back(&v);
    }
    if (!opt_.mixed_global_order)
        std::stable_partition(globals_.begin(), globals_.end(), [](const Var* v) { return !v->want_init; });
    // Uninitialised globals and arrays then start as 0 in both translations.
    // C wants constant initialisers at file scope: literals only.
    Ctx c;
    c.literals_only = true;
    out = declarations(globals_, 0, c);
}

void Generator::plan_functions() {
    Func& start = funcs_.emplace_back();
    start.name = "start";
    start.budget = opt_.budget;
    const long n = range(1, std::max(1, opt_.max_functions));
    for (long i = 1; i <= n; ++i) {
        Func& f = funcs_.emplace_back();
        const long k = below(10);
        f.result = k < 4 ? Ty::Int : k < 7 ? Ty::Bool : Ty::Void;
        f.pure = f.result != Ty::Void && chance(50);
        f.recursive = chance(30);
        f.name = name_for(std::string(f.result == Ty::Int ? "fi" : f.result == Ty::Bool ? "fb" : "fv") + std::to_string(i));
        f.budget = range(20, 250);
        if (f.recursive) {
            Var& d = vars_.emplace_back();
            d.name = "pd";
            d.is_const = true;
            d.is_depth = true;
            d.lo = 0;
            d.hi = kMaxDepthArg;
            f.params.push_back(&d);
        }
        const long np = range(0, chance(15) ? 6 : 3);
        for (long j = 0; j < np; ++j) {
            Var& p = vars_.emplace_back();
            p.name = name_for("p" + std::to_string(j));
            p.ty = chance(60) ? Ty::Int : Ty::Bool;
            p.is_const = chance(20);
            p.lo = -v_;
            p.hi = v_;
            f.params.push_back(&p);
        }
    }
}

void Generator::gen_function(Func& f, int index) {
    Ctx c;
    c.fn = &f;
    c.index = index;
    c.input_limit = index == 0 ? opt_.max_inputs : 12;
    c.expr_depth = static_cast<int>(range(1, 3));
    for (Var* p : f.params) c.vars.push_back(p);

    std::vector<Var*> locals;
    const long nl = range(0, index == 0 ? 6 : chance(15) ? 6 : 3);
    for (long i = 0; i < nl; ++i) {
        Var& v = vars_.emplace_back();
        v.name = name_for("v" + std::to_string(i));
        v.ty = chance(60) ? Ty::Int : Ty::Bool;
        v.readable = false;
        v.lo = -v_;
        v.hi = v_;
        if (chance(20)) {
            v.is_array = true;
            v.size = static_cast<int>(chance(10) ? range(7, 40) : range(1, 6));
        } else {
            v.is_const = chance(15);
            v.want_init = v.is_const || chance(50);
        }
        locals.push_back(&v);
        c.vars.push_back(&v);
    }
    const Lines decls = declarations(locals, 1, c);

    Lines body;
    // Every local is assigned before anything else reads it.
    for (Var* v : locals) {
        if (v->readable || v->is_array) continue;
        c.cost += 1;
        const Expr e = v->ty == Ty::Int ? fit_sym(gen_int(c, 2), v_) : gen_bool(c, 2);
        emit(body, 1, v->name + " := " + e.text + ";");
        v->readable = true;
    }
    for (Var* v : locals) {
        if (!v->is_array) continue;
        auto value = [&] { return v->ty == Ty::Int ? fit_sym(gen_int(c, 2), v_).text : gen_bool(c, 2).text; };
        if (v->size <= 3 && chance(50)) {
            for (int i = 0; i < v->size; ++i) emit(body, 1, v->name + "[" + std::to_string(i) + "] := " + value() + ";");
            c.cost += v->size;
        } else {
            Var* k = counter(c, 0);
            k->readable = true;
            k->lo = 0;
            k->hi = v->size - 1;
            c.mult = v->size;
            c.cost += v->size;
            emit(body, 1, "for (" + k->name + " := 0; " + k->name + " < " + std::to_string(v->size) + "; " + k->name +
                              " := " + k->name + " + 1) {");
            emit(body, 2, v->name + "[" + k->name + "] := " + value() + ";");
            emit(body, 1, "}");
            c.mult = 1;
            k->readable = false;
        }
        v->readable = true;
    }

    const int count = static_cast<int>(index == 0 ? range(3, 8) : range(1, 5));
    const int depth = static_cast<int>(range(1, 3));
    std::vector<int> rec_at;
    if (f.recursive)
        for (long i = range(1, 2); i > 0; --i) rec_at.push_back(static_cast<int>(below(count + 1)));
    for (int i = 0; i <= count; ++i) {
        for (int at : rec_at)
            if (at == i) gen_recursion(c, body, 1);
        if (i < count && c.cost < f.budget) stmt(c, body, 1, depth, false);
    }

    // The final return, then a read of every variable nothing has read yet.
    std::string final_return;
    if (f.result != Ty::Void) {
        auto effect = f.pure ? std::vector<Func*>{} : callable(c, f.result, false);
        if (!effect.empty() && chance(20))
            final_return = "return " + call_text(c, *pick(effect), c.expr_depth) + ";";
        else if (f.result == Ty::Int)
            final_return = "return " + fit_sym(gen_int(c, c.expr_depth), v_).text + ";";
        else
            final_return = "return " + gen_bool(c, c.expr_depth).text + ";";
    } else if (chance(20)) {
        final_return = "return;";
    }
    std::vector<Var*> unread;
    for (Var* v : c.vars)
        if (!v->read) unread.push_back(v);
    if (index == 0)
        for (Var* v : globals_)
            if (!v->read) unread.push_back(v);
    for (Var* v : unread) {
        const std::string read = var_read(c, v, 1).text;
        if (!f.pure)
            emit(body, 1, "output " + read + ";");
        else if (v->ty == Ty::Bool)
            emit(body, 1, "if (" + read + ") {");
        else
            emit(body, 1, "if (" + read + " = " + std::to_string(below(3)) + ") {");
        if (f.pure) emit(body, 1, "}");
    }
    if (!final_return.empty()) emit(body, 1, final_return);

    // A recursive call reruns the body with the depth one less: at most
    // 1 + r + r^2 + r^3 bodies for r call sites and depths 0..3.
    long factor = 1;
    for (long i = 0, p = 1; i < kMaxDepthArg; ++i) factor += (p *= c.rec_sites);
    f.cost = std::max(1L, c.cost * factor);
    f.inputs = c.inputs * factor;

    std::string header = "function " + std::string(type_word(f.result)) + " " + f.name + "(";
    for (std::size_t i = 0; i < f.params.size(); ++i) {
        const Var& p = *f.params[i];
        header += (i > 0 ? ", " : "") + std::string(p.is_const ? "const " : "") + type_word(p.ty) + " " + p.name;
    }
    f.lines.push_back(header + ") {");
    f.lines.insert(f.lines.end(), decls.begin(), decls.end());
    if (!c.counters.empty()) {
        std::string line = "int ";
        for (std::size_t i = 0; i < c.counters.size(); ++i) line += (i > 0 ? ", " : "") + c.counters[i]->name;
        emit(f.lines, 1, line + ";");
    }
    f.lines.insert(f.lines.end(), body.begin(), body.end());
    f.lines.push_back("}");
}

Program Generator::run(std::uint64_t seed) {
    static const long limits[] = {9, 100, 1000, 16000};
    v_ = limits[below(4)];
    Lines global_decls;
    plan_globals(global_decls);
    plan_functions();
    // Callees are generated before their callers (a function only calls
    // functions with a larger index), so their costs are known.
    for (std::size_t i = funcs_.size(); i-- > 0;) gen_function(funcs_[i], static_cast<int>(i));

    // Definitions in random order: many calls come before their callee.
    std::vector<Func*> order;
    for (Func& f : funcs_) order.push_back(&f);
    for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[static_cast<std::size_t>(below(static_cast<long>(i)))]);

    Program p;
    p.source = "// vexl-proggen " + std::to_string(seed) + "\n";
    for (const std::string& l : global_decls) p.source += l + "\n";
    for (const Func* f : order) {
        p.source += "\n";
        for (const std::string& l : f->lines) p.source += l + "\n";
    }
    p.input = input_text(funcs_[0].inputs + range(0, 3));
    return p;
}

}  // namespace

Program generate(std::uint64_t seed, const Options& options) {
    return Generator(seed, options).run(seed);
}

}  // namespace proggen
