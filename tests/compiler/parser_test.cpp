// The parser: the trees it builds (node kinds, fields, list shapes,
// operator grouping), the token values they carry, the lines recorded in
// nodes and diagnostics, the error-production recovery, and the limit of
// its stacks. Everything runs in-process and stops after parsing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

using vexltest::body_statements;
using vexltest::parse_text;
using vexltest::ParseResult;

namespace {

std::string ignored(int line, const char* construct) {
    return "エラー("_sj + std::to_string(line) + "): bison: " + construct + "を無視します\n"_sj;
}

// Wraps statements into a function body.
std::string in_body(const std::string& statements) { return "function void f() {\n" + statements + "\n}\n"; }

template <class T> T* as(ParseNode* n) { return dynamic_cast<T*>(n); }

std::string show(const actual_parameter* a);

// An expression tree written out fully parenthesised, with the operator
// kind numbers mapped to their symbols; anything unexpected shows as "?".
std::string show(const expression* e) {
    static const char* const infix[] = {"or", "and", "xor", "=", "><", "<", "<=", ">", ">=",
                                        "+",  "-",   "*",   "div", "mod"};
    if (!e) return "null";
    if (e->kind != NodeKind::expression) return "?kind" + std::to_string(static_cast<int>(e->kind));
    if (auto* lit = dynamic_cast<const literal*>(e))
        return e->op == 18 ? (lit->type == 2 ? (lit->value ? "true" : "false") : std::to_string(lit->value)) : "?";
    if (auto* var = dynamic_cast<const exp_variable*>(e))
        return e->op == 19 ? var->name + (var->subscript ? "[" + show(var->subscript) + "]" : "") : "?";
    if (auto* call = dynamic_cast<const func_call*>(e))
        return e->op == 20 && !e->left && !e->right ? call->name + "(" + show(call->args) + ")" : "?";
    if (e->op >= 0 && e->op <= 13) return "(" + show(e->left) + " " + infix[e->op] + " " + show(e->right) + ")";
    if (e->right) return "?";
    switch (e->op) {
    case 14: return "(+" + show(e->left) + ")";
    case 15: return "(-" + show(e->left) + ")";
    case 16: return "[" + show(e->left) + "]";
    case 17: return "(not " + show(e->left) + ")";
    case 20: return dynamic_cast<const func_call*>(e->left) ? show(e->left) : "?";
    default: return "?op" + std::to_string(e->op);
    }
}

// Arguments: a leaf holds one expression; a list node two halves.
std::string show(const actual_parameter* a) {
    if (!a) return "";
    if (a->kind != NodeKind::actual_parameter) return "?";
    if (a->arg) return a->left || a->right ? "?" : show(a->arg);
    return "{" + show(a->left) + ", " + show(a->right) + "}";
}

// The value of the assignment in the statement `x := ...;`.
expression* assigned(statement* s) {
    auto* st = s ? as<assignment_statement>(s->stmt) : nullptr;
    return st && st->assign ? st->assign->value : nullptr;
}

std::string show_assigned(const std::string& expr) {
    const ParseResult r = parse_text(in_body("x := " + expr + ";"));
    if (!r.root) return "no tree";
    if (!r.diagnostics.empty()) return "diagnostics: " + r.diagnostics;
    const auto body = body_statements(r);
    return body.size() == 1 ? show(assigned(body[0])) : "?";
}

define_function* first_function(const ParseResult& r) {
    ParseNode* n = r.root ? r.root->funcs : nullptr;
    while (auto* list = as<define_functions>(n)) n = list->first;
    return as<define_function>(n);
}

}  // namespace

