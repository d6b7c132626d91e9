// Calls, call arguments and return: the caller's side of the calling
// convention (see program.cpp for the callee's side).
#include "diagnostics.h"
#include "emit.h"
#include "image.h"
#include "node.h"
#include "recorder.h"
#include "streams.h"
#include "symbols.h"

using namespace image;

// The C text lists the arguments in source order, while the words must
// push the last argument first, so the argument list is translated twice:
// first for the C text, the diagnostics and the argument types (words
// off), then for the words only (C text and diagnostics off).
//
// The call decides itself which of the two translations is running (the
// `collect` flag) instead of looking at the C text switch: a call nested in
// another call's arguments, or in the step of a for loop, is translated
// while the C text is already off, and must still check its arguments and
// emit its complete call sequence exactly once.
int func_call::translate() {
    FunctionEntry* f = map_manager.find_function(name);
    if (!f) {
        return report<error::FunctionNotDefined>(name);
    }
    map_manager.names.use(span, f->entity);
    type = f->result;
    c_text.append(name).append("(");
    std::vector<ValueType> types;
    if (args) {
        const bool words_on = word_stream.enabled;
        {
            gen::Switch words_off(word_stream.enabled, false);
            args->translate_arguments(types, true);
        }
        // With the word stream already off (inside another call's first
        // translation), the words-only translation would change nothing;
        // skipping it keeps nested calls from costing 2^depth translations.
        if (words_on) {
            gen::Switch text_off(c_text.enabled, false), diagnostics_off(diagnostics.enabled, false);
            std::vector<ValueType> ignored;
            args->translate_arguments(ignored, false);
        }
    }
    c_text.append(")");
    if (types != f->parameter_types) {
        return report<error::ArgumentMismatch>();
    }
    // A callee whose body comes later gets its address patched in; the
    // site is recorded only where the CALL word is really emitted.
    if (f->address == 0 && word_stream.enabled)
        f->call_sites.push_back(static_cast<Word>(word_stream.position() + 1));
    debug_recorder.expression(line);
    gen::jump(CALL, f->address);
    // Drop the pushed arguments.
    gen::ldi(GR1, static_cast<Word>(f->parameter_types.size()));
    gen::op(ADD_R, SP, GR1);
    return 0;
}

int actual_parameter::translate_arguments(std::vector<ValueType>& types, bool collect) {
    if (arg) {
        arg->translate();
        type = arg->type;
        if (collect) types.push_back(type);
        return 0;
    }
    if (!left || !right) return bad_tree();
    if (collect) {
        left->translate_arguments(types, collect);
        c_text.append(",");
        right->translate_arguments(types, collect);
    } else {
        right->translate_arguments(types, collect);
        left->translate_arguments(types, collect);
    }
    return 0;
}

int func_call_statement::translate() {
    if (!call) return bad_tree();
    call->translate();  // a returned value is simply left in GR0
    c_text.append(";\n");
    return 0;
}

int return_statement::translate() {
    FunctionEntry& f = *map_manager.find_function(map_manager.current_scope);
    if (!value) {
        if (f.result != kVoid) {
            return report<error::MissingReturnValue>();
        }
        c_text.append("return ").append(";\n");
        gen::leave();
        return 0;
    }
    // Only a return outside every branch and loop body makes the whole
    // body return a value.
    if (f.nesting_depth == 0) f.returns_on_all_paths = true;
    c_text.append("return ");
    value->translate();
    gen::pop(GR0);
    gen::leave();
    if (f.result != value->type) {
        return report<error::ReturnTypeMismatch>();
    }
    c_text.append(";\n");
    return 0;
}
