// The C-compatibility checks of vexlc -Wc-compat: names the translation
// cannot use, global initialisers C cannot evaluate before the program
// starts, output texts that printf would read as formats, and "and"/"or"
// whose right operand calls a function (C skips it, the machine does not).
#include "compat.h"

#include <set>
#include <string>
#include <string_view>

#include "diagnostics.h"
#include "node.h"

namespace {

bool is_c_keyword(std::string_view name) {
    static const std::set<std::string_view> names = {
#define C_KEYWORD(n) #n,
#define C_LIBRARY(n)
#include "c_names.def"
#undef C_KEYWORD
#undef C_LIBRARY
    };
    return names.count(name) != 0;
}

bool is_c_library_name(std::string_view name) {
    static const std::set<std::string_view> names = {
#define C_KEYWORD(n)
#define C_LIBRARY(n) #n,
#include "c_names.def"
#undef C_KEYWORD
#undef C_LIBRARY
    };
    return names.count(name) != 0;
}

class Checker {
public:
    explicit Checker(const program& root) : root_(root) {}

    void run() {
        collect_functions(root_.funcs);
        for (const declarations* d = root_.decls; d; d = d->rest)
            if (d->first) variables(d->first->list, true);
        functions(root_.funcs);
    }

private:
    void collect_functions(const define_functions* f) {
        if (!f) return;
        if (auto* def = dynamic_cast<const define_function*>(f->first)) function_names_.insert(def->name);
        else if (auto* list = dynamic_cast<const define_functions*>(f->first)) collect_functions(list);
        collect_functions(f->second);
    }

    // A name C reserves; true if one was reported.
    bool c_name(const std::string& name, const ParseNode& at, const char* node) {
        if (is_c_keyword(name)) diagnostics.warning_at<error::CKeywordName>(at.span, at.line, node, name);
        else if (is_c_library_name(name)) diagnostics.warning_at<error::CLibraryName>(at.span, at.line, node, name);
        else return false;
        return true;
    }

    void variable_name(const std::string& name, const ParseNode& at, const char* node) {
        if (!c_name(name, at, node) && function_names_.count(name))
            diagnostics.warning_at<error::VariableNamedLikeFunction>(at.span, at.line, node, name);
    }

    void variables(const declare_valiable* v, bool global) {
        if (!v) return;
        if (v->left || v->right) {
            variables(v->left, global);
            variables(v->right, global);
            return;
        }
        variable_name(v->name, *v, "declare_valiable");
        if (v->init) {
            if (global && !constant(v->init))
                diagnostics.warning_at<error::NonConstantInitialiser>(v->span, v->line, "declare_valiable", v->name);
            expression_tree(v->init);
        }
    }

    void parameters(const declare_parameter* p) {
        if (!p) return;
        if (p->left || p->right) {
            parameters(p->left);
            parameters(p->right);
        } else {
            variable_name(p->name, *p, "declare_parameter");
        }
    }

    void functions(const define_functions* f) {
        if (!f) return;
        if (auto* def = dynamic_cast<const define_function*>(f->first)) {
            c_name(def->name, *def, "define_function");
            if (def->params) parameters(def->params->list);
            for (const declarations* d = def->locals; d; d = d->rest)
                if (d->first) variables(d->first->list, false);
            statements(def->body);
        } else if (auto* list = dynamic_cast<const define_functions*>(f->first)) {
            functions(list);
        }
        functions(f->second);
    }

    void statements(const statement_s* s) {
        for (; s; s = s->rest) statement_node(s->first);
    }

    void statement_node(const statement* s) {
        if (!s || !s->stmt) return;
        const ParseNode* n = s->stmt;
        if (auto* list = dynamic_cast<const statement_s*>(n)) {
            statements(list);
        } else if (auto* st = dynamic_cast<const if_statement*>(n)) {
            expression_tree(st->cond);
            statement_node(st->then_part);
            statement_node(st->else_part);
        } else if (auto* st = dynamic_cast<const while_statement*>(n)) {
            expression_tree(st->cond);
            statement_node(st->body);
        } else if (auto* st = dynamic_cast<const do_while_statement*>(n)) {
            statement_node(st->body);
            expression_tree(st->cond);
        } else if (auto* st = dynamic_cast<const for_statement*>(n)) {
            assignment_node(st->init);
            expression_tree(st->cond);
            assignment_node(st->step);
            statement_node(st->body);
        } else if (auto* st = dynamic_cast<const return_statement*>(n)) {
            expression_tree(st->value);
        } else if (auto* st = dynamic_cast<const input_statement*>(n)) {
            expression_tree(st->subscript);
        } else if (auto* st = dynamic_cast<const output_statement*>(n)) {
            if (st->expr) expression_tree(st->expr);
            else if (st->text.find('%') != std::string::npos)
                diagnostics.warning_at<error::PercentInText>(st->span, st->line, "output_statement");
        } else if (auto* st = dynamic_cast<const assignment_statement*>(n)) {
            assignment_node(st->assign);
        } else if (auto* st = dynamic_cast<const func_call_statement*>(n)) {
            arguments(st->call ? st->call->args : nullptr);
        }
    }

    void assignment_node(const assignment* a) {
        if (!a) return;
        expression_tree(a->subscript);
        expression_tree(a->value);
    }

    void arguments(const actual_parameter* a) {
        if (!a) return;
        expression_tree(a->arg);
        arguments(a->left);
        arguments(a->right);
    }

    // Every "and" and "or" below e whose right operand calls a function.
    void expression_tree(const expression* e) {
        if (!e) return;
        if (auto* v = dynamic_cast<const exp_variable*>(e)) return expression_tree(v->subscript);
        if (auto* c = dynamic_cast<const func_call*>(e)) return arguments(c->args);
        if ((e->op == kAnd || e->op == kOr) && calls(e->right))
            diagnostics.warning_at<error::ShortCircuitCall>(e->span, e->line, "expression", e->op == kAnd ? "and" : "or");
        expression_tree(e->left);
        expression_tree(e->right);
    }

    static bool calls(const expression* e) {
        if (!e) return false;
        if (dynamic_cast<const func_call*>(e)) return true;
        if (auto* v = dynamic_cast<const exp_variable*>(e)) return calls(v->subscript);
        return calls(e->left) || calls(e->right);
    }

    // What C accepts as the initialiser of a global: literals and operators.
    static bool constant(const expression* e) {
        if (!e) return true;
        if (dynamic_cast<const exp_variable*>(e) || dynamic_cast<const func_call*>(e)) return false;
        return constant(e->left) && constant(e->right);
    }

    const program& root_;
    std::set<std::string> function_names_;
};

}  // namespace

void check_c_compat(const program* root) {
    if (root) Checker(*root).run();
}