TEST(Parser, OperatorsGroupByPrecedenceAndToTheLeft) {
    EXPECT_EQ(show_assigned("1 - 2 - 3"), "((1 - 2) - 3)");
    EXPECT_EQ(show_assigned("a = b >< c"), "((a = b) >< c)");
    EXPECT_EQ(show_assigned("a < b = c < d"), "((a < b) = (c < d))");
    EXPECT_EQ(show_assigned("a or b and c"), "((a or b) and c)");
    EXPECT_EQ(show_assigned("a and b xor c or d"), "(((a and b) xor c) or d)");
    EXPECT_EQ(show_assigned("a or b = c"), "(a or (b = c))");
    EXPECT_EQ(show_assigned("a = b <= c"), "(a = (b <= c))");
    EXPECT_EQ(show_assigned("a > b >= c"), "((a > b) >= c)");
    EXPECT_EQ(show_assigned("a < b + c"), "(a < (b + c))");
    EXPECT_EQ(show_assigned("a + b * c - d"), "((a + (b * c)) - d)");
    EXPECT_EQ(show_assigned("a * b div c mod d"), "(((a * b) div c) mod d)");
    EXPECT_EQ(show_assigned("- x * y"), "((-x) * y)");
    EXPECT_EQ(show_assigned("+ x mod y"), "((+x) mod y)");
    EXPECT_EQ(show_assigned("not a = b"), "((not a) = b)");
    EXPECT_EQ(show_assigned("not not a and - - b"), "((not (not a)) and (-(-b)))");
    EXPECT_EQ(show_assigned("a - - b"), "(a - (-b))");
    EXPECT_EQ(show_assigned("a < b < c"), "((a < b) < c)");
    EXPECT_EQ(show_assigned("(a or b) and c"), "([(a or b)] and c)");
    EXPECT_EQ(show_assigned("- (1)"), "(-[1])");
}

TEST(Parser, OperandsAndCalls) {
    EXPECT_EQ(show_assigned("v[i + 1] * f(1, 2, 3)"), "(v[(i + 1)] * f({1, {2, 3}}))");
    EXPECT_EQ(show_assigned("f()"), "f()");
    EXPECT_EQ(show_assigned("f(g(a), b)"), "f({g(a), b})");
    EXPECT_EQ(show_assigned("true and not false"), "(true and (not false))");
}

TEST(Parser, TokenValuesReachTheTree) {
    const ParseResult r = parse_text(in_body(
        "x := 0; x := 32767; x := 32768; x := 65536; x := 4294967301; x := 99999999999999999999;\n"
        "output \"ab\\\"cd\";\n"
        "output \"ab\\\"\n;\n"
        "output \"\x83\x41\x83\x5C\";\n"
        "output \"\\n\\\\\";\n" +
        std::string("output \"a\0b\";\n", 14) +
        std::string(40, 'n') + " := Done;"));
    const auto body = body_statements(r);
    ASSERT_EQ(body.size(), 12u);
    const unsigned expected[] = {0, 32767, 0x8000, 0, 5, 65535};
    for (int i = 0; i < 6; ++i) {
        auto* lit = dynamic_cast<literal*>(assigned(body[i]));
        ASSERT_NE(lit, nullptr);
        EXPECT_EQ(lit->value, expected[i]) << i;
        EXPECT_EQ(lit->type, 1);
    }
    auto text = [&](int i) { return as<output_statement>(body[i]->stmt)->text; };
    EXPECT_EQ(text(6), "ab\\\"cd");
    EXPECT_EQ(text(7), "ab\\");
    EXPECT_EQ(text(8), "\x83\x41\x83\x5C");
    EXPECT_EQ(text(9), "\\n\\\\");
    EXPECT_EQ(text(10), std::string("a\0b", 3));
    auto* last = as<assignment_statement>(body[11]->stmt)->assign;
    EXPECT_EQ(last->name, std::string(40, 'n'));
    EXPECT_EQ(show(last->value), "Done");
}

