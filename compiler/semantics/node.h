// The parse tree: the node base with its two passes, the value types, and
// every node class of the language. The parser builds the tree bottom-up;
// the driver then calls declare() and translate() on the root. The
// translations live in compiler/translate, one unit per group of classes.
//
// Nodes are allocated in one arena (make_node) that lives for the whole
// compilation, so a subtree dropped by error recovery or a compilation
// ended by a fatal error never leaks. Child pointers are therefore plain
// pointers; a null child is one that error recovery left out.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics.h"

// Value types; a code outside these prints as "ERROR".
enum ValueType : int { kVoid = 0, kInt = 1, kBool = 2 };
// "void", "int", "bool", or "ERROR" for any other code.
std::string type_name(ValueType t);

// Node kinds, numbered as in nodes.def.
enum class NodeKind {
#define NODE(Class, number, name) Class = number,
#include "nodes.def"
};
// The node name of a kind ("while_statement" for do_while_statement too).
const char* kind_name(NodeKind kind);
std::ostream& operator<<(std::ostream& out, NodeKind kind);

// Kind and node name of each class, from nodes.def.
template <class T> struct NodeInfo;
#define NODE(Class, number, text)                                        \
    class Class;                                                         \
    template <> struct NodeInfo<Class> {                                 \
        static constexpr NodeKind kind = NodeKind::Class;                \
        static constexpr const char* name = text;                        \
    };
#define LEAF(Class, Base, text)                                          \
    class Class;                                                         \
    template <> struct NodeInfo<Class> {                                 \
        static constexpr NodeKind kind = NodeInfo<Base>::kind;           \
        static constexpr const char* name = text;                        \
    };
#include "nodes.def"
template <class T> inline constexpr NodeInfo<T> node_info{};

class ParseNode {
public:
    // Takes the scanner's current line.
    template <class T> explicit ParseNode(NodeInfo<T>) : ParseNode(NodeInfo<T>::kind, NodeInfo<T>::name) {}
    virtual ~ParseNode() = default;
    ParseNode(const ParseNode&) = delete;
    ParseNode& operator=(const ParseNode&) = delete;

    // Pre-pass over the function definitions; 0 handled, -1 error reported.
    virtual int declare() { return 0; }
    // Main pass: checks, C text and image words; 0 handled, -1 error.
    virtual int translate() { return 0; }

    NodeKind kind;
    int line;
    const char* name_;  // what this node writes into its diagnostics
    // The token this node's diagnostics are about: the name it declares or
    // uses, an operator's symbol, a statement's first word.
    SourceSpan span;

    // Lists the error D at this node's line under its node name; returns -1
    // (a node that reports an error gives up on its construct).
    template <class D, class... Args> int report(Args&&... args) const {
        diagnostics.error_at<D>(span, line, name_, std::forward<Args>(args)...);
        return -1;
    }
    // The same for a duplicate of what was declared at `earlier`.
    template <class D, class... Args> int report_duplicate(const SourceSpan& earlier, Args&&... args) const {
        auto d = std::make_unique<D>(line, name_, std::forward<Args>(args)...);
        d->span = span;
        d->related = earlier;
        diagnostics.add_error(std::move(d));
        return -1;
    }
    // Lists var_AlreadyDec for `name`, naming the earlier declaration.
    int duplicate(const std::string& name) const;
    // Lists the warning D likewise; the node carries on.
    template <class D, class... Args> void warn(Args&&... args) const {
        diagnostics.warning_at<D>(span, line, name_, std::forward<Args>(args)...);
    }

protected:
    // Lists "parse tree not built correctly" for this node; returns -1.
    int bad_tree() const { return report<error::BadTree>(); }

private:
    ParseNode(NodeKind kind, const char* name);
};

// Counts how deeply expression translations nest, for the life of one
// translation. Every level of a chain of operators emits words of its own or
// of its operand, and only parentheses and prefix "+" do not (and those
// nest no deeper than the parser's stack), so an expression nested deeper
// than kMaxExpressionDepth can never fit in the image: instead of
// exhausting the compiler's stack on it, the compilation ends as for an
// image beyond its 65,536 words.
class ExpressionDepth {
public:
    static constexpr int kMaxExpressionDepth = 40000;
    ExpressionDepth();
    ~ExpressionDepth() { --depth_; }
    ExpressionDepth(const ExpressionDepth&) = delete;
    ExpressionDepth& operator=(const ExpressionDepth&) = delete;

private:
    static int depth_;
};

// The construct being translated (a statement or declaration): where the
// image outgrew its limit when that ends the compilation.
extern SourceSpan translating_at;
// The innermost statement or declaration during which the image became
// full, when a full image does not end the compilation.
extern SourceSpan image_full_at;

