// Node base: line numbers, the structural check, value type names and the
// arena that owns every node of a compilation.
#include "node.h"

#include <ostream>

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

ParseNode::ParseNode(NodeKind kind, const char* name) : kind(kind), line(line_number), name_(name) {}

const char* kind_name(NodeKind kind) {
    switch (kind) {
#define NODE(Class, number, name) case NodeKind::Class: return name;
#include "nodes.def"
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, NodeKind kind) {
    return out << kind_name(kind) << " (" << static_cast<int>(kind) << ")";
}

SourceSpan translating_at;
SourceSpan image_full_at;

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