TEST(Parser, TypesAndConstFlags) {
    const ParseResult r = parse_text(
        "int a; bool b; const int c := 1; void d;\n"
        "function bool g(int p, const bool q, const int r) { }\n");
    ASSERT_NE(r.root, nullptr);
    EXPECT_EQ(r.diagnostics, "");
    std::vector<std::pair<int, bool>> decls;
    for (declarations* d = r.root->decls; d; d = d->rest) {
        ASSERT_NE(d->first, nullptr);
        EXPECT_EQ(d->kind, NodeKind::declarations);
        EXPECT_EQ(d->first->kind, NodeKind::declare_variables);
        decls.push_back({d->first->type, d->first->is_const});
    }
    EXPECT_EQ(decls, (std::vector<std::pair<int, bool>>{{1, false}, {2, false}, {1, true}, {0, false}}));
    define_function* g = first_function(r);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->kind, NodeKind::define_function);
    EXPECT_EQ(g->result, 2);
    EXPECT_EQ(g->name, "g");
    EXPECT_FALSE(g->duplicate);
    EXPECT_EQ(g->locals, nullptr);
    ASSERT_NE(g->body, nullptr);  // an empty body is an empty list node
    EXPECT_EQ(g->body->first, nullptr);
    EXPECT_EQ(g->body->rest, nullptr);
    // p, (q, r): the left part is a single item, the right part the rest
    ASSERT_NE(g->params, nullptr);
    EXPECT_EQ(g->params->kind, NodeKind::declare_parameters);
    declare_parameter* list = g->params->list;
    ASSERT_TRUE(list && list->left && list->right && list->right->left && list->right->right);
    EXPECT_EQ(list->kind, NodeKind::declare_parameter);
    EXPECT_EQ(list->name, "");
    auto leaf = [](declare_parameter* p, int type, const char* name, bool is_const) {
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->left, nullptr);
        EXPECT_EQ(p->right, nullptr);
        EXPECT_EQ(p->type, type);
        EXPECT_EQ(p->name, name);
        EXPECT_EQ(p->is_const, is_const);
    };
    leaf(list->left, 1, "p", false);
    leaf(list->right->left, 2, "q", true);
    leaf(list->right->right, 1, "r", true);

    const ParseResult v = parse_text("function void s() { } function int t() { }");
    ASSERT_NE(first_function(v), nullptr);
    EXPECT_EQ(first_function(v)->result, 0);
    EXPECT_EQ(first_function(v)->params, nullptr);
}

TEST(Parser, DeclarationListShape) {
    const ParseResult r = parse_text("int a, b[3], c := 1 + 2;\nint big[70000], max[65535];\nfunction void f() { }");
    ASSERT_NE(r.root, nullptr);
    // the array size above 32767 is an ordinary integer literal
    EXPECT_EQ(r.diagnostics,
              "警告(2): flex: 32767より大きい整数値が使われています(バイナリコードが不正です)\n"_sj
              "警告(2): flex: 32767より大きい整数値が使われています(バイナリコードが不正です)\n"_sj);
    ASSERT_TRUE(r.root->decls && r.root->decls->first && r.root->decls->rest);
    declare_variables* dv = r.root->decls->first;
    EXPECT_EQ(dv->type, 1);
    EXPECT_FALSE(dv->is_const);
    declare_valiable* list = dv->list;
    ASSERT_TRUE(list && list->left && list->right && list->right->left && list->right->right);
    EXPECT_EQ(list->kind, NodeKind::declare_valiable);
    EXPECT_EQ(list->init, nullptr);
    EXPECT_EQ(list->name, "");
    declare_valiable* a = list->left;
    declare_valiable* b = list->right->left;
    declare_valiable* c = list->right->right;
    EXPECT_TRUE(a->name == "a" && !a->left && !a->right && !a->init && !a->is_array && a->size == 1);
    EXPECT_TRUE(b->name == "b" && !b->left && !b->right && !b->init && b->is_array && b->size == 3);
    EXPECT_TRUE(c->name == "c" && !c->left && !c->right && !c->is_array && c->size == 1);
    EXPECT_EQ(show(c->init), "(1 + 2)");

    declare_valiable* arrays = r.root->decls->rest->first->list;
    ASSERT_TRUE(arrays && arrays->left && arrays->right);
    EXPECT_EQ(arrays->left->size, 70000 % 65536);
    EXPECT_EQ(arrays->right->size, 65535);
}

TEST(Parser, BlockShape) {
    const ParseResult r = parse_text(in_body("{ x := 1; y := 2; }"));
    const auto body = body_statements(r);
    ASSERT_EQ(body.size(), 1u);
    EXPECT_EQ(body[0]->kind, NodeKind::statement);
    auto* block = as<statement_s>(body[0]->stmt);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->kind, NodeKind::statement_s);
    ASSERT_TRUE(block->first && block->rest && block->rest->first && block->rest->rest);
    EXPECT_EQ(show(assigned(block->first)), "1");
    EXPECT_EQ(as<assignment_statement>(block->first->stmt)->assign->name, "x");
    EXPECT_EQ(show(assigned(block->rest->first)), "2");
    EXPECT_EQ(block->rest->rest->first, nullptr);
    EXPECT_EQ(block->rest->rest->rest, nullptr);
    // an empty block is a statement holding an empty list
    const auto empty = body_statements(parse_text(in_body("{ }")));
    ASSERT_EQ(empty.size(), 1u);
    auto* none = as<statement_s>(empty[0]->stmt);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(!none->first && !none->rest);
}

