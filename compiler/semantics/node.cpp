// Node base: line numbers, the structural check, value type names and the
// arena that owns every node of a compilation.
#include "node.h"

#include "diagnostics.h"
#include "frontend.h"

std::string type_name(ValueType t) {
    switch (t) {
    case kVoid: return "void";
    case kInt: return "int";
    case kBool: return "bool";
    default: return "ERROR";
    }
}

ParseNode::ParseNode(int kind) : kind(kind), line(line_number) {}

int ParseNode::bad_tree(const char* node_name) const {
    diagnostics.error<error::BadTree>(line, node_name);
    return -1;
}

int ExpressionDepth::depth_ = 0;

ExpressionDepth::ExpressionDepth() {
    if (depth_ >= kMaxExpressionDepth) throw fatal_error::OverSomeErrors(65535);
    ++depth_;
}

static std::vector<std::unique_ptr<ParseNode>>& arena() {
    static std::vector<std::unique_ptr<ParseNode>> nodes;
    return nodes;
}

void adopt_node(std::unique_ptr<ParseNode> node) { arena().push_back(std::move(node)); }

void free_all_nodes() { arena().clear(); }