// Allocates a node in the compilation's arena.
void adopt_node(std::unique_ptr<ParseNode> node);
template <class T, class... Args> T* make_node(Args&&... args) {
    auto node = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = node.get();
    adopt_node(std::move(node));
    return raw;
}
// Destroys every node of the compilation.
void free_all_nodes();

class expression;
class literal;
class exp_variable;
class func_call;
class declarations;
class declare_variables;
class declare_valiable;
class define_functions;
class define_function;
class declare_parameters;
class declare_parameter;
class statement;
class statement_s;
class assignment;
class actual_parameter;

// ---- Program structure --------------------------------------------------

// Root: global declarations (may be null) and the function definitions.
class program : public ParseNode {
public:
    program(declarations* decls, define_functions* funcs) : ParseNode(node_info<program>), decls(decls), funcs(funcs) {}
    int declare() override;
    int translate() override;
    declarations* decls;
    define_functions* funcs;
};

// A sequence of declaration statements, in source order.
class declarations : public ParseNode {
public:
    declarations(declare_variables* first, declarations* rest) : ParseNode(node_info<declarations>), first(first), rest(rest) {}
    int translate() override;
    declare_variables* first;
    declarations* rest;
};

// Function definitions: a leaf holds one definition (null after a skipped
// one) and a null second; an inner node holds two define_functions lists.
class define_functions : public ParseNode {
public:
    define_functions(ParseNode* first, define_functions* second) : ParseNode(node_info<define_functions>), first(first), second(second) {}
    int declare() override;
    int translate() override;
    ParseNode* first;
    define_functions* second;
};

// One declaration statement: element type, its variables, const or not.
class declare_variables : public ParseNode {
public:
    declare_variables(ValueType type, declare_valiable* list, bool is_const)
        : ParseNode(node_info<declare_variables>), type(type), list(list), is_const(is_const) {}
    int translate() override;
    ValueType type;
    declare_valiable* list;
    bool is_const;
};

// One declared variable (a leaf: left is null) or a list of two halves.
class declare_valiable : public ParseNode {
public:
    declare_valiable(declare_valiable* left, declare_valiable* right, expression* init, std::string name,
                     bool is_array, std::uint16_t size)
        : ParseNode(node_info<declare_valiable>), left(left), right(right), init(init), name(std::move(name)), is_array(is_array),
          size(size) {}
    // Walked by declare_variables with the statement's const flag and type.
    int translate(bool is_const, ValueType type);
    using ParseNode::translate;
    declare_valiable* left;
    declare_valiable* right;
    expression* init;
    std::string name;
    bool is_array;
    std::uint16_t size;
};

// A function: result type, parameters (may be null), local declarations
// (may be null), statements, name; `duplicate` marks a second definition.
class define_function : public ParseNode {
public:
    define_function(ValueType result, declare_parameters* params, declarations* locals, statement_s* body,
                    std::string name)
        : ParseNode(node_info<define_function>), result(result), params(params), locals(locals), body(body), name(std::move(name)) {}
    int declare() override;
    int translate() override;
    ValueType result;
    declare_parameters* params;
    declarations* locals;
    statement_s* body;
    std::string name;
    bool duplicate = false;
    SourceSpan extent;  // from "function" to the closing brace (line and column of the first)
};

struct FunctionEntry;

class declare_parameters : public ParseNode {
public:
    explicit declare_parameters(declare_parameter* list) : ParseNode(node_info<declare_parameters>), list(list) {}
    int translate() override;
    int signature(FunctionEntry& entry);
    declare_parameter* list;
};

// One parameter (a leaf: left is null) or a list of two halves.
class declare_parameter : public ParseNode {
public:
    declare_parameter(declare_parameter* left, declare_parameter* right, ValueType type, std::string name,
                      bool is_const)
        : ParseNode(node_info<declare_parameter>), left(left), right(right), type(type), name(std::move(name)), is_const(is_const) {}
    int translate() override;
    int signature(FunctionEntry& entry);
    declare_parameter* left;
    declare_parameter* right;
    ValueType type;
    std::string name;
    bool is_const;
};

// ---- Statements ---------------------------------------------------------

// Wrapper of every statement; a block when the statement is a statement_s.
class statement : public ParseNode {
public:
    explicit statement(ParseNode* stmt) : ParseNode(node_info<statement>), stmt(stmt) {}
    int translate() override;
    ParseNode* stmt;
};

// Right-recursive statement list; the end of every list is a node with
// both fields null.
class statement_s : public ParseNode {
public:
    statement_s(statement* first, statement_s* rest) : ParseNode(node_info<statement_s>), first(first), rest(rest) {}
    int translate() override;
    statement* first;
    statement_s* rest;
};

class if_statement : public ParseNode {
public:
    if_statement(expression* cond, statement* then_part, statement* else_part)
        : ParseNode(node_info<if_statement>), cond(cond), then_part(then_part), else_part(else_part) {}
    int translate() override;
    expression* cond;
    statement* then_part;
    statement* else_part;
};