TEST(Parser, FunctionDefinitionsGroupToTheRight) {
    const ParseResult r = parse_text(
        "function void f1() { } function void f2() { } function void f3() { }");
    ASSERT_NE(r.root, nullptr);
    EXPECT_EQ(r.root->kind, NodeKind::program);
    EXPECT_EQ(r.root->decls, nullptr);
    auto name = [](ParseNode* n) { return n && as<define_function>(n) ? as<define_function>(n)->name : "?"; };
    define_functions* top = r.root->funcs;
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->kind, NodeKind::define_functions);
    auto* left = as<define_functions>(top->first);
    define_functions* right = top->second;
    ASSERT_TRUE(left && right);
    EXPECT_EQ(name(left->first), "f1");
    EXPECT_EQ(left->second, nullptr);
    auto* f2 = as<define_functions>(right->first);
    define_functions* f3 = right->second;
    ASSERT_TRUE(f2 && f3);
    EXPECT_EQ(name(f2->first), "f2");
    EXPECT_EQ(f2->second, nullptr);
    EXPECT_EQ(name(f3->first), "f3");
    EXPECT_EQ(f3->second, nullptr);
}

TEST(Parser, EveryStatementKind) {
    const ParseResult r = parse_text(
        "function int f(int n) {\n int a[2];\n"
        " if (n = 0) return 1; else return;\n"
        " while (n > 0) n := n - 1;\n"
        " do { break; continue; } while (true);\n"
        " for (;;) ;\n"
        " for (i := 0; i < 3; a[i] := i) g(i);\n"
        " input n; input a[n + 1];\n"
        " output n; output \"s\";\n"
        " a[0] := f(n);\n"
        " g();\n"
        "}\n");
    // "for (;;) ;" has no statement for its body: the ";" is an error
    EXPECT_EQ(r.diagnostics, ignored(6, "statement"));
    const auto body = body_statements(r);
    std::vector<std::string> kinds;
    for (statement* s : body) kinds.push_back(s && s->stmt ? kind_name(s->stmt->kind) : "?");
    EXPECT_EQ(kinds, (std::vector<std::string>{"if_statement", "while_statement", "while_statement", "for_statement",
                                               "for_statement", "input_statement", "input_statement",
                                               "output_statement", "output_statement", "assignment_statement",
                                               "func_call_statement"}));
    ASSERT_EQ(body.size(), 11u);
    EXPECT_EQ(body[2]->stmt->kind, NodeKind::do_while_statement);

    auto* if_ = as<if_statement>(body[0]->stmt);
    EXPECT_EQ(show(if_->cond), "(n = 0)");
    EXPECT_EQ(show(as<return_statement>(if_->then_part->stmt)->value), "1");
    EXPECT_EQ(as<return_statement>(if_->else_part->stmt)->value, nullptr);
    EXPECT_EQ(if_->then_part->stmt->kind, NodeKind::return_statement);

    auto* while_ = as<while_statement>(body[1]->stmt);
    EXPECT_EQ(show(while_->cond), "(n > 0)");
    EXPECT_EQ(show(assigned(while_->body)), "(n - 1)");

    auto* do_ = as<do_while_statement>(body[2]->stmt);
    EXPECT_EQ(show(do_->cond), "true");
    auto* do_body = as<statement_s>(do_->body->stmt);
    ASSERT_TRUE(do_body && do_body->first && do_body->rest && do_body->rest->first);
    EXPECT_EQ(do_body->first->stmt->kind, NodeKind::break_statement);
    EXPECT_EQ(do_body->rest->first->stmt->kind, NodeKind::continue_statement);

    auto* for_empty = as<for_statement>(body[3]->stmt);
    EXPECT_TRUE(!for_empty->init && !for_empty->cond && !for_empty->step && !for_empty->body);
    auto* for_ = as<for_statement>(body[4]->stmt);
    ASSERT_TRUE(for_->init && for_->step);
    EXPECT_EQ(for_->init->kind, NodeKind::assignment);
    EXPECT_EQ(for_->init->name, "i");
    EXPECT_EQ(for_->init->subscript, nullptr);
    EXPECT_EQ(show(for_->init->value), "0");
    EXPECT_EQ(show(for_->cond), "(i < 3)");
    EXPECT_EQ(for_->step->name, "a");
    EXPECT_EQ(show(for_->step->subscript), "i");
    EXPECT_EQ(show(for_->step->value), "i");
    auto* call_stmt = as<func_call_statement>(for_->body->stmt);
    ASSERT_NE(call_stmt, nullptr);
    EXPECT_EQ(show(call_stmt->call), "g(i)");

    auto* in1 = as<input_statement>(body[5]->stmt);
    auto* in2 = as<input_statement>(body[6]->stmt);
    EXPECT_TRUE(in1->name == "n" && !in1->subscript);
    EXPECT_EQ(in2->name, "a");
    EXPECT_EQ(show(in2->subscript), "(n + 1)");

    auto* out1 = as<output_statement>(body[7]->stmt);
    auto* out2 = as<output_statement>(body[8]->stmt);
    EXPECT_EQ(show(out1->expr), "n");
    EXPECT_EQ(out1->text, "");
    EXPECT_EQ(out2->expr, nullptr);
    EXPECT_EQ(out2->text, "s");

    auto* assign = as<assignment_statement>(body[9]->stmt)->assign;
    EXPECT_EQ(show(assign->subscript), "0");
    EXPECT_EQ(show(assign->value), "f(n)");
    auto* call = as<func_call_statement>(body[10]->stmt)->call;
    EXPECT_EQ(call->kind, NodeKind::expression);
    EXPECT_EQ(call->args, nullptr);
}

