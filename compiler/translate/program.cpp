// Program node, function definitions and parameters: the C prologue and
// prototypes, the image's entry code, the call of `start`, and each
// function's frame.
//
// Calling convention: the caller pushes the arguments last to first and
// CALLs with GR3 (always 0) as index; the callee saves bp, sets bp := sp,
// finds parameter i at bp+3+i, returns its value in GR0; the caller then
// adds the argument count to sp.
#include "diagnostics.h"
#include "emit.h"
#include "image.h"
#include "node.h"
#include "recorder.h"
#include "streams.h"
#include "symbols.h"

using namespace image;

int program::declare() {
    c_text.append("#include <stdio.h>\n")
        .append("#define start main\n")
        .append("#ifndef __cplusplus\n")
        .append("typedef enum {\n")
        .append("\tfalse,true\n")
        .append("} bool;\n")
        .append("#endif\n\n");
    if (gen::check_subscripts) c_text.append(gen::kSubscriptCheckC);
    // Entry code: GR3 is the index register of every jump and call, GR4
    // the base of the globals, for the whole run.
    gen::ldi(GR3, 0x0000);
    gen::ldi(GR4, 0xFFFF);
    if (!funcs) return bad_tree();
    return funcs->declare();
}

int program::translate() {
    if (!funcs) return -1;  // already reported by declare
    c_text.append("\n");
    map_manager.declare_function(MapManager::kGlobal);
    if (decls) decls->translate();

    FunctionEntry* start = map_manager.find_function("start");
    if (!start) {
        return report<error::FunctionNotDefined>("start");
    }
    if (!start->parameter_types.empty()) {
        return report<error::StartHasArguments>();
    }
    // CALL start: its operand is patched when the body of start is placed.
    debug_recorder.no_line();
    start->call_sites.push_back(gen::jump_forward(CALL));
    // JUMP to the final NOP once start returns.
    Word end_jump = gen::jump_forward(JUMP);

    funcs->translate();

    gen::patch(end_jump, word_stream.position());
    gen::op(NOP);
    map_manager.close_scope(line);
    return 0;
}

int define_functions::declare() {
    if (!first) return bad_tree();
    first->declare();
    if (second) second->declare();
    return 0;
}

int define_functions::translate() {
    if (!first) return -1;
    first->translate();
    if (second) second->translate();
    return 0;
}

int define_function::declare() {
    if (!map_manager.declare_function(name, span)) {
        report_duplicate<error::FunctionAlreadyDefined>(map_manager.find_function(name)->declared, name);
        duplicate = true;
        return -1;
    }
    FunctionEntry& entry = *map_manager.find_function(name);
    entry.result = result;
    if (map_manager.names.enabled) {
        NamedEntity e;
        e.kind = NamedEntity::Kind::Function;
        e.name = name;
        e.type = result;
        e.declared = span;
        e.extent = extent;
        entry.entity = map_manager.names.declare(std::move(e));
    }
    c_text.append(type_name(result)).append(" ").append(name).append("(");
    if (params) params->signature(entry);
    c_text.append(");\n");
    return 0;
}

int define_function::translate() {
    if (duplicate) return -1;
    map_manager.current_scope = name;
    FunctionEntry& entry = *map_manager.find_function(name);
    entry.address = word_stream.position();
    debug_recorder.function_header(extent.line);
    // Calls translated before this body was placed wait for its address.
    for (Word site : entry.call_sites) gen::patch(site, entry.address);

    c_text.append("\n").append(type_name(result)).append(" ").append(name).append("(");
    if (params) params->translate();
    c_text.append(") {\n");
    if (c_text.enabled) ++c_text.depth;

    entry.nesting_depth = 0;
    gen::push(BP);
    gen::op(LD_R, BP, SP);
    debug_recorder.frame_ready();
    if (locals) locals->translate();
    if (body) body->translate();
    entry.nesting_depth = 0;

    if (c_text.enabled) {
        if (c_text.depth > 0) --c_text.depth;
        c_text.indent();
    }
    c_text.append("}\n");

    if (result == kVoid && !entry.returns_on_all_paths) {
        entry.returns_on_all_paths = true;
        gen::leave();
    }
    map_manager.close_scope(line);
    if (entry.returns_on_all_paths) return 0;
    return report<error::MissingReturnPath>(name);
}

int declare_parameters::signature(FunctionEntry& entry) {
    if (!list) return bad_tree();
    list->signature(entry);
    return 0;
}

int declare_parameters::translate() {
    if (!list) return -1;
    list->translate();
    return 0;
}

int declare_parameter::signature(FunctionEntry& entry) {
    if (left) {
        if (!right) return bad_tree();
        left->signature(entry);
        c_text.append(",");
        right->signature(entry);
        return 0;
    }
    if (type == kVoid) {
        return report<error::VoidVariable>();
    }
    c_text.append(type_name(type)).append(" ").append(name);
    entry.parameter_types.push_back(type);
    return 0;
}

int declare_parameter::translate() {
    if (left) {
        if (!right) return -1;
        left->translate();
        c_text.append(",");
        right->translate();
        return 0;
    }
    if (type == kVoid) return -1;  // reported by signature
    c_text.append(type_name(type)).append(" ").append(name);
    map_manager.declaring_locals = false;
    if (!map_manager.declare_variable(name, 1, span)) {
        // A duplicate parameter (or one named like a live global) is listed
        // like every other duplicate name; compilation goes on.
        return duplicate(name);
    }
    VariableEntry& v = *map_manager.find_variable(name);
    v.type = type;
    v.is_const = is_const;
    if (map_manager.names.enabled) {
        NamedEntity e;
        e.kind = NamedEntity::Kind::Parameter;
        e.name = name;
        e.scope = map_manager.current_scope;
        e.type = type;
        e.is_const = is_const;
        e.declared = span;
        v.entity = map_manager.names.declare(std::move(e));
        const int function = map_manager.current().entity;
        if (function >= 0) map_manager.names.entities[static_cast<std::size_t>(function)].parameters.push_back(v.entity);
    }
    return 0;
}