class return_statement : public ParseNode {
public:
    explicit return_statement(expression* value) : ParseNode(node_info<return_statement>), value(value) {}
    int translate() override;
    expression* value;
};

class while_statement : public ParseNode {
public:
    while_statement(expression* cond, statement* body) : ParseNode(node_info<while_statement>), cond(cond), body(body) {}
    int translate() override;
    expression* cond;
    statement* body;
};

class do_while_statement : public ParseNode {
public:
    do_while_statement(statement* body, expression* cond) : ParseNode(node_info<do_while_statement>), body(body), cond(cond) {}
    int translate() override;
    statement* body;
    expression* cond;
};

class for_statement : public ParseNode {
public:
    for_statement(assignment* init, assignment* step, expression* cond, statement* body)
        : ParseNode(node_info<for_statement>), init(init), step(step), cond(cond), body(body) {}
    int translate() override;
    assignment* init;
    assignment* step;
    expression* cond;
    statement* body;
};

class break_statement : public ParseNode {
public:
    break_statement() : ParseNode(node_info<break_statement>) {}
    int translate() override;
};

class continue_statement : public ParseNode {
public:
    continue_statement() : ParseNode(node_info<continue_statement>) {}
    int translate() override;
};

class input_statement : public ParseNode {
public:
    input_statement(expression* subscript, std::string name)
        : ParseNode(node_info<input_statement>), subscript(subscript), name(std::move(name)) {}
    int translate() override;
    expression* subscript;
    std::string name;
};

// Output of an expression, or of a text when expr is null.
class output_statement : public ParseNode {
public:
    output_statement(expression* expr, std::string text) : ParseNode(node_info<output_statement>), expr(expr), text(std::move(text)) {}
    int translate() override;
    expression* expr;
    std::string text;
};

class assignment_statement : public ParseNode {
public:
    explicit assignment_statement(assignment* assign) : ParseNode(node_info<assignment_statement>), assign(assign) {}
    int translate() override;
    assignment* assign;
};

// Store into a variable or array element; also the init and step of a for.
class assignment : public ParseNode {
public:
    assignment(expression* subscript, expression* value, std::string name)
        : ParseNode(node_info<assignment>), subscript(subscript), value(value), name(std::move(name)) {}
    int translate() override;
    expression* subscript;
    expression* value;
    std::string name;
};

class func_call_statement : public ParseNode {
public:
    explicit func_call_statement(func_call* call) : ParseNode(node_info<func_call_statement>), call(call) {}
    int translate() override;
    func_call* call;
};

// Call arguments: a leaf holds one argument; an inner node two halves.
class actual_parameter : public ParseNode {
public:
    actual_parameter(expression* arg, actual_parameter* left, actual_parameter* right)
        : ParseNode(node_info<actual_parameter>), arg(arg), left(left), right(right) {}
    // Appends each argument's type to `types` in source order when
    // `collect` is set (the call's first translation).
    int translate_arguments(std::vector<ValueType>& types, bool collect);
    expression* arg;
    actual_parameter* left;
    actual_parameter* right;
    ValueType type = kInt;
};

// ---- Expressions --------------------------------------------------------

// Operator kinds of the expression node.
enum OperatorKind {
#define BINARY(Kind, source, c_text, opcode) Kind,
#define OTHER(Kind) Kind,
#include "operators.def"
};

// Every expression: operators 0-17, and a call wrapper of kind 20 whose
// left operand is the func_call node. Leaves its value on the stack.
class expression : public ParseNode {
public:
    expression(expression* left, expression* right, int op) : expression(node_info<expression>, left, right, op) {}
    // For the leaf classes, which report under their own names.
    template <class T>
    expression(NodeInfo<T> info, expression* left, expression* right, int op)
        : ParseNode(info), left(left), right(right), op(op) {}
    int translate() override;
    expression* left;
    expression* right;
    int op;
    ValueType type = kInt;

private:
    int translate_binary();
    int translate_unary();
};

class literal : public expression {
public:
    literal(std::uint16_t value, ValueType type) : expression(node_info<literal>, nullptr, nullptr, kLiteral), value(value) {
        this->type = type;
    }
    int translate() override;
    std::uint16_t value;
};

class exp_variable : public expression {
public:
    exp_variable(std::string name, expression* subscript)
        : expression(node_info<exp_variable>, nullptr, nullptr, kVariable), name(std::move(name)), subscript(subscript) {}
    int translate() override;
    std::string name;
    expression* subscript;
};

// The call itself; pushes nothing, leaves the result in GR0.
class func_call : public expression {
public:
    func_call(std::string name, actual_parameter* args)
        : expression(node_info<func_call>, nullptr, nullptr, kCall), name(std::move(name)), args(args) {}
    int translate() override;
    std::string name;
    actual_parameter* args;
};