TEST(Parser, DanglingElseBelongsToTheInnerIf) {
    const auto body = body_statements(parse_text(in_body("if (a) if (b) x := 1; else x := 2;")));
    ASSERT_EQ(body.size(), 1u);
    auto* outer = as<if_statement>(body[0]->stmt);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->else_part, nullptr);
    auto* inner = as<if_statement>(outer->then_part->stmt);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(show(assigned(inner->then_part)), "1");
    EXPECT_EQ(show(assigned(inner->else_part)), "2");
}

TEST(Parser, GrammarEdges) {
    // accepted
    for (const char* ok : {"function void f() { }", "function void f() { f(); x := f(); }",
                           "function void f(int a) { f(1); }", "function void f() { for (;;) { } }",
                           "int a; const bool b := true; function void f() { }"}) {
        const ParseResult r = parse_text(ok);
        EXPECT_NE(r.root, nullptr) << ok;
        EXPECT_EQ(r.result, 0) << ok;
        EXPECT_EQ(r.diagnostics, "") << ok;
    }
    // statements that are neither assignments nor calls, trailing commas,
    // blocks holding declarations, a function inside a function
    for (const char* bad : {"f;", "x;", "1;", "f(1,);", "x := f(1, );", "{ int a; }", "x := 1 + ;",
                            "input 3;", "output;", "return return;", "x = 1;"}) {
        const ParseResult r = parse_text(in_body(bad));
        EXPECT_NE(r.diagnostics, "") << bad;
        EXPECT_NE(r.diagnostics.find("bison"), std::string::npos) << bad;
    }
    EXPECT_EQ(parse_text("function void f(int a,) { }").diagnostics, ignored(1, "define_function"));
    // a function inside a function: recovery swallows the rest of the
    // source looking for a ";" and gives up at its end
    const ParseResult nested = parse_text(in_body("function void g() { }"));
    EXPECT_EQ(nested.root, nullptr);
    EXPECT_EQ(nested.diagnostics, "");
}

// What the error productions list, and what they leave in the tree. Tokens
// stand on separate lines where the line of a diagnostic proves which token
// had been read when the error production was reduced.
TEST(Parser, RecoveryFromAMissingSemicolon) {
    const ParseResult r = parse_text(in_body("x := 1\ny\n:=\n2\n;\nz := 3;"));
    EXPECT_EQ(r.diagnostics, ignored(6, "statement"));
    const auto body = body_statements(r);
    ASSERT_EQ(body.size(), 2u);
    EXPECT_EQ(body[0], nullptr);  // the first assignment is lost as well
    EXPECT_EQ(show(assigned(body[1])), "3");
}

