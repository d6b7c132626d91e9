// Variable and constant declarations: the C declaration, registration in
// the symbol table (which fixes each address) and the words that reserve
// storage on the stack where the declaration stands, plus the store of an
// initialiser. Globals are reserved before start is called, locals right
// after their function's prologue, so the reserved words are exactly the
// addresses the symbol table handed out.
#include "diagnostics.h"
#include "emit.h"
#include "image.h"
#include "node.h"
#include "streams.h"
#include "symbols.h"

using namespace image;

int declarations::translate() {
    if (first) first->translate();
    if (rest) rest->translate();
    return 0;
}

int declare_variables::translate() {
    if (!list) return bad_tree();
    c_text.indent();
    if (is_const) c_text.append("const ");
    if (type == kVoid) {
        return report<error::VoidVariable>();
    }
    c_text.append(type_name(type)).append(" ");
    list->translate(is_const, type);
    c_text.append(";\n");
    return 0;
}

// A name declared twice, with where the earlier declaration stands.
int ParseNode::duplicate(const std::string& name) const {
    const VariableEntry* earlier = map_manager.find_variable(name);
    return report_duplicate<error::var_AlreadyDec>(earlier ? earlier->declared : SourceSpan{}, name);
}

// Records a declared variable in the name index.
static void record(VariableEntry& v, const declare_valiable& node) {
    NamedEntity e;
    e.kind = map_manager.current_scope == MapManager::kGlobal ? NamedEntity::Kind::Global : NamedEntity::Kind::Local;
    e.name = node.name;
    e.scope = e.kind == NamedEntity::Kind::Local ? map_manager.current_scope : "";
    e.type = v.type;
    e.is_const = v.is_const;
    e.is_array = v.is_array;
    e.size = v.size;
    e.declared = node.span;
    if (v.is_const && !v.is_array) e.value = map_manager.names.constant_value(node.init);
    v.entity = map_manager.names.declare(std::move(e));
}

// Reserves `size` words: sp -= size.
static void emit_reserve(unsigned size) {
    gen::ldi(GR0, static_cast<Word>(size));
    gen::op(SUB_R, SP, GR0);
}

int declare_valiable::translate(bool c, ValueType t) {
    if (left) {
        if (!right) return bad_tree();
        left->translate(c, t);
        c_text.append(",");
        right->translate(c, t);
        return 0;
    }
    translating_at = span;

    if (is_array) {
        if (size == 0) {
            return report<error::ZeroSizeArray>();
        }
        map_manager.declaring_locals = true;
        c_text.append(name).append("[").append_int(size).append("]");
        if (!map_manager.declare_variable(name, size, span)) {
            return duplicate(name);
        }
        VariableEntry& v = *map_manager.find_variable(name);
        v.is_const = c;
        v.type = t;
        v.is_array = true;
        if (map_manager.names.enabled) record(v, *this);
        if (c) warn<error::ConstArray>();
        emit_reserve(size);
        return 0;
    }

    emit_reserve(1);  // emitted before the name is checked
    c_text.append(name);
    map_manager.declaring_locals = true;
    if (!map_manager.declare_variable(name, 1, span)) {
        return duplicate(name);
    }
    VariableEntry& v = *map_manager.find_variable(name);
    v.is_const = c;
    v.type = t;
    if (map_manager.names.enabled) record(v, *this);
    if (!init) {
        if (c) warn<error::ConstNotInitialised>();
        return 0;
    }
    c_text.append(" = ");
    init->translate();
    if (init->type != t) {
        return report<error::TypeMismatch>(type_name(init->type), type_name(t));
    }
    gen::pop(GR0);
    gen::store_scalar(v);
    return 0;
}