TEST(Parser, RecoveryFromADeclarationAfterAStatement) {
    const ParseResult r = parse_text(in_body("int a;\nx := 1;\nint y;\nz := 2;"));
    EXPECT_EQ(r.diagnostics, ignored(4, "statement"));
    const auto body = body_statements(r);
    ASSERT_EQ(body.size(), 3u);
    EXPECT_NE(body[0], nullptr);
    EXPECT_EQ(body[1], nullptr);
    EXPECT_NE(body[2], nullptr);
}

TEST(Parser, RecoveryFromStraySemicolons) {
    // first in a body: taken for a faulty declaration
    ParseResult r = parse_text(in_body(";\nx := 1;"));
    EXPECT_EQ(r.diagnostics, ignored(2, "declare_variables"));
    define_function* f = first_function(r);
    ASSERT_NE(f, nullptr);
    ASSERT_NE(f->locals, nullptr);
    EXPECT_EQ(f->locals->first, nullptr);
    EXPECT_EQ(body_statements(r).size(), 1u);
    // right after the declarations
    r = parse_text(in_body("int a;\n;\nx := 1;"));
    EXPECT_EQ(r.diagnostics, ignored(3, "declare_variables"));
    // after a statement; the error production needs no further token, so
    // the line is that of the ";" even with the next token far below
    r = parse_text(in_body("x := 1;\n;\n\n\ny := 2;"));
    EXPECT_EQ(r.diagnostics, ignored(3, "statement"));
    EXPECT_EQ(body_statements(r).size(), 3u);
    // before the first function
    r = parse_text("int a;\n;\nfunction void f() { }");
    EXPECT_EQ(r.diagnostics, ignored(2, "declare_variables"));
    ASSERT_NE(r.root, nullptr);
    ASSERT_TRUE(r.root->decls && r.root->decls->rest);
    EXPECT_EQ(r.root->decls->rest->first, nullptr);
    r = parse_text(";function void f() { }");
    EXPECT_EQ(r.diagnostics, ignored(1, "declare_variables"));
    ASSERT_NE(r.root, nullptr);
}

TEST(Parser, RecoveryFromADanglingOperator) {
    // the error is found when ";" is read, three lines down
    const ParseResult r = parse_text(in_body("x := y +\n\n\n;"));
    EXPECT_EQ(r.diagnostics, ignored(5, "expression"));
    const auto body = body_statements(r);
    ASSERT_EQ(body.size(), 1u);
    EXPECT_EQ(show(assigned(body[0])), "(y + null)");
}

TEST(Parser, RecoveryInsideParentheses) {
    const ParseResult r = parse_text(in_body("x := (\ny\nz\n)\n;"));
    EXPECT_EQ(r.diagnostics, ignored(4, "expression") + ignored(5, "expression"));
    const auto body = body_statements(r);
    ASSERT_EQ(body.size(), 1u);
    ASSERT_NE(body[0], nullptr);
    EXPECT_EQ(show(assigned(body[0])), "null");
}

TEST(Parser, RecoveryFromAnInvalidToken) {
    const ParseResult r = parse_text(in_body("output\n&\n;"));
    // After "&" is dropped, the second error production is reduced before
    // the ";" is read: both carry the line of the "&".
    EXPECT_EQ(r.diagnostics, ignored(3, "expression") + ignored(3, "expression"));
    const auto body = body_statements(r);
    ASSERT_EQ(body.size(), 1u);
    auto* out = as<output_statement>(body[0]->stmt);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->expr, nullptr);
    EXPECT_EQ(out->text, "");
}

TEST(Parser, RecoveryFromAFaultyGlobalDeclaration) {
    const ParseResult r = parse_text("int a\nb\n;\nint c;\nfunction void f() { }");
    EXPECT_EQ(r.diagnostics, ignored(3, "declare_variables"));
    ASSERT_NE(r.root, nullptr);
    ASSERT_TRUE(r.root->decls && r.root->decls->rest);
    EXPECT_EQ(r.root->decls->first, nullptr);
    EXPECT_EQ(r.root->decls->rest->first->list->name, "c");
}

TEST(Parser, RecoveryFromAParameterWithoutName) {
    const ParseResult r = parse_text("function void f(int) {\nx := 1;\n}\nfunction void g() { }");
    EXPECT_EQ(r.diagnostics, ignored(3, "define_function"));
    ASSERT_NE(r.root, nullptr);
    auto* left = as<define_functions>(r.root->funcs->first);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->first, nullptr);  // the whole function is dropped
    EXPECT_EQ(first_function(r), nullptr);
}

TEST(Parser, NoTreeWhenRecoveryReachesTheEnd) {
    ParseResult r = parse_text("function void f() {\nf()\n}\n");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.root, nullptr);
    EXPECT_EQ(r.diagnostics, "");
    for (const char* only_declarations : {"int a;", "int a; const bool b;\n", "", "   \n// nothing\n"}) {
        r = parse_text(only_declarations);
        EXPECT_EQ(r.result, 1) << only_declarations;
        EXPECT_EQ(r.root, nullptr) << only_declarations;
        EXPECT_EQ(r.diagnostics, "") << only_declarations;
    }
    // scanner diagnostics stay listed
    r = parse_text("int a # ;");
    EXPECT_EQ(r.root, nullptr);
    EXPECT_EQ(r.diagnostics, "エラー(1): flex: 文字'#'を無視します\n"_sj);
}

TEST(Parser, ParsingPrintsNothing) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    parse_text(in_body("x := ( y z ) ; & & ;"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A node records the line of the token read most recently when it is
// built: its own last token, or the token after it when the parser had to
// look ahead to end the construct.
TEST(Parser, NodeLines) {
    const ParseResult r = parse_text(
        "function void f()\n"  // 1
        "{\n"                  // 2
        "x := 1\n"             // 3
        "\n"                   // 4
        ";\n"                  // 5  assignment: the ";" after the value
        "{\n"                  // 6
        "}\n"                  // 7  block: its "}"
        "if (a) y := 2;\n"     // 8
        "\n"                   // 9
        "z := 3;\n"            // 10 if without else: the token after it
        "}\n"                  // 11 function: its "}"
        "\n");                 // 12 program: end of input
    ASSERT_NE(r.root, nullptr);
    EXPECT_EQ(r.root->line, 13);
    define_function* f = first_function(r);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->line, 11);
    const auto body = body_statements(r);
    ASSERT_EQ(body.size(), 4u);
    auto* assign = as<assignment_statement>(body[0]->stmt);
    EXPECT_EQ(assign->assign->line, 5);
    EXPECT_EQ(assign->assign->value->line, 3);  // a literal needs no look-ahead
    EXPECT_EQ(assign->line, 5);
    EXPECT_EQ(body[1]->line, 7);
    EXPECT_EQ(body[2]->stmt->line, 10);
    EXPECT_EQ(body[3]->line, 10);

    // without a final newline the program node carries the last line
    const ParseResult last = parse_text("function void f() { }\n\n}");
    EXPECT_EQ(last.root, nullptr);
    const ParseResult no_newline = parse_text("function void f() {\n}");
    ASSERT_NE(no_newline.root, nullptr);
    EXPECT_EQ(no_newline.root->line, 2);
}

// The stacks hold 10,000 entries; filling the last one ends the parse with
// result 2 and no tree. Each "(" of a nested expression takes one entry,
// and so does each statement of a list until the list ends.
TEST(Parser, StackLimit) {
    auto nested = [](int depth) {
        return in_body("x := " + std::string(depth, '(') + "1" + std::string(depth, ')') + ";");
    };
    ParseResult r = parse_text(nested(5000));
    EXPECT_EQ(r.result, 0);
    EXPECT_NE(r.root, nullptr);
    // 12 entries before the first "(", then "(" x depth, "1" and ")"
    r = parse_text(nested(9985));
    EXPECT_EQ(r.result, 0);
    EXPECT_NE(r.root, nullptr);
    r = parse_text(nested(9986));
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.root, nullptr);
    EXPECT_EQ(r.diagnostics, "");
    r = parse_text(nested(20000));
    EXPECT_EQ(r.result, 2);

    auto statements = [](int n) {
        std::string body;
        for (int i = 0; i < n; ++i) body += "x := 1;\n";
        return in_body(body);
    };
    // 10 entries before the first statement, one per finished statement,
    // and three for the parts of the last one (x, ":=", 1)
    r = parse_text(statements(9987));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(body_statements(r).size(), 9987u);
    r = parse_text(statements(9988));
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.root, nullptr);
}
